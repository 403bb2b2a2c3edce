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

private:
    [[nodiscard]] QString file(const QString &name) const { return mFolder->filePath(name); }
    [[nodiscard]] QString storePath() const
    {
        return mFolder->filePath(QStringLiteral("m.sqlite"));
    }
    void clearNow(ChangeMarkerStore &store, const QString &path);

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

void TestChangeMarkerStore::clearingSurvivesReopening()
{
    const QString path = file(QStringLiteral("a.html"));
    WriteSiteFile(mFolder->path(), QStringLiteral("a.html"), "abc");
    {
        ChangeMarkerStore store(storePath());
        clearNow(store, path);
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

    ChangeMarkerStore store(storePath());
    QVERIFY(store.isPersistent());
    QVERIFY(!store.setAsidePath().isEmpty());
    QVERIFY(QFileInfo::exists(store.setAsidePath()) || QFileInfo(store.setAsidePath()).isSymLink());
    // Started afresh: everything counts as changed, and markers can be cleared again.
    const auto identity = ChangeMarkerStore::readIdentity(path);
    QVERIFY(store.isMarked(path, *identity));
    clearNow(store, path);
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

QTEST_GUILESS_MAIN(TestChangeMarkerStore)
#include "tst_changemarkerstore.moc"
