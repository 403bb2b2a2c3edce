#include "changemarkerstore.h"
#include "sitetree.h"
#include "userfolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <memory>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// What a program that writes the site may do to a file after it was uploaded.
enum class Change {
    None,
    WriteSameSize,
    WriteOtherSize,
    RenameOver,
    WriteAndRestoreTime,
    Truncate
};

} // namespace

Q_DECLARE_METATYPE(Change)

class TestChangeMarkerStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void newFileIsMarked();
    void changesMarkAgain_data();
    void changesMarkAgain();
    void clearingSurvivesReopening_data();
    void clearingSurvivesReopening();
    void writeDuringTransferKeepsMark();
    void rewriteWithinTheSameTickKeepsMark();
    void unsettledIdentityIsNeverStored();
    void markChangedMarksAgain();
    void pathsAreNormalised();
    void damagedStoreIsSetAside_data();
    void damagedStoreIsSetAside();
    void unusableFolderFallsBackToMemory();
    void defaultPathIsInStateFolder();
    void missingFileHasNoIdentity();
    void destinationsAreKeptApart();
    void forgettingReachesEveryDestination();
    void unassignedRowsOfAnEarlierStore_data();
    void unassignedRowsOfAnEarlierStore();
    void pendingUploadsOutliveTheProgram_data();
    void pendingUploadsOutliveTheProgram();

private:
    [[nodiscard]] QString file(const QString &name) const { return mFolder->filePath(name); }
    [[nodiscard]] QString storePath() const
    {
        return mFolder->filePath(QStringLiteral("m.sqlite"));
    }
    void clearNow(ChangeMarkerStore &store, const QString &path);
    // Writes the store as an earlier version left it: sql with %1 the path of file and %2 to %5
    // its identity.
    void writeEarlierStore(const QString &sql, const QString &path, const FileIdentity &identity);

    std::unique_ptr<IsolatedUserFolders> mUserFolders;
    std::unique_ptr<QTemporaryDir> mFolder;
};

void TestChangeMarkerStore::init()
{
    mUserFolders = std::make_unique<IsolatedUserFolders>();
    mFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(mFolder->isValid());
}

void TestChangeMarkerStore::cleanup()
{
    mFolder.reset();
    mUserFolders.reset();
}

// An upload that was confirmed: the identity read before it is stored.
void TestChangeMarkerStore::clearNow(ChangeMarkerStore &store, const QString &path)
{
    const std::optional<FileIdentity> identity = SettledIdentity(path);
    QVERIFY(identity);
    store.clearMarker(path, *identity);
    QVERIFY(!store.isMarked(path, *identity));
}

void TestChangeMarkerStore::writeEarlierStore(const QString &sql, const QString &path,
                                              const FileIdentity &identity)
{
    sqlite3 *raw = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(storePath()).constData(), &raw), SQLITE_OK);
    const QByteArray statements = QString(sql)
                                      .arg(QDir::cleanPath(path))
                                      .arg(identity.size)
                                      .arg(identity.modifiedNs)
                                      .arg(identity.changedNs)
                                      .arg(qint64(identity.inode))
                                      .toUtf8();
    QCOMPARE(sqlite3_exec(raw, statements.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);
}

void TestChangeMarkerStore::newFileIsMarked()
{
    WriteSiteFile(mFolder->path(), QStringLiteral("a.html"), "abc");
    ChangeMarkerStore store(storePath());
    QVERIFY(store.isPersistent());
    const auto identity = SettledIdentity(file(QStringLiteral("a.html")));
    QVERIFY(identity);
    QVERIFY(store.isMarked(file(QStringLiteral("a.html")), *identity));
}

void TestChangeMarkerStore::changesMarkAgain_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("marked");

    QTest::newRow("untouched") << Change::None << false;
    QTest::newRow("write-same-size") << Change::WriteSameSize << true;
    QTest::newRow("write-other-size") << Change::WriteOtherSize << true;
    QTest::newRow("rename-over") << Change::RenameOver << true;
    QTest::newRow("write-then-restore-time") << Change::WriteAndRestoreTime << true;
    QTest::newRow("size-changed") << Change::Truncate << true;
}

