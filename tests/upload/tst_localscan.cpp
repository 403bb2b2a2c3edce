#include "changemarkerstore.h"
#include "localfolder.h"
#include "pathhelpers.h"
#include "programerror.h"
#include "sessionaccess.h"
#include "sitetree.h"
#include "stringtable.h"
#include "userfolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <unistd.h>

using Access = classUploadTestAccess;

class TestLocalScan : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void treeGivesLogAndUploads_data();
    void treeGivesLogAndUploads();
    void namesNotInUtf8AreReported_data();
    void namesNotInUtf8AreReported();
    void listingReportsTheBytesOnDisk();
    void reportedOnceAndOnlyByTheUploadWalk();
    void resultNamesTheFirstFew_data();
    void resultNamesTheFirstFew();
    void exampleSiteLineByLine();
    void oneWalkGivesWhatTheSeparateStepsGive_data();
    void oneWalkGivesWhatTheSeparateStepsGive();
    void namesDifferingOnlyInCase();
    void filesOfTwoGibibytesAndMore();
    void subfolderNamedInLowerCase();
    void differentialModeQueuesOnlyMarkedFiles();
    void logReplacesEarlierFile();
    void logReplacesPlantedLink();
    void logReplacesPlantedPipe();
    void unreadableEntriesEndTheRun_data();
    void unreadableEntriesEndTheRun();
    void unreadableWithoutPermission();

private:
    void scanSite(bool differential = false);
    [[nodiscard]] QString site() const { return mSite->path(); }
    [[nodiscard]] QString logPath() const { return site() + QStringLiteral("/vellumixftplog.log"); }
    static QStringList uploadPaths();
    // The upload list with every field of each entry, and the log file as it is on disk.
    [[nodiscard]] QStringList uploadEntries() const;
    [[nodiscard]] QByteArray logOnDisk() const;
    void remakeSite(const QList<QByteArray> &tree);

    std::unique_ptr<IsolatedUserFolders> mUserFolders;
    std::unique_ptr<QTemporaryDir> mSite;
};

void TestLocalScan::init()
{
    mUserFolders = std::make_unique<IsolatedUserFolders>();
    mSite = std::make_unique<QTemporaryDir>();
    QVERIFY(mSite->isValid());
    Access::fresh();
    Access::session().LocalBaseDir(site());
}

void TestLocalScan::cleanup()
{
    Access::fresh();
    // By their bytes: QTemporaryDir cannot remove names that are not UTF-8.
    std::error_code ignored;
    std::filesystem::remove_all(QFile::encodeName(site()).toStdString(), ignored);
    mSite.reset();
    mUserFolders.reset();
}

// The three steps of a run that read the site, in the run's order.
void TestLocalScan::scanSite(bool differential)
{
    Access::session().FTPDifferentialMode(differential);
    classUpload &session = Access::session();
    session.BuildFileLog(QStringLiteral("\\"));
    session.WriteFileLog();
    session.ScanLocalSubDir(QStringLiteral("\\"));
}

QStringList TestLocalScan::uploadPaths()
{
    QStringList paths;
    const QList<UploadItem> items = Access::state().uploadList;
    for (const UploadItem &item : items)
        paths << item.Path;
    return paths;
}

QStringList TestLocalScan::uploadEntries() const
{
    QStringList entries;
    const QList<UploadItem> items = Access::state().uploadList;
    for (const UploadItem &item : items)
        entries << QStringLiteral("%1|%2|%3|%4")
                       .arg(item.Path, item.LocalPath, item.NativePath, QString::number(item.Size));
    return entries;
}

