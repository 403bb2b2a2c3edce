#include "changemarkerstore.h"
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
    void exampleSiteLineByLine();
    void namesDifferingOnlyInCase();
    void filesOfTwoGibibytesAndMore();
    void subfolderNamedInLowerCase();
    void differentialModeQueuesOnlyMarkedFiles();
    void logReplacesEarlierFile();
    void logReplacesPlantedLink();
    void unreadableEntriesEndTheRun_data();
    void unreadableEntriesEndTheRun();
    void unreadableWithoutPermission();

private:
    void scanSite(bool differential = false);
    [[nodiscard]] QString site() const { return mSite->path(); }
    [[nodiscard]] QString logPath() const { return site() + QStringLiteral("/vellumixftplog.log"); }
    static QStringList uploadPaths();

    std::unique_ptr<IsolatedUserFolders> mUserFolders;
    std::unique_ptr<QTemporaryDir> mSite;
};

void TestLocalScan::init()
{
    mUserFolders = std::make_unique<IsolatedUserFolders>();
    mSite = std::make_unique<QTemporaryDir>();
    QVERIFY(mSite->isValid());
    Access::fresh();
    Access::localBaseDir() = site();
}

void TestLocalScan::cleanup()
{
    Access::fresh();
    mSite.reset();
    mUserFolders.reset();
}

// The three steps of a run that read the site, in the run's order.
void TestLocalScan::scanSite(bool differential)
{
    Access::differentialMode() = differential;
    classUpload &session = Access::session();
    session.BuildFileLog(QStringLiteral("\\"));
    session.WriteFileLog();
    session.ScanLocalSubDir(QStringLiteral("\\"));
}

QStringList TestLocalScan::uploadPaths()
{
    QStringList paths;
    for (const UploadItem &item : Access::uploadList())
        paths << item.Path;
    return paths;
}

void TestLocalScan::treeGivesLogAndUploads_data()
{
    QTest::addColumn<QStringList>("tree");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QStringList>("uploads");

    QTest::newRow("empty-site") << QStringList{} << QStringList{"\\"}
                                << QStringList{"vellumixftplog.log"};
    QTest::newRow("folders-holding-only-folders")
        << QStringList{"a/b/", "a/c/x.html", "d/"}
        << QStringList{"a\\b\\", "a\\c\\", "x.html", "a\\", "d\\", "\\"}
        << QStringList{"a\\c\\x.html", "vellumixftplog.log"};
    QTest::newRow("hidden-files-and-folders")
        << QStringList{".htaccess", ".git/config", "sub/.secret", "sub/shown.html",
                       ".drafts/visible.html"}
        << QStringList{"sub\\", "shown.html", "\\"}
        << QStringList{"sub\\shown.html", "vellumixftplog.log"};
    QTest::newRow("upload-log-in-any-case")
        << QStringList{"VellumixFtpLog.LOG=old", "sub/vellumixftplog.log=x", "sub/page.html"}
        << QStringList{"sub\\", "page.html", "\\"}
        << QStringList{"sub\\page.html", "sub\\vellumixftplog.log", "vellumixftplog.log",
                       "vellumixftplog.log"};
    QTest::newRow("mixed-case-lowered")
        << QStringList{"Index.HTML", "Bilder/Logo.GIF"}
        << QStringList{"bilder\\", "logo.gif", "\\", "index.html"}
        << QStringList{"bilder\\logo.gif", "index.html", "vellumixftplog.log"};
    QTest::newRow("umlauts-lowered")
        << QStringList{"Über.html", "ÄRGER/x.html"}
        << QStringList{"ärger\\", "x.html", "\\", "über.html"}
        << QStringList{"ärger\\x.html", "vellumixftplog.log", "über.html"};
    QTest::newRow("order-by-lower-case-name")
        << QStringList{"b.html", "A.html", "_x.html", "a0.html", "Z/"}
        << QStringList{"z\\", "\\", "_x.html", "a.html", "a0.html", "b.html"}
        << QStringList{"_x.html", "a.html", "a0.html", "b.html", "vellumixftplog.log"};
    QTest::newRow("link-loops-skipped")
        << QStringList{"sub/page.html", "sub/up->..", "sub/self->.", "sub/deeper/back->../.."}
        << QStringList{"sub\\deeper\\", "sub\\", "page.html", "\\"}
        << QStringList{"sub\\page.html", "vellumixftplog.log"};
    QTest::newRow("link-to-sibling-followed")
        << QStringList{"shared/a.html", "sub/shared->../shared"}
        << QStringList{"shared\\", "a.html", "sub\\shared\\", "a.html", "sub\\", "\\"}
        << QStringList{"shared\\a.html", "sub\\shared\\a.html", "vellumixftplog.log"};
    QTest::newRow("link-to-file-followed")
        << QStringList{"real.html=abc", "alias.html->real.html"}
        << QStringList{"\\", "alias.html", "real.html"}
        << QStringList{"alias.html", "real.html", "vellumixftplog.log"};
    QTest::newRow("dangling-link-and-pipe-skipped")
        << QStringList{"gone.html->nowhere.html", "pipe|", "page.html"}
        << QStringList{"\\", "page.html"} << QStringList{"page.html", "vellumixftplog.log"};
    QTest::newRow("unwritable-names-skipped")
        << QStringList{"back\\slash.html", "line\nfeed.html", "carriage\rreturn.html",
                       "folder\\name/inner.html", "ok.html"}
        << QStringList{"\\", "ok.html"} << QStringList{"ok.html", "vellumixftplog.log"};
}