void TestChangeMarkerStore::changesMarkAgain()
{
    QFETCH(Change, change);
    QFETCH(bool, marked);

    const QString path = file(QStringLiteral("page.html"));
    WriteSiteFile(mFolder->path(), QStringLiteral("page.html"), "version 1");
    ChangeMarkerStore store(storePath());
    clearNow(store, path);
    const auto uploaded = ChangeMarkerStore::readIdentity(path);
    QVERIFY(uploaded);

    switch (change) {
    case Change::None:
        break;
    case Change::WriteSameSize:
        WriteSiteFile(mFolder->path(), QStringLiteral("page.html"), "version 2");
        break;
    case Change::WriteOtherSize:
        WriteSiteFile(mFolder->path(), QStringLiteral("page.html"), "version 10");
        break;
    case Change::RenameOver:
        WriteSiteFile(mFolder->path(), QStringLiteral("next.html"), "version 1");
        QCOMPARE(::rename(QFile::encodeName(file(QStringLiteral("next.html"))).constData(),
                          QFile::encodeName(path).constData()),
                 0);
        break;
    case Change::WriteAndRestoreTime: {
        // As "touch -d" or a copy that keeps times would leave it: new content, old time.
        WriteSiteFile(mFolder->path(), QStringLiteral("page.html"), "version 2");
        const timespec times[2] = {{0, UTIME_OMIT},
                                   {static_cast<time_t>(uploaded->modifiedNs / 1'000'000'000),
                                    static_cast<long>(uploaded->modifiedNs % 1'000'000'000)}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
        QCOMPARE(ChangeMarkerStore::readIdentity(path)->modifiedNs, uploaded->modifiedNs);
        break;
    }
    case Change::Truncate:
        QVERIFY(QFile::resize(path, 3));
        break;
    }

    // Only an identity that can be trusted says anything; an unsettled one is marked anyway.
    const auto now = SettledIdentity(path);
    QVERIFY(now);
    QCOMPARE(store.isMarked(path, *now), marked);
}

void TestChangeMarkerStore::clearingSurvivesReopening_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("each commit on its own") << 0;
    QTest::newRow("held, then let go") << 1;
    QTest::newRow("held, then another change") << 2;
    QTest::newRow("held, for its time at most") << 3;
}

// A cleared marker is on the disk (in the write-ahead log) before the store closes: at once, or,
// while commits are held, when holding ends, before the next change of another kind, or after
// the time limit.
void TestChangeMarkerStore::clearingSurvivesReopening()
{
    QFETCH(int, how);
    const QString path = file(QStringLiteral("a.html"));
    WriteSiteFile(mFolder->path(), QStringLiteral("a.html"), "abc");
    const QFileInfo log(storePath() + QStringLiteral("-wal"));
    {
        ChangeMarkerStore store(storePath());
        const qint64 logged = QFileInfo(log.filePath()).size();
        store.holdCommits(how != 0);
        clearNow(store, path);
        if (how == 1)
            store.holdCommits(false);
        if (how == 2)
            store.markChanged(file(QStringLiteral("b.html")));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(log.filePath()).size() > logged, 10000);
    }
    ChangeMarkerStore reopened(storePath());
    QVERIFY(reopened.setAsidePath().isEmpty());
    QVERIFY(!reopened.isMarked(path, *ChangeMarkerStore::readIdentity(path)));
}

// The upload reads the identity before the transfer and stores it after the server confirmed. A
// write in between must not be covered by that confirmation.
void TestChangeMarkerStore::writeDuringTransferKeepsMark()
{
    const QString path = file(QStringLiteral("a.html"));
    WriteSiteFile(mFolder->path(), QStringLiteral("a.html"), "abc");
    ChangeMarkerStore store(storePath());
    const auto beforeTransfer = SettledIdentity(path);
    QVERIFY(beforeTransfer);

    WriteSiteFile(mFolder->path(), QStringLiteral("a.html"), "xyz");
    store.clearMarker(path, *beforeTransfer);

    const auto now = SettledIdentity(path);
    QVERIFY(now);
    QVERIFY(store.isMarked(path, *now));
}

// The site builder writes a page, the upload starts at once and the builder writes the page again,
// all within one tick of the file-time clock: the second write may leave size and times as they
// were, and only the unsettled identity keeps the page from counting as uploaded.
void TestChangeMarkerStore::rewriteWithinTheSameTickKeepsMark()
{
    const QString path = file(QStringLiteral("a.html"));
    ChangeMarkerStore store(storePath());
    WriteSiteFile(mFolder->path(), QStringLiteral("a.html"), "abc");
    const auto beforeTransfer = ChangeMarkerStore::readIdentity(path);
    QVERIFY(beforeTransfer);
    WriteSiteFile(mFolder->path(), QStringLiteral("a.html"), "xyz");
    store.clearMarker(path, *beforeTransfer);

    const auto now = SettledIdentity(path);
    QVERIFY(now);
    QVERIFY(store.isMarked(path, *now));
}

// A file changed within the current clock tick can change again without its identity changing;
// clearing with such an identity must leave the file marked.
void TestChangeMarkerStore::unsettledIdentityIsNeverStored()
{
    const QString path = file(QStringLiteral("a.html"));
    WriteSiteFile(mFolder->path(), QStringLiteral("a.html"), "abc");
    ChangeMarkerStore store(storePath());
    const auto settled = SettledIdentity(path);
    QVERIFY(settled);
    FileIdentity unsettled = *settled;
    unsettled.changedNs = ChangeMarkerStore::kUnsettledChangeTime;

    store.clearMarker(path, unsettled);
    QVERIFY(store.isMarked(path, *settled));
    QVERIFY(store.isMarked(path, unsettled));

    // It also drops an earlier upload's record rather than leaving it in force.
    store.clearMarker(path, *settled);
    store.clearMarker(path, unsettled);
    QVERIFY(store.isMarked(path, *settled));
}

void TestChangeMarkerStore::markChangedMarksAgain()
{
    const QString path = file(QStringLiteral("a.html"));
    WriteSiteFile(mFolder->path(), QStringLiteral("a.html"), "abc");
    ChangeMarkerStore store(storePath());
    clearNow(store, path);
    store.markChanged(path);
    QVERIFY(store.isMarked(path, *ChangeMarkerStore::readIdentity(path)));
}

void TestChangeMarkerStore::pathsAreNormalised()
{
    WriteSiteFile(mFolder->path(), QStringLiteral("sub/a.html"), "abc");
    const QString plain = file(QStringLiteral("sub/a.html"));
    const QString roundabout = mFolder->path() + QStringLiteral("/sub/./../sub//a.html");
    ChangeMarkerStore store(storePath());
    const auto identity = SettledIdentity(plain);
    QVERIFY(identity);
    store.clearMarker(roundabout, *identity);
    QVERIFY(!store.isMarked(plain, *identity));
}

void TestChangeMarkerStore::damagedStoreIsSetAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("isLink");

    QTest::newRow("not-a-database") << QByteArray(4096, 'x') << false;
    QTest::newRow("empty-header") << QByteArray("SQLite format 3") + QByteArray(100, '\0') << false;
    QTest::newRow("link-at-its-name") << QByteArray() << true;
}

void TestChangeMarkerStore::damagedStoreIsSetAside()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, isLink);

    const QString path = file(QStringLiteral("a.html"));
    WriteSiteFile(mFolder->path(), QStringLiteral("a.html"), "abc");
    {
        ChangeMarkerStore store(storePath());
        clearNow(store, path);
    }
    if (isLink) {
        QVERIFY(QFile::rename(storePath(), file(QStringLiteral("real.sqlite"))));
        QVERIFY(QFile::link(file(QStringLiteral("real.sqlite")), storePath()));
    } else {
        QFile damaged(storePath());
        QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
        damaged.write(content);
    }

    const auto identity = ChangeMarkerStore::readIdentity(path);
    {
        ChangeMarkerStore store(storePath());
        QVERIFY(store.isPersistent());
        QVERIFY(!store.setAsidePath().isEmpty());
        QVERIFY(QFileInfo::exists(store.setAsidePath()) ||
                QFileInfo(store.setAsidePath()).isSymLink());
        // Started afresh: everything counts as changed, and markers can be cleared again.
        QVERIFY(store.isMarked(path, *identity));
        clearNow(store, path);
    }
    // The store is one process's while it is open; the next run finds what it left.
    ChangeMarkerStore reopened(storePath());
    QVERIFY(reopened.setAsidePath().isEmpty());
    QVERIFY(!reopened.isMarked(path, *identity));
}