QByteArray TestLocalScan::logOnDisk() const
{
    // Never opened when it is a pipe: that would wait for a writer.
    const QFileInfo info(logPath());
    QFile file(logPath());
    if (info.isSymLink() || !info.isFile() || !file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("(no readable file)");
    return file.readAll();
}

void TestLocalScan::remakeSite(const QList<QByteArray> &tree)
{
    std::error_code ignored;
    std::filesystem::remove_all(QFile::encodeName(site()).toStdString(), ignored);
    QVERIFY(QDir().mkpath(site()));
    MakeRawSiteTree(site(), tree);
}

void TestLocalScan::treeGivesLogAndUploads_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("uploads");
    // Entries left out for their names, as the run then names them.
    QTest::addColumn<QStringList>("unpublishable");

    QTest::newRow("empty-site") << QStringList{} << QStringList{"\\"}
                                << QStringList{"vellumixftplog.log"} << QStringList{};
    QTest::newRow("folders-holding-only-folders")
        << QStringList{"a/b/", "a/c/x.html", "d/"}
        << QStringList{"a\\b\\", "a\\c\\", "x.html", "a\\", "d\\", "\\"}
        << QStringList{"a\\c\\x.html", "vellumixftplog.log"} << QStringList{};
    QTest::newRow("hidden-files-and-folders")
        << QStringList{".htaccess", ".git/config", "sub/.secret", "sub/shown.html",
                       ".drafts/visible.html"}
        << QStringList{"sub\\", "shown.html", "\\"}
        << QStringList{"sub\\shown.html", "vellumixftplog.log"} << QStringList{};
    QTest::newRow("upload-log-in-any-case")
        << QStringList{"VellumixFtpLog.LOG=old", "sub/vellumixftplog.log=x", "sub/page.html"}
        << QStringList{"sub\\", "page.html", "\\"}
        << QStringList{"sub\\page.html", "sub\\vellumixftplog.log", "vellumixftplog.log",
                       "vellumixftplog.log"}
        << QStringList{};
    QTest::newRow("mixed-case-lowered")
        << QStringList{"Index.HTML", "Bilder/Logo.GIF"}
        << QStringList{"bilder\\", "logo.gif", "\\", "index.html"}
        << QStringList{"bilder\\logo.gif", "index.html", "vellumixftplog.log"} << QStringList{};
    QTest::newRow("umlauts-lowered")
        << QStringList{"Über.html", "ÄRGER/x.html"}
        << QStringList{"ärger\\", "x.html", "\\", "über.html"}
        << QStringList{"ärger\\x.html", "vellumixftplog.log", "über.html"} << QStringList{};
    QTest::newRow("order-by-lower-case-name")
        << QStringList{"b.html", "A.html", "_x.html", "a0.html", "Z/"}
        << QStringList{"z\\", "\\", "_x.html", "a.html", "a0.html", "b.html"}
        << QStringList{"_x.html", "a.html", "a0.html", "b.html", "vellumixftplog.log"}
        << QStringList{};
    QTest::newRow("link-loops-skipped")
        << QStringList{"sub/page.html", "sub/up->..", "sub/self->.", "sub/deeper/back->../.."}
        << QStringList{"sub\\deeper\\", "sub\\", "page.html", "\\"}
        << QStringList{"sub\\page.html", "vellumixftplog.log"} << QStringList{};
    QTest::newRow("link-to-sibling-followed")
        << QStringList{"shared/a.html", "sub/shared->../shared"}
        << QStringList{"shared\\", "a.html", "sub\\shared\\", "a.html", "sub\\", "\\"}
        << QStringList{"shared\\a.html", "sub\\shared\\a.html", "vellumixftplog.log"}
        << QStringList{};
    QTest::newRow("link-to-file-followed")
        << QStringList{"real.html=abc", "alias.html->real.html"}
        << QStringList{"\\", "alias.html", "real.html"}
        << QStringList{"alias.html", "real.html", "vellumixftplog.log"} << QStringList{};
    QTest::newRow("dangling-link-and-pipe-skipped")
        << QStringList{"gone.html->nowhere.html", "pipe|", "page.html"}
        << QStringList{"\\", "page.html"} << QStringList{"page.html", "vellumixftplog.log"}
        << QStringList{};
    QTest::newRow("unwritable-names-skipped")
        << QStringList{"back\\slash.html", "line\nfeed.html", "carriage\rreturn.html",
                       "folder\\name/inner.html", "ok.html"}
        << QStringList{"\\", "ok.html"} << QStringList{"ok.html", "vellumixftplog.log"}
        << QStringList{"back\\slash.html", "carriage\\rreturn.html", "folder\\name/",
                       "line\\nfeed.html"};
    // Links are followed for these names as for any other, and what they lead to decides.
    QTest::newRow("unwritable-names-of-links")
        << QStringList{"page.html",      "sub/x.html",        "back\\link.html->page.html",
                       "back\\dir->sub", "back\\loop->.",     "back\\nowhere->nowhere.html",
                       "back\\pipe|",    ".back\\hidden.html"}
        << QStringList{"sub\\", "x.html", "\\", "page.html"}
        << QStringList{"sub\\x.html", "page.html", "vellumixftplog.log"}
        << QStringList{"back\\dir/", "back\\link.html"};
}