void TestLocalScan::treeGivesLogAndUploads()
{
    QFETCH(QStringList, tree);
    QFETCH(QStringList, log);
    QFETCH(QStringList, uploads);

    MakeSiteTree(site(), tree);
    scanSite();

    QCOMPARE(Access::logList(), log);
    QCOMPARE(Access::logCount(), log.size());
    QCOMPARE(uploadPaths(), uploads);
    QCOMPARE(Access::uploadCount(), uploads.size());
}

void TestLocalScan::exampleSiteLineByLine()
{
    MakeSiteTree(site(), {"index.html=<html></html>", "style.css=body{}", "bilder/logo.gif=GIF89a",
                          "bilder/icons/pfeil.gif=", "bilder/icons/.thumbs"});
    scanSite();

    const QStringList log{"bilder\\icons\\", "pfeil.gif", "bilder\\", "logo.gif", "\\",
                          "index.html",      "style.css"};
    QCOMPARE(Access::logList(), log);
    QCOMPARE(Access::logCount(), 7);

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
    QCOMPARE(Access::uploadCount(), uploads.size());
    double total = 0;
    for (qsizetype i = 0; i < uploads.size(); ++i) {
        QCOMPARE(Access::uploadList().at(i).Path, uploads.at(i).first);
        QCOMPARE(Access::uploadList().at(i).Size, uploads.at(i).second);
        total += static_cast<double>(uploads.at(i).second);
    }
    QCOMPARE(Access::totalBytes(), total);
    // No temporary file of the log writer stays behind.
    QCOMPARE(QDir(site()).entryList(QDir::Files | QDir::Hidden),
             QStringList({"index.html", "style.css", "vellumixftplog.log"}));
}

// Both lists carry lower-case names, but each file is opened (and measured) by its real name, also
// when two local names differ only in case and so go to the same remote name, in a fixed order.
void TestLocalScan::namesDifferingOnlyInCase()
{
    MakeSiteTree(site(), {"A.html=abc", "a.html=abcde", "Bilder/x.gif=1", "bilder/y.gif=22"});
    scanSite();

    QCOMPARE(Access::logList(),
             QStringList({"bilder\\", "x.gif", "bilder\\", "y.gif", "\\", "a.html", "a.html"}));
    const QList<UploadItem> &items = Access::uploadList();
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

    const QList<UploadItem> &items = Access::uploadList();
    QCOMPARE(uploadPaths(), QStringList({"empty.html", "vellumixftplog.log", "video.mp4"}));
    QCOMPARE(items.at(0).Size, 0);
    QCOMPARE(items.at(2).Size, size);
    QCOMPARE(Access::totalBytes(),
             static_cast<double>(size) + static_cast<double>(items.at(1).Size));
}

void TestLocalScan::subfolderNamedInLowerCase()
{
    MakeSiteTree(site(), {"Bilder/Logo.gif", "Bilder/Icons/P.gif", "index.html"});
    classUpload &session = Access::session();
    session.BuildFileLog(QStringLiteral("bilder"));
    session.ScanLocalSubDir(QStringLiteral("bilder"));

    QCOMPARE(Access::logList(), QStringList({"bilder\\icons\\", "p.gif", "bilder\\", "logo.gif"}));
    QCOMPARE(uploadPaths(), QStringList({"bilder\\icons\\p.gif", "bilder\\logo.gif"}));
    QCOMPARE(Access::uploadList().at(0).LocalPath, QStringLiteral("Bilder\\Icons\\P.gif"));
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
    QCOMPARE(Access::logList(), QStringList({"sub\\", "changed.css", "uploaded.css", "\\",
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
        QString expected = ResourceString(textId);
        expected = textId == 4010 ? expected.arg(nativePath, ResourceString(4019))
                                  : expected.arg(nativePath);
        QCOMPARE(error.description(), expected);
    }
    QCOMPARE(Access::uploadCount(), 0);
    QVERIFY(Access::uploadList().isEmpty());
    QCOMPARE(Access::totalBytes(), 0.0);
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
    Access::localBaseDir() = site();
    try {
        scanSite();
        QFAIL("no error raised");
    } catch (const ProgramError &error) {
        QCOMPARE(error.number(), int(ProgramError::PermissionDenied));
        QCOMPARE(error.description(), ResourceString(4018).arg(site() + QStringLiteral("/locked")));
    }
    QVERIFY(QFile::setPermissions(site() + QStringLiteral("/locked"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

QTEST_GUILESS_MAIN(TestLocalScan)
#include "tst_localscan.moc"