void TestChangeMarkerStore::unusableFolderFallsBackToMemory()
{
    const QString path = file(QStringLiteral("a.html"));
    WriteSiteFile(mFolder->path(), QStringLiteral("a.html"), "abc");
    ChangeMarkerStore store(file(QStringLiteral("missing-folder/m.sqlite")));
    QVERIFY(!store.isPersistent());
    const auto identity = SettledIdentity(path);
    QVERIFY(identity);
    QVERIFY(store.isMarked(path, *identity));
    store.clearMarker(path, *identity);
    QVERIFY(!store.isMarked(path, *identity));
}

void TestChangeMarkerStore::defaultPathIsInStateFolder()
{
    QCOMPARE(ChangeMarkerStore::defaultPath(),
             mUserFolders->stateHome() + QStringLiteral("/vellumix/parcelup/markers.sqlite"));
}

void TestChangeMarkerStore::missingFileHasNoIdentity()
{
    QVERIFY(!ChangeMarkerStore::readIdentity(file(QStringLiteral("nothing.html"))));
}

void TestChangeMarkerStore::destinationsAreKeptApart()
{
    const QString path = file(QStringLiteral("a.html"));
    WriteSiteFile(mFolder->path(), QStringLiteral("a.html"), "abc");
    const auto identity = SettledIdentity(path);
    QVERIFY(identity);
    const QString serverA = QStringLiteral("ftp.a.example\nweb1\n/htdocs");
    const QString serverB = QStringLiteral("ftp.b.example\nweb1\n/htdocs");
    const QString otherFolder = QStringLiteral("ftp.a.example\nweb1\n/neu");
    {
        ChangeMarkerStore store(storePath());
        store.setDestination(serverA);
        store.clearMarker(path, *identity);
        QVERIFY(!store.isMarked(path, *identity));
        // A server or a folder that has not seen the file gets it.
        store.setDestination(serverB);
        QVERIFY(store.isMarked(path, *identity));
        store.setDestination(otherFolder);
        QVERIFY(store.isMarked(path, *identity));
        store.clearMarker(path, *identity);
        // Marking the file changed for one destination leaves the other's knowledge alone.
        store.markChanged(path);
        store.setDestination(serverA);
        QVERIFY(!store.isMarked(path, *identity));
    }
    // Back to the first destination in a later run: its markers are still there.
    ChangeMarkerStore reopened(storePath());
    reopened.setDestination(serverA);
    QVERIFY(!reopened.isMarked(path, *identity));
    reopened.setDestination(serverB);
    QVERIFY(reopened.isMarked(path, *identity));
}