void TestLocalScan::treeGivesLogAndUploads()
{
    QFETCH(QStringList, tree);
    QFETCH(QStringList, log);
    QFETCH(QStringList, uploads);
    QFETCH(QStringList, unpublishable);

    MakeSiteTree(site(), tree);
    scanSite();

    QCOMPARE(Access::state().logList, log);
    QCOMPARE(Access::state().logCount, log.size());
    QCOMPARE(uploadPaths(), uploads);
    QCOMPARE(Access::state().uploadCount, uploads.size());
    QCOMPARE(Access::state().unpublishable, unpublishable);
}

void TestLocalScan::namesNotInUtf8AreReported_data()
{
    QTest::addColumn<QList<QByteArray>>("tree");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("uploads");
    QTest::addColumn<QStringList>("unpublishable");

    // "caf\xE9.html" is "café.html" as Latin-1 writes it.
    QTest::newRow("file-next-to-index")
        << QList<QByteArray>{"index.html", "caf\xE9.html"} << QStringList{"\\", "index.html"}
        << QStringList{"index.html", "vellumixftplog.log"} << QStringList{"caf\\xE9.html"};
    QTest::newRow("file-in-subfolder-with-real-case")
        << QList<QByteArray>{"Bilder/ok.gif", "Bilder/gr\xFC\xDF"
                                              "e.gif"}
        << QStringList{"bilder\\", "ok.gif", "\\"}
        << QStringList{"bilder\\ok.gif", "vellumixftplog.log"}
        << QStringList{"Bilder/gr\\xFC\\xDFe.gif"};
    QTest::newRow("folder-reported-once-with-nothing-below")
        << QList<QByteArray>{"alt\xE9/a.html", "alt\xE9/tief/b.html", "alt\xE9/caf\xE9.html",
                             "ok.html"}
        << QStringList{"\\", "ok.html"} << QStringList{"ok.html", "vellumixftplog.log"}
        << QStringList{"alt\\xE9/"};
    // A name with lossy conversion would not open the link again, and it would be skipped as
    // leading nowhere.
    QTest::newRow("links-examined-by-their-bytes")
        << QList<QByteArray>{"ziel.html", "sub/x.html", "verweis\xE9.html->ziel.html",
                             "ordner\xE9->sub"}
        << QStringList{"sub\\", "x.html", "\\", "ziel.html"}
        << QStringList{"sub\\x.html", "vellumixftplog.log", "ziel.html"}
        << QStringList{"ordner\\xE9/", "verweis\\xE9.html"};
    QTest::newRow("hidden-looping-and-special-stay-silent")
        << QList<QByteArray>{".vers\xE9.html",
                             ".ordner/caf\xE9.html",
                             "pipe\xE9|",
                             "weg\xE9->nirgends.html",
                             "sub/zur\xFC"
                             "ck->..",
                             "ok.html"}
        << QStringList{"sub\\", "\\", "ok.html"} << QStringList{"ok.html", "vellumixftplog.log"}
        << QStringList{};
    // Each folder's subfolders first, then its own entries in name order: the site folder's last.
    QTest::newRow("walk-order") << QList<QByteArray>{"z\xE9.html", "b\xE9/", "a\\b.html",
                                                     "a/caf\xE9.html", "a/ok.html"}
                                << QStringList{"a\\", "ok.html", "\\"}
                                << QStringList{"a\\ok.html", "vellumixftplog.log"}
                                << QStringList{"a/caf\\xE9.html", "a\\b.html", "b\\xE9/",
                                               "z\\xE9.html"};
    QTest::newRow("same-file-through-two-folders")
        << QList<QByteArray>{"shared/caf\xE9.html", "sub/shared->../shared"}
        << QStringList{"shared\\", "sub\\shared\\", "sub\\", "\\"}
        << QStringList{"vellumixftplog.log"}
        << QStringList{"shared/caf\\xE9.html", "sub/shared/caf\\xE9.html"};
}

void TestLocalScan::namesNotInUtf8AreReported()
{
    QFETCH(QList<QByteArray>, tree);
    QFETCH(QStringList, log);
    QFETCH(QStringList, uploads);
    QFETCH(QStringList, unpublishable);

    MakeRawSiteTree(site(), tree);
    scanSite();

    QCOMPARE(Access::state().logList, log);
    QCOMPARE(uploadPaths(), uploads);
    QCOMPARE(Access::state().unpublishable, unpublishable);
}

// The report carries the real bytes of each name, which open the entry again, and what it is.
void TestLocalScan::listingReportsTheBytesOnDisk()
{
    MakeRawSiteTree(site(), {"caf\xE9.html=abc", "Dir\xE9/", "ok.html", "a\\b\xE9.html"});
    QList<UnpublishableEntry> report;
    const QList<LocalFolderEntry> entries = ListLocalFolder(site(), &report);

    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.at(0).name, QStringLiteral("ok.html"));
    QCOMPARE(report.size(), 3);
    QCOMPARE(report.at(0).rawName, QByteArray("a\\b\xE9.html"));
    QCOMPARE(report.at(0).shownName, QStringLiteral("a\\b\\xE9.html"));
    QCOMPARE(report.at(1).rawName, QByteArray("caf\xE9.html"));
    QCOMPARE(report.at(1).shownName, QStringLiteral("caf\\xE9.html"));
    QVERIFY(!report.at(1).isFolder);
    QCOMPARE(report.at(2).rawName, QByteArray("Dir\xE9"));
    QVERIFY(report.at(2).isFolder);
    QVERIFY(report.at(2).id != LocalFolderId{});

    const int fd =
        ::open(QByteArray(QFile::encodeName(site()) + '/' + report.at(1).rawName).constData(),
               O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    char content[8] = {};
    const auto read = ::read(fd, content, sizeof content);
    ::close(fd);
    QCOMPARE(QByteArray(content, int(read)), QByteArray("abc"));

    // Without a report, the listing is the same.
    QCOMPARE(ListLocalFolder(site()).size(), 1);
}

void TestLocalScan::reportedOnceAndOnlyByTheUploadWalk()
{
    MakeRawSiteTree(site(), {"caf\xE9.html", "sub/m\xE4rz.html"});
    classUpload &session = Access::session();
    // The log's walk does not collect: only the upload list's walk decides what the run names.
    session.BuildFileLog(QStringLiteral("\\"));
    QVERIFY(Access::state().unpublishable.isEmpty());

    session.ScanLocalSubDir(QStringLiteral("\\"));
    session.ScanLocalSubDir(QStringLiteral("sub"));
    session.ScanLocalSubDir(QStringLiteral("\\"));
    QCOMPARE(Access::state().unpublishable, QStringList({"sub/m\\xE4rz.html", "caf\\xE9.html"}));
}