void TestChangeMarkerStore::forgettingReachesEveryDestination()
{
    WriteSiteFile(mFolder->path(), QStringLiteral("site/a.html"), "abc");
    WriteSiteFile(mFolder->path(), QStringLiteral("site/b.html"), "abc");
    WriteSiteFile(mFolder->path(), QStringLiteral("site-alt/a.html"), "abc");
    const QStringList paths{file(QStringLiteral("site/a.html")),
                            file(QStringLiteral("site/b.html")),
                            file(QStringLiteral("site-alt/a.html"))};
    {
        ChangeMarkerStore store(storePath());
        for (const QString &destination : {QStringLiteral("a"), QStringLiteral("b")}) {
            store.setDestination(destination);
            for (const QString &path : paths)
                clearNow(store, path);
        }
        // b.html left the site: it is forgotten everywhere; a.html is still there, and a folder
        // whose name only begins like the site's is not the site.
        store.forgetAllBut(file(QStringLiteral("site")), {paths.at(0)});
    }
    ChangeMarkerStore reopened(storePath());
    for (const QString &destination : {QStringLiteral("a"), QStringLiteral("b")}) {
        reopened.setDestination(destination);
        QVERIFY(!reopened.isMarked(paths.at(0), *ChangeMarkerStore::readIdentity(paths.at(0))));
        QVERIFY(reopened.isMarked(paths.at(1), *ChangeMarkerStore::readIdentity(paths.at(1))));
        QVERIFY(!reopened.isMarked(paths.at(2), *ChangeMarkerStore::readIdentity(paths.at(2))));
    }
}

void TestChangeMarkerStore::unassignedRowsOfAnEarlierStore_data()
{
    QTest::addColumn<bool>("adopt");
    QTest::addColumn<bool>("preview");
    QTest::newRow("adopted-by-their-destination") << true << false;
    QTest::newRow("discarded") << false << false;
    // A preview answers as the run that adopts them would, from a store it does not change.
    QTest::newRow("read-by-a-preview") << true << true;
}