void TestLocalScan::resultNamesTheFirstFew_data()
{
    QTest::addColumn<QList<QByteArray>>("tree");
    QTest::addColumn<int>("errorId");
    QTest::addColumn<QString>("errorText");

    QTest::newRow("none") << QList<QByteArray>{"index.html"} << 0 << QString();
    QTest::newRow("one-file")
        << QList<QByteArray>{"index.html", "caf\xE9.html"} << 4030
        << "1 Datei wurde nicht veröffentlicht, weil ihr Name nicht übertragen werden kann: "
           "„caf\\xE9.html“.";
    QTest::newRow("one-folder")
        << QList<QByteArray>{"alt\\neu/index.html"} << 4500
        << "1 Ordner wurde nicht veröffentlicht, weil sein Name nicht übertragen werden kann: "
           "„alt\\neu/“.";
    QTest::newRow("two")
        << QList<QByteArray>{"a\xE9.html", "b\\c.html"} << 4031
        << "2 Dateien wurden nicht veröffentlicht, weil ihre Namen nicht übertragen werden "
           "können: „a\\xE9.html“, „b\\c.html“";
    QTest::newRow("more-than-three")
        << QList<QByteArray>{"a\xE9", "b\xE9", "c\xE9", "d\xE9", "e\xE9"} << 4031
        << "5 Dateien wurden nicht veröffentlicht, weil ihre Namen nicht übertragen werden "
           "können: „a\\xE9“, „b\\xE9“, „c\\xE9“, …";
    // A name that holds "%2" is not taken for the place of the names.
    QTest::newRow("placeholder-in-a-name")
        << QList<QByteArray>{"%2\xE9", "%1\xE9"} << 4031
        << "2 Dateien wurden nicht veröffentlicht, weil ihre Namen nicht übertragen werden "
           "können: „%1\\xE9“, „%2\\xE9“";
}

void TestLocalScan::resultNamesTheFirstFew()
{
    QFETCH(QList<QByteArray>, tree);
    QFETCH(int, errorId);
    QFETCH(QString, errorText);

    MakeRawSiteTree(site(), tree);
    scanSite();
    Access::recordUnpublishable();
    QCOMPARE(Access::state().errorId, errorId);
    QCOMPARE(Access::state().errorText, errorText);
    QCOMPARE(Access::state().aborted, errorId != 0);
}

void TestLocalScan::exampleSiteLineByLine()
{
    MakeSiteTree(site(), {"index.html=<html></html>", "style.css=body{}", "bilder/logo.gif=GIF89a",
                          "bilder/icons/pfeil.gif=", "bilder/icons/.thumbs"});
    scanSite();

    const QStringList log{"bilder\\icons\\", "pfeil.gif", "bilder\\", "logo.gif", "\\",
                          "index.html",      "style.css"};
    QCOMPARE(Access::state().logList, log);
    QCOMPARE(Access::state().logCount, 7);

    // Written as UTF-8 with CR LF after every line, the last one included.
    const QByteArray written = "bilder\\icons\\\r\npfeil.gif\r\nbilder\\\r\nlogo.gif\r\n\\\r\n"
                               "index.html\r\nstyle.css\r\n";
    QFile logFile(logPath());
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    QCOMPARE(logFile.readAll(), written);

    const QList<std::pair<QString, qint64>> uploads{{"bilder\\icons\\pfeil.gif", 0},
                                                    {"bilder\\logo.gif", 6},
                                                    {"index.html", 13},
                                                    {"style.css", 6},
                                                    {"vellumixftplog.log", written.size()}};
    QCOMPARE(Access::state().uploadCount, uploads.size());
    double total = 0;
    for (qsizetype i = 0; i < uploads.size(); ++i) {
        QCOMPARE(Access::state().uploadList.at(i).Path, uploads.at(i).first);
        QCOMPARE(Access::state().uploadList.at(i).Size, uploads.at(i).second);
        total += static_cast<double>(uploads.at(i).second);
    }
    QCOMPARE(Access::state().totalBytes, total);
    // No temporary file of the log writer stays behind.
    QCOMPARE(QDir(site()).entryList(QDir::Files | QDir::Hidden),
             QStringList({"index.html", "style.css", "vellumixftplog.log"}));
}

// A run walks the site once for both lists and writes the log in between; what it gets must be
// exactly what the separate steps give one after the other, the log queued where a walk after its
// writing finds it, also when the walk before could not find it (the first run) or found something
// else in its place.
void TestLocalScan::oneWalkGivesWhatTheSeparateStepsGive_data()
{
    QTest::addColumn<QList<QByteArray>>("tree");
    QTest::addColumn<bool>("preview");

    QTest::newRow("first-run-empty-site") << QList<QByteArray>{} << false;
    QTest::newRow("first-run-log-among-near-names")
        << QList<QByteArray>{"a.html=1",  "vellumixftplog.lof=22", "vellumixftplog.log.bak=333",
                             "z.html",    "VellumixFtpLog.LOG=4",  "sub/x.html=55",
                             "Sub2/Y.css"}
        << false;
    QTest::newRow("first-run-only-subfolders") << QList<QByteArray>{"a/b/c.html=x", "d/"} << false;
    QTest::newRow("log-of-an-earlier-run")
        << QList<QByteArray>{"vellumixftplog.log=" + QByteArray(300, 'x'), "page.html=1"} << false;
    QTest::newRow("log-a-dangling-link")
        << QList<QByteArray>{"vellumixftplog.log->nowhere", "page.html"} << false;
    QTest::newRow("unpublishable-names")
        << QList<QByteArray>{"caf\xE9.html", "sub/a\\b.html", "sub/ok.html", "ok.html"} << false;
    QTest::newRow("preview-first-run") << QList<QByteArray>{"page.html=1", "sub/x.html"} << true;
    QTest::newRow("preview-keeps-the-old-log")
        << QList<QByteArray>{"vellumixftplog.log=old", "page.html"} << true;
}

void TestLocalScan::oneWalkGivesWhatTheSeparateStepsGive()
{
    QFETCH(QList<QByteArray>, tree);
    QFETCH(bool, preview);

    remakeSite(tree);
    Access::session().setPreviewOnly(preview);
    Access::buildLogAndUploadList();
    const SessionState oneWalk = Access::state();
    const QStringList oneWalkEntries = uploadEntries();
    const QByteArray oneWalkLog = logOnDisk();

    remakeSite(tree);
    Access::fresh();
    Access::session().LocalBaseDir(site());
    classUpload &session = Access::session();
    session.BuildFileLog(QStringLiteral("\\"));
    if (!preview)
        session.WriteFileLog();
    session.ScanLocalSubDir(QStringLiteral("\\"));

    QCOMPARE(oneWalk.logList, Access::state().logList);
    QCOMPARE(oneWalk.logCount, Access::state().logCount);
    QCOMPARE(oneWalkEntries, uploadEntries());
    QCOMPARE(oneWalk.uploadCount, Access::state().uploadCount);
    QCOMPARE(oneWalk.totalBytes, Access::state().totalBytes);
    QCOMPARE(oneWalk.unpublishable, Access::state().unpublishable);
    QCOMPARE(oneWalkLog, logOnDisk());
    // Each entry carries the path that opens it, the one the real names give below the site.
    for (const UploadItem &item : oneWalk.uploadList)
        QCOMPARE(item.NativePath, NativeLocalPath(site(), item.LocalPath));
    // The log is queued with the size it was written with.
    if (!preview)
        QVERIFY(
            oneWalkEntries.contains(QStringLiteral("vellumixftplog.log|vellumixftplog.log|%1|%2")
                                        .arg(logPath())
                                        .arg(oneWalkLog.size())));
}

// Both lists carry lower-case names, but each file is opened (and measured) by its real name, also
// when two local names differ only in case and so go to the same remote name, in a fixed order.
void TestLocalScan::namesDifferingOnlyInCase()
{
    MakeSiteTree(site(), {"A.html=abc", "a.html=abcde", "Bilder/x.gif=1", "bilder/y.gif=22"});
    scanSite();

    QCOMPARE(Access::state().logList,
             QStringList({"bilder\\", "x.gif", "bilder\\", "y.gif", "\\", "a.html", "a.html"}));
    const QList<UploadItem> items = Access::state().uploadList;
    QCOMPARE(items.size(), 5);
    const QStringList localPaths{"Bilder\\x.gif", "bilder\\y.gif", "A.html", "a.html"};
    const QList<qint64> sizes{1, 2, 3, 5};
    for (qsizetype i = 0; i < localPaths.size(); ++i) {
        QCOMPARE(items.at(i).LocalPath, localPaths.at(i));
        QCOMPARE(items.at(i).Size, sizes.at(i));
    }
    QCOMPARE(items.at(2).Path, QStringLiteral("a.html"));
    QCOMPARE(items.at(3).Path, QStringLiteral("a.html"));
}