void TestChangeMarkerStore::unassignedRowsOfAnEarlierStore()
{
    QFETCH(bool, adopt);
    QFETCH(bool, preview);
    const QString path = file(QStringLiteral("a.html"));
    WriteSiteFile(mFolder->path(), QStringLiteral("a.html"), "abc");
    const auto identity = SettledIdentity(path);
    QVERIFY(identity);
    // A store as the version without destinations wrote it.
    writeEarlierStore(QStringLiteral("PRAGMA journal_mode=WAL; CREATE TABLE markers (path TEXT "
                                     "PRIMARY KEY NOT NULL, size INTEGER NOT NULL, modified_ns "
                                     "INTEGER NOT NULL, changed_ns INTEGER NOT NULL, inode INTEGER "
                                     "NOT NULL) WITHOUT ROWID; INSERT INTO markers VALUES ('%1', "
                                     "%2, %3, %4, %5);"),
                      path, *identity);
    if (preview) {
        ChangeMarkerStore store(storePath(), ChangeMarkerStore::Access::ReadOnly);
        store.setDestination(QStringLiteral("here"));
        store.consultUnassigned(true);
        QVERIFY(!store.isMarked(path, *identity));
        return;
    }
    {
        ChangeMarkerStore store(storePath());
        QVERIFY(store.setAsidePath().isEmpty());
        QVERIFY(store.hasUnassigned());
        store.setDestination(QStringLiteral("here"));
        // Until a run decides, the rows belong to no destination.
        QVERIFY(store.isMarked(path, *identity));
        if (adopt)
            store.adoptUnassigned();
        else
            store.discardUnassigned();
        QVERIFY(!store.hasUnassigned());
    }
    ChangeMarkerStore reopened(storePath());
    QVERIFY(!reopened.hasUnassigned());
    reopened.setDestination(QStringLiteral("here"));
    QCOMPARE(reopened.isMarked(path, *identity), !adopt);
    reopened.setDestination(QStringLiteral("elsewhere"));
    QVERIFY(reopened.isMarked(path, *identity));
}

void TestChangeMarkerStore::pendingUploadsOutliveTheProgram_data()
{
    QTest::addColumn<bool>("earlierStore");
    QTest::newRow("fresh-store") << false;
    // A store of the version with digests, without the tables of uploads under way: its markers
    // stay, and it takes notes from now on.
    QTest::newRow("store-of-the-version-before") << true;
}

void TestChangeMarkerStore::pendingUploadsOutliveTheProgram()
{
    QFETCH(bool, earlierStore);
    const QString path = file(QStringLiteral("film.bin"));
    WriteSiteFile(mFolder->path(), QStringLiteral("film.bin"), "abc");
    const auto identity = SettledIdentity(path);
    QVERIFY(identity);
    if (earlierStore)
        writeEarlierStore(
            QStringLiteral("PRAGMA journal_mode=WAL; CREATE TABLE published (destination TEXT NOT "
                           "NULL, path TEXT NOT NULL, size INTEGER NOT NULL, modified_ns INTEGER "
                           "NOT NULL, changed_ns INTEGER NOT NULL, inode INTEGER NOT NULL, digest "
                           "BLOB, PRIMARY KEY (destination, path)) WITHOUT ROWID; INSERT INTO "
                           "published VALUES ('here', '%1', %2, %3, %4, %5, NULL);"),
            path, *identity);
    const PendingUpload pending{QStringLiteral("/htdocs/bilder"),
                                QStringLiteral(".parcelup-0123456789abcdef"), *identity};
    {
        ChangeMarkerStore store(storePath());
        QVERIFY(store.setAsidePath().isEmpty());
        store.setDestination(QStringLiteral("here"));
        QCOMPARE(store.isMarked(path, *identity), !earlierStore);
        QVERIFY(store.recordPending(path, pending));
        QVERIFY(!store.uploadsDirectly());
        store.rememberDirectUploads();
    } // as a killed program leaves it: the note is on the disk
    ChangeMarkerStore reopened(storePath());
    reopened.setDestination(QStringLiteral("elsewhere"));
    QVERIFY(!reopened.pendingUpload(path) && reopened.pendingUploads().isEmpty());
    QVERIFY(!reopened.uploadsDirectly());
    reopened.setDestination(QStringLiteral("here"));
    QVERIFY(reopened.uploadsDirectly());
    const std::optional<PendingUpload> found = reopened.pendingUpload(path);
    QVERIFY(found && found->folder == pending.folder && found->storedName == pending.storedName &&
            found->identity == *identity);
    QCOMPARE(reopened.pendingUploads().size(), 1);
    QCOMPARE(reopened.pendingUploads().first().first, QDir::cleanPath(path));
    // Put in place: the marker and the end of the note in one commit.
    reopened.clearMarker(path, *identity);
    QVERIFY(!reopened.pendingUpload(path));
    QVERIFY(!reopened.isMarked(path, *identity));
}

QTEST_GUILESS_MAIN(TestChangeMarkerStore)
#include "tst_changemarkerstore.moc"