void TestLocalScan::filesOfTwoGibibytesAndMore()
{
    // Sparse: takes no disk space, but reports its full length.
    const qint64 size = 3 * (qint64(1) << 30) + 7;
    QFile big(site() + QStringLiteral("/video.mp4"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(size));
    big.close();
    MakeSiteTree(site(), {"empty.html"});
    scanSite();

    const QList<UploadItem> items = Access::state().uploadList;
    QCOMPARE(uploadPaths(), QStringList({"empty.html", "vellumixftplog.log", "video.mp4"}));
    QCOMPARE(items.at(0).Size, 0);
    QCOMPARE(items.at(2).Size, size);
    QCOMPARE(Access::state().totalBytes,
             static_cast<double>(size) + static_cast<double>(items.at(1).Size));
}

void TestLocalScan::subfolderNamedInLowerCase()
{
    MakeSiteTree(site(), {"Bilder/Logo.gif", "Bilder/Icons/P.gif", "index.html"});
    classUpload &session = Access::session();
    session.BuildFileLog(QStringLiteral("bilder"));
    session.ScanLocalSubDir(QStringLiteral("bilder"));

    QCOMPARE(Access::state().logList,
             QStringList({"bilder\\icons\\", "p.gif", "bilder\\", "logo.gif"}));
    QCOMPARE(uploadPaths(), QStringList({"bilder\\icons\\p.gif", "bilder\\logo.gif"}));
    QCOMPARE(Access::state().uploadList.at(0).LocalPath, QStringLiteral("Bilder\\Icons\\P.gif"));
}

void TestLocalScan::differentialModeQueuesOnlyMarkedFiles()
{
    MakeSiteTree(site(),
                 {"uploaded.html=1", "new.html=2", "sub/uploaded.css=3", "sub/Changed.css=4"});
    ChangeMarkerStore &markers = Access::markers();
    for (const QString &name :
         QStringList{"uploaded.html", "sub/uploaded.css", "sub/Changed.css"}) {
        const QString path = site() + QLatin1Char('/') + name;
        const auto identity = SettledIdentity(path);
        QVERIFY(identity);
        markers.clearMarker(path, *identity);
    }
    WriteSiteFile(site(), QStringLiteral("sub/Changed.css"), "5");

    scanSite(true);

    // The log describes the whole site; only changed files (and the fresh log) are sent.
    QCOMPARE(Access::state().logList, QStringList({"sub\\", "changed.css", "uploaded.css", "\\",
                                                   "new.html", "uploaded.html"}));
    QCOMPARE(uploadPaths(), QStringList({"sub\\changed.css", "new.html", "vellumixftplog.log"}));
    QVERIFY(QFile::exists(mUserFolders->stateHome() +
                          QStringLiteral("/vellumix/parcelup/markers.sqlite")));
}

void TestLocalScan::logReplacesEarlierFile()
{
    WriteSiteFile(site(), QStringLiteral("vellumixftplog.log"),
                  QByteArray(5000, 'x') + "\r\nold\\\r\n");
    MakeSiteTree(site(), {"page.html"});
    scanSite();

    QFile logFile(logPath());
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    QCOMPARE(logFile.readAll(), QByteArray("\\\r\npage.html\r\n"));
}

// Someone who can write into the site folder must not be able to make the log overwrite a file
// elsewhere by putting a link in its place.
// A named pipe in the log's place once hung the run for good: reading the previous log waited for
// a writer.
void TestLocalScan::logReplacesPlantedPipe()
{
    remakeSite({"vellumixftplog.log|", "page.html=1"});
    Access::buildLogAndUploadList();

    QVERIFY(QFileInfo(logPath()).isFile());
    QCOMPARE(logOnDisk(), QByteArray("\\\r\npage.html\r\n"));
    QCOMPARE(uploadPaths(),
             (QStringList{QStringLiteral("page.html"), QStringLiteral("vellumixftplog.log")}));
}

void TestLocalScan::logReplacesPlantedLink()
{
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.path() + QStringLiteral("/victim.txt");
    WriteSiteFile(elsewhere.path(), QStringLiteral("victim.txt"), "precious");
    QVERIFY(QFile::link(victim, logPath()));

    MakeSiteTree(site(), {"page.html"});
    scanSite();

    QFile victimFile(victim);
    QVERIFY(victimFile.open(QIODevice::ReadOnly));
    QCOMPARE(victimFile.readAll(), QByteArray("precious"));
    QVERIFY(!QFileInfo(logPath()).isSymLink());
    QFile logFile(logPath());
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    QCOMPARE(logFile.readAll(), QByteArray("\\\r\npage.html\r\n"));
}

void TestLocalScan::unreadableEntriesEndTheRun_data()
{
    QTest::addColumn<QString>("step");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("textId");
    QTest::addColumn<QString>("concerned");

    // A file that was listed but is gone when its size is taken.
    QTest::newRow("file-vanished")
        << "add:Gone.html" << int(ProgramError::FileNotFound) << 4012 << "Gone.html";
    // A pipe put in the place of a listed file: it cannot be sent, and opening it must not hang.
    QTest::newRow("file-replaced-by-pipe")
        << "add:pipe" << int(ProgramError::PathFileAccessError) << 4010 << "pipe";
    QTest::newRow("folder-missing")
        << "scan:nichtda" << int(ProgramError::FileNotFound) << 4017 << "nichtda";
}

void TestLocalScan::unreadableEntriesEndTheRun()
{
    QFETCH(QString, step);
    QFETCH(int, number);
    QFETCH(int, textId);
    QFETCH(QString, concerned);

    MakeSiteTree(site(), {"pipe|"});
    const QString argument = step.section(QLatin1Char(':'), 1);
    const QString nativePath = site() + QLatin1Char('/') + concerned;
    try {
        if (step.startsWith(QLatin1String("add:")))
            Access::addUploadFile(argument.toLower(), argument);
        else
            Access::session().ScanLocalSubDir(argument);
        QFAIL("no error raised");
    } catch (const ProgramError &error) {
        QCOMPARE(error.number(), number);
        QString expected = ResourceString(MessageId(textId));
        expected = textId == 4010
                       ? expected.arg(nativePath, ResourceString(MessageId::NoLongerRegularFile))
                       : expected.arg(nativePath);
        QCOMPARE(error.description(), expected);
    }
    QCOMPARE(Access::state().uploadCount, 0);
    QVERIFY(Access::state().uploadList.isEmpty());
    QCOMPARE(Access::state().totalBytes, 0.0);
}

void TestLocalScan::unreadableWithoutPermission()
{
    if (::geteuid() == 0)
        QSKIP("root reads every file whatever its permissions");
    MakeSiteTree(site(), {"secret.html=x", "locked/page.html"});
    QVERIFY(QFile::setPermissions(site() + QStringLiteral("/secret.html"), {}));
    try {
        scanSite();
        QFAIL("no error raised");
    } catch (const ProgramError &error) {
        QCOMPARE(error.number(), int(ProgramError::PermissionDenied));
        QVERIFY2(error.description().contains(QStringLiteral("secret.html")),
                 qPrintable(error.description()));
    }
    QVERIFY(QFile::setPermissions(site() + QStringLiteral("/secret.html"),
                                  QFile::ReadOwner | QFile::WriteOwner));

    QVERIFY(QFile::setPermissions(site() + QStringLiteral("/locked"), {}));
    Access::fresh();
    Access::session().LocalBaseDir(site());
    try {
        scanSite();
        QFAIL("no error raised");
    } catch (const ProgramError &error) {
        QCOMPARE(error.number(), int(ProgramError::PermissionDenied));
        QCOMPARE(
            error.description(),
            ResourceString(MessageId::FolderAccessDenied).arg(site() + QStringLiteral("/locked")));
    }
    QVERIFY(QFile::setPermissions(site() + QStringLiteral("/locked"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

QTEST_GUILESS_MAIN(TestLocalScan)
#include "tst_localscan.moc"
