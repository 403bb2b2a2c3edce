#include "ftpresult.h"
#include "locallogdestination.h"
#include "scriptedsession.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Access = classUploadTestAccess;

namespace {
const QString kBase = ScriptedSession::BaseFolder;
const QString kOldLog = kBase + QStringLiteral("/vellumixftplog.log");
} // namespace

class TestCleanup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstRunDeletesNothing();
    void downloadRefusedToStart();
    void onlyProvenStaleEntriesAreDeleted_data();
    void onlyProvenStaleEntriesAreDeleted();
    void deletedFolderGoesInnerFirst();
    void entriesThatCouldLeaveTheBaseFolderAreSkipped();
    void cancelDuringADeletionEndsThePass();
    void missingBaseFolderSkipsEverything();
    void putOffDeletionsStayInTheLog_data();
    void putOffDeletionsStayInTheLog();
    void climbPutOffKeepsTheDeletion();
    void unreadableOldLogStaysOnTheServer();
    void previousLocalLogNamesWhatTheServerLogMisses();
    void bothLogsCountOnceForTheDeletionGuard_data();
    void bothLogsCountOnceForTheDeletionGuard();
    void theCleanUpWaitsForTheAnswer_data();
    void theCleanUpWaitsForTheAnswer();
    void lostConnectionEndsTheCleanUp();

private:
    // A local site folder with the current log written and queued for upload, as the run has it
    // when the clean-up begins.
    void writeLocalLog(const QStringList &lines);
    std::unique_ptr<QTemporaryDir> mSite;
    void currentLog(const QStringList &lines);
    void oldLog(const QByteArray &text);
    void previousLogOfThisDestination(const QByteArray &content, bool here = true);
    // A site that kept the first files of both old logs and lost the others, still on the server.
    void siteLost(int kept, int deleted);
    QStringList deletions() const;
    std::unique_ptr<ScriptedSession> mSession;
    RecordingView *mView = nullptr;
    ScriptedFtp *mFtp = nullptr;
};

void TestCleanup::init()
{
    mSession = std::make_unique<ScriptedSession>();
    mSite = std::make_unique<QTemporaryDir>();
    mView = &mSession->view;
    mFtp = mSession->ftp;
    mSession->publishToBaseFolder();
}

void TestCleanup::cleanup()
{
    mSession.reset();
    mSite.reset();
}

void TestCleanup::currentLog(const QStringList &lines)
{
    for (const QString &line : lines)
        Access::addLogEntry(line);
}

// The local upload log as a previous run left it, written by a run to this destination or to
// another one; the run then chooses its destination, as after the log-in.
void TestCleanup::previousLogOfThisDestination(const QByteArray &content, bool here)
{
    Access::setPreviousLocalLog(content);
    RecordLocalLogDestination(Access::state().localBaseDir, content,
                              here ? Access::destination() : QStringLiteral("elsewhere"));
    Access::chooseDestination();
}

void TestCleanup::oldLog(const QByteArray &text)
{
    mFtp->files.insert(kOldLog, text);
}

// The deleting requests, in order.
QStringList TestCleanup::deletions() const
{
    QStringList result;
    for (const QString &request : mFtp->log) {
        if (request.startsWith(QLatin1String("DELE ")) || request.startsWith(QLatin1String("RMD ")))
            result << request;
    }
    return result;
}

void TestCleanup::firstRunDeletesNothing()
{
    currentLog({"\\", "index.html"});
    Access::session().FTPDeleteFiles();
    QCOMPARE(mFtp->log,
             (QStringList{"PWD", "CWD home", "CWD u", "CWD htdocs", "RETR vellumixftplog.log"}));
    QCOMPARE(mView->caption(ViewLabel::labelFile), QStringLiteral("Lese Datei:"));
    QCOMPARE(mView->fileText, kOldLog);
    QCOMPARE(mFtp->localPaths,
             QStringList{mSession->folders.runtimeDir() + QStringLiteral("/vellumixftplog.log")});
    QVERIFY(!Access::state().aborted);
    QCOMPARE(Access::state().errorId, 0);
}

void TestCleanup::downloadRefusedToStart()
{
    oldLog("\\\r\nalt.html\r\n");
    mFtp->raise << QStringLiteral("RETR vellumixftplog.log");
    Access::session().FTPDeleteFiles();
    QVERIFY(deletions().isEmpty());
    QVERIFY(!Access::state().aborted);
}

void TestCleanup::onlyProvenStaleEntriesAreDeleted_data()
{
    QTest::addColumn<QByteArray>("old");      // the server's old log; null: there is none
    QTest::addColumn<int>("retrieval");       // what RETR of it comes to instead of the file
    QTest::addColumn<QByteArray>("previous"); // the previous run's local log; null: none
    QTest::addColumn<bool>("previousHere");   // written by a run to this destination
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("logReplaced"); // this run's log still goes up
    QTest::addColumn<QStringList>("kept"); // lines the local log keeps for the next run
    const auto row = [](const char *name, const QByteArray &old, const QStringList &expected,
                        int retrieval = 0, const QByteArray &previous = {}, bool here = false,
                        bool logReplaced = true, const QStringList &kept = {}) {
        QTest::newRow(name) << old << retrieval << previous << here << expected << logReplaced
                            << kept;
    };
    row("file-deleted-in-subfolder", "bilder\\\r\nlogo.gif\r\nalt.gif\r\n\\\r\nindex.html\r\n",
        {"DELE alt.gif"});
    row("file-moved-to-site-folder", "bilder\\\r\nlogo.gif\r\nindex.html\r\n\\\r\nindex.html\r\n",
        {"DELE index.html"});
    row("upload-log-never-deleted",
        "bilder\\\r\nlogo.gif\r\nVellumixFtpLog.LOG\r\n\\\r\nvellumixftplog.log\r\nindex.html\r\n",
        {});
    row("line-feeds-only", "bilder\\\nlogo.gif\nweg.gif\n\\\nindex.html\n", {"DELE weg.gif"});
    row("file-before-first-folder-line",
        "vorne.html\r\nbilder\\\r\nlogo.gif\r\n\\\r\nindex.html\r\n", {});
    row("nothing-changed", "bilder\\\r\nlogo.gif\r\n\\\r\nindex.html\r\n", {});
    row("case-of-old-log-does-not-matter", "bilder\\\r\nLogo.gif\r\n\\\r\nindex.html\r\n", {});

    // Hostile logs: live pages named before the first folder line, or in another case; names a
    // server may expand; names leading out of the base folder.
    row("live-page-before-first-folder-line", "index.html\r\n\\\r\nindex.html\r\nalt.html\r\n",
        {"DELE alt.html"});
    row("folder-and-names-in-another-case",
        "Bilder\\\r\nLOGO.gif\r\n\\\r\nINDEX.html\r\nalt.html\r\n", {"DELE alt.html"});
    row("wildcards",
        "*\\\r\nx.html\r\n\\\r\nindex.html\r\n*.html\r\nseite?.html\r\n[a-z]*\r\n"
        "alt.html\r\n",
        {"DELE alt.html"});
    row("dot-dot", "..\\\r\nindex.html\r\n\\\r\n..\r\nindex.html\r\nalt.html\r\n",
        {"DELE alt.html"});
    // A previous local log proves something only where it was written: another destination's
    // log names pages that the owner of this one may have placed by other means.
    const QByteArray previous = "\\\r\nindex.html\r\nalt.html\r\n";
    row("foreign-previous-log-without-server-log", {}, {}, 0, previous, false);
    row("own-previous-log-without-server-log", {}, {}, 0, previous, true, true, {"alt.html"});
    row("own-previous-log-server-log-put-off", {}, {"DELE alt.html"}, 20451, previous, true, false);
    row("foreign-previous-log-server-log-put-off", {}, {}, 20451, previous, false, false);
    // A download that failed without the server's word on the log: maybe there is none, so this
    // run's log goes up, and what the previous one names waits in it.
    row("server-log-unread-without-verdict", "\\\r\nindex.html\r\nalt.html\r\n", {},
        FtpResult::TlsFailure, previous, true, true, {"alt.html"});
}

void TestCleanup::onlyProvenStaleEntriesAreDeleted()
{
    QFETCH(QByteArray, old);
    QFETCH(int, retrieval);
    QFETCH(QByteArray, previous);
    QFETCH(bool, previousHere);
    QFETCH(QStringList, expected);
    QFETCH(bool, logReplaced);
    QFETCH(QStringList, kept);
    writeLocalLog({"bilder\\", "logo.gif", "\\", "index.html"});
    mFtp->folders << kBase + "/bilder" << kBase + "/Bilder" << kBase + "/*";
    for (const char *file :
         {"bilder/alt.gif", "bilder/weg.gif", "bilder/index.html", "bilder/Logo.gif",
          "Bilder/LOGO.gif", "vorne.html", "index.html", "alt.html", "*/x.html"})
        mFtp->files.insert(kBase + QLatin1Char('/') + QLatin1String(file), "live");
    if (!old.isNull())
        oldLog(old);
    if (retrieval != 0)
        mFtp->refuse.insert(QStringLiteral("RETR vellumixftplog.log"), qint16(retrieval));
    if (!previous.isNull())
        previousLogOfThisDestination(previous, previousHere);

    Access::session().FTPDeleteFiles();
    QCOMPARE(deletions(), expected);
    QVERIFY(!Access::state().aborted);
    QCOMPARE(Access::state().uploadCount == 1, logReplaced);
    for (const QString &line : kept)
        QVERIFY(Access::state().logList.contains(line));
}

void TestCleanup::deletedFolderGoesInnerFirst()
{
    currentLog({"\\", "index.html"});
    mFtp->folders << kBase + "/bilder" << kBase + "/bilder/icons";
    mFtp->files.insert(kBase + "/bilder/icons/pfeil.gif", "p");
    mFtp->files.insert(kBase + "/bilder/logo.gif", "l");
    mFtp->files.insert(kBase + "/bilder/fremd.txt", "not in any log");
    oldLog("bilder\\icons\\\r\npfeil.gif\r\nbilder\\\r\nlogo.gif\r\n\\\r\nindex.html\r\n");

    Access::session().FTPDeleteFiles();
    QCOMPARE(deletions(),
             (QStringList{"DELE pfeil.gif", "DELE logo.gif", "RMD icons", "RMD bilder"}));
    // The folder also holds a file the old log never listed: it stays, and so does the folder.
    QVERIFY(mFtp->files.contains(kBase + "/bilder/fremd.txt"));
    QVERIFY(mFtp->folders.contains(kBase + "/bilder"));
    QVERIFY(!mFtp->folders.contains(kBase + "/bilder/icons"));
    QCOMPARE(mView->fileTexts.mid(1),
             (QStringList{kBase + "/bilder/icons/pfeil.gif", kBase + "/bilder/logo.gif",
                          kBase + "/bilder/icons/", kBase + "/bilder/"}));
    QCOMPARE(mView->caption(ViewLabel::labelFile), QStringLiteral("Lösche Ordner:"));
}

void TestCleanup::entriesThatCouldLeaveTheBaseFolderAreSkipped()
{
    // Planted outside the base folder, where a crafted old log would point.
    mFtp->folders << "/home/u/privat";
    mFtp->files.insert("/home/u/privat/daten.txt", "d");
    mFtp->files.insert("/home/u/geheim.txt", "g");
    currentLog({"\\", "index.html"});
    oldLog("..\\\r\ngeheim.txt\r\n"
           "..\\privat\\\r\ndaten.txt\r\n"
           "\\\r\n..\\geheim.txt\r\nsub/../../"
           "geheim.txt\r\n.\r\n..\r\n\r\nesc\x1b[2J.html\r\nok.html\r\n"
           "\\leading\\\r\na\\\\b\\\r\n.\\\r\n");
    mFtp->files.insert(kBase + "/ok.html", "stale but harmless");

    Access::session().FTPConnect(); // opens the debug log, where the skips are recorded
    Access::session().FTPDeleteFiles();
    QCOMPARE(deletions(), QStringList{"DELE ok.html"});
    QVERIFY(mFtp->files.contains("/home/u/geheim.txt"));
    QVERIFY(mFtp->files.contains("/home/u/privat/daten.txt"));
    QVERIFY(mFtp->folders.contains("/home/u/privat"));

    Access::closeDebugLog();
    QFile log(QCoreApplication::applicationDirPath() + QStringLiteral("/parcelup.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    QVERIFY2(text.contains(QStringLiteral("..\\geheim.txt")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("..\\privat\\")), qPrintable(text));
    QCOMPARE(text.count(QStringLiteral("übersprungen")), 13);
}

void TestCleanup::cancelDuringADeletionEndsThePass()
{
    currentLog({"\\", "index.html"});
    mFtp->files.insert(kBase + "/a.html", "a");
    mFtp->files.insert(kBase + "/b.html", "b");
    mFtp->folders << kBase + "/alt";
    oldLog("alt\\\r\n\\\r\na.html\r\nb.html\r\n");
    mFtp->hang << QStringLiteral("DELE a.html");
    mFtp->onStarted = [](const QString &request) {
        if (request == QLatin1String("DELE a.html"))
            QTimer::singleShot(0, [] { Access::session().FTPCancel(); });
    };
    Access::session().FTPDeleteFiles();
    QCOMPARE(deletions(), QStringList{"DELE a.html"});
    QCOMPARE(Access::state().errorId, 2004);
}

void TestCleanup::missingBaseFolderSkipsEverything()
{
    // The old log belongs to the base folder: where that is missing there is none, and the log
    // of the deepest folder on the way, another site's perhaps, is not asked for.
    Access::session().RemoteBaseDir(kBase + QStringLiteral("/neu"));
    mFtp->files.insert(kBase + "/vellumixftplog.log", "\\\r\nalt.html\r\nsub\\\r\n");
    currentLog({"\\"});
    Access::session().FTPDeleteFiles();
    QVERIFY(deletions().isEmpty());
    QVERIFY(!mFtp->log.contains(QStringLiteral("RETR vellumixftplog.log")));
    QVERIFY(!Access::state().aborted);
}

void TestCleanup::writeLocalLog(const QStringList &lines)
{
    Access::session().LocalBaseDir(mSite->path());
    currentLog(lines);
    Access::session().WriteFileLog();
    Access::addUploadFile(QStringLiteral("vellumixftplog.log"), QString());
}

void TestCleanup::putOffDeletionsStayInTheLog_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("kept"); // the local log afterwards
    const QStringList site{"bilder\\", "logo.gif", "\\", "index.html"};
    // "450 busy": the next run must try again, so the log it reads still names the file.
    QTest::newRow("file-put-off") << "DELE alt.html" << 20450
                                  << QStringList{"bilder\\", "logo.gif", "\\", "alt.html",
                                                 "index.html"};
    // A file kept in a folder the site no longer has keeps that folder, and the folders around
    // it, whose removal failed only because they were not empty.
    QTest::newRow("file-in-deleted-folder-put-off")
        << "DELE tief.html" << 20450
        << QStringList{"alt\\a\\", "tief.html", "alt\\",     "bilder\\",
                       "logo.gif", "\\",        "index.html"};
    QTest::newRow("folder-put-off")
        << "RMD a" << 20450
        << QStringList{"alt\\a\\", "alt\\", "bilder\\", "logo.gif", "\\", "index.html"};
    QTest::newRow("folder-not-entered-just-now")
        << "CWD alt" << 20450 << QStringList{"alt\\a\\", "tief.html", "alt\\",     "bilder\\",
                                             "logo.gif", "\\",        "index.html"};
    // Refusals for good go unnoticed, as they always did: no entry is kept for ever.
    QTest::newRow("file-refused-for-good") << "DELE alt.html" << 20550 << site;
    QTest::newRow("folder-missing") << "CWD alt" << 20550 << site;
}

void TestCleanup::putOffDeletionsStayInTheLog()
{
    QFETCH(QString, request);
    QFETCH(int, result);
    QFETCH(QStringList, kept);
    mFtp->folders << kBase + "/bilder" << kBase + "/alt" << kBase + "/alt/a";
    mFtp->files.insert(kBase + "/alt.html", "alt");
    mFtp->files.insert(kBase + "/alt/a/tief.html", "tief");
    oldLog("bilder\\\r\nlogo.gif\r\nalt\\a\\\r\ntief.html\r\nalt\\\r\n\\\r\nindex.html\r\n"
           "alt.html\r\n");
    writeLocalLog({"bilder\\", "logo.gif", "\\", "index.html"});
    const qint64 queuedSize = Access::state().uploadList.first().Size;
    mFtp->refuse.insert(request, qint16(result));

    Access::session().FTPDeleteFiles();
    QVERIFY(!Access::state().aborted);
    QFile log(mSite->filePath(QStringLiteral("vellumixftplog.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(log.readAll()), kept.join(QStringLiteral("\r\n")) + "\r\n");
    QCOMPARE(Access::state().logList, kept);
    // The rewritten log is the one that goes up, with its size in the progress.
    QCOMPARE(Access::state().uploadCount, 1);
    QCOMPARE(Access::state().uploadList.first().Size, log.size());
    QCOMPARE(Access::state().totalBytes, double(log.size()));
    QVERIFY(log.size() >= queuedSize);
}

void TestCleanup::climbPutOffKeepsTheDeletion()
{
    // "450" to "CWD ..": the walk to alt goes on from bilder, where there is no alt. That 550 is
    // not the server's word on alt/y.png, which must be tried again next time.
    mFtp->folders << kBase + "/bilder" << kBase + "/alt";
    mFtp->files.insert(kBase + "/bilder/x.png", "x");
    mFtp->files.insert(kBase + "/alt/y.png", "y");
    oldLog("bilder\\\r\nx.png\r\nalt\\\r\ny.png\r\n\\\r\nindex.html\r\n");
    writeLocalLog({"bilder\\", "alt\\", "\\", "index.html"});
    mFtp->refuse.insert(QStringLiteral("CWD .."), 20450);
    Access::session().FTPDeleteFiles();
    QVERIFY(!Access::state().aborted);
    QCOMPARE(deletions(), QStringList{"DELE x.png"});
    QCOMPARE(Access::state().logList,
             (QStringList{"bilder\\", "alt\\", "y.png", "\\", "index.html"}));
}

void TestCleanup::unreadableOldLogStaysOnTheServer()
{
    // "451 try again": the log is there and names what is to be deleted. This run's log must not
    // replace it, or those names are forgotten for good.
    oldLog("\\\r\nindex.html\r\nalt.html\r\n");
    mFtp->files.insert(kBase + "/alt.html", "alt");
    writeLocalLog({"\\", "index.html"});
    mFtp->refuse.insert(QStringLiteral("RETR vellumixftplog.log"), 20451);
    Access::session().FTPDeleteFiles();
    QVERIFY(!Access::state().aborted);
    QVERIFY(deletions().isEmpty());
    QCOMPARE(Access::state().uploadCount, 0);
    QVERIFY(Access::state().uploadList.isEmpty());
    QCOMPARE(Access::state().totalBytes, 0.0);
}

void TestCleanup::previousLocalLogNamesWhatTheServerLogMisses()
{
    // The previous run uploaded neu.html and then failed before its log reached the server; the
    // user has deleted the file since. Only the local log of that run names it.
    oldLog("\\\r\nindex.html\r\n");
    mFtp->files.insert(kBase + "/neu.html", "neu");
    currentLog({"\\", "index.html"});
    previousLogOfThisDestination("\\\r\nindex.html\r\nneu.html\r\n");
    Access::session().FTPDeleteFiles();
    QCOMPARE(deletions(), QStringList{"DELE neu.html"});
}

void TestCleanup::bothLogsCountOnceForTheDeletionGuard_data()
{
    QTest::addColumn<int>("kept");
    QTest::addColumn<int>("deleted");
    QTest::addColumn<bool>("asks");

    // The server's log and the previous local log name the same files: a file named twice is
    // one deletion, and the share is of the files one log lists, not of both together.
    QTest::newRow("25-of-60-goes-ahead") << 35 << 25 << false;
    QTest::newRow("35-of-60-asks") << 25 << 35 << true;
}

void TestCleanup::bothLogsCountOnceForTheDeletionGuard()
{
    QFETCH(int, kept);
    QFETCH(int, deleted);
    QFETCH(bool, asks);
    siteLost(kept, deleted);
    mView->massDeletionAnswer = MassDeletion::Delete;
    Access::session().FTPDeleteFiles();
    QCOMPARE(mView->massDeletionQuestions.size(), asks ? 1 : 0);
    if (asks)
        QVERIFY(mView->massDeletionQuestions.first().startsWith(
            QStringLiteral("Es würden %1 von %2 Dateien").arg(deleted).arg(kept + deleted)));
    QCOMPARE(deletions().size(), deleted);
}

void TestCleanup::siteLost(int kept, int deleted)
{
    QByteArray log = "\\\r\n";
    QStringList current{"\\"};
    for (int i = 0; i < kept + deleted; ++i) {
        const QString name = QStringLiteral("f%1.html").arg(i);
        log += name.toUtf8() + "\r\n";
        if (i < kept)
            current << name;
        else
            mFtp->files.insert(kBase + QLatin1Char('/') + name, "alt");
    }
    oldLog(log);
    currentLog(current);
    previousLogOfThisDestination(log);
}

void TestCleanup::theCleanUpWaitsForTheAnswer_data()
{
    using A = RecordingView::Answering;
    QTest::addColumn<A>("answering");
    QTest::addColumn<MassDeletion>("answer");
    QTest::addColumn<int>("deleted");
    QTest::addColumn<int>("errorId");
    QTest::newRow("yes-at-once") << A::AtOnce << MassDeletion::Delete << 35 << 0;
    QTest::newRow("yes-from-the-event-loop") << A::Later << MassDeletion::Delete << 35 << 0;
    QTest::newRow("no-from-the-event-loop") << A::Later << MassDeletion::Skip << 0 << 0;
    QTest::newRow("cancelled-instead") << A::CancelInstead << MassDeletion::Delete << 0 << 2004;
}

// The question is put without blocking and the run waits for the answer in its own loop, with the
// watchdog paused; a cancellation ends the wait with nothing deleted.
void TestCleanup::theCleanUpWaitsForTheAnswer()
{
    QFETCH(RecordingView::Answering, answering);
    QFETCH(MassDeletion, answer);
    QFETCH(int, deleted);
    QFETCH(int, errorId);
    siteLost(25, 35);
    mView->answering = answering;
    mView->massDeletionAnswer = answer;
    RecordingView::watchDogTimer().start();
    // A wait that never ends fails here instead of hanging the suite.
    QObject deadline;
    QTimer::singleShot(5000, &deadline, [] { Access::recordFailure(MessageId::TimedOut, {}); });

    Access::session().FTPDeleteFiles();

    QCOMPARE(mView->massDeletionsAsked.size(), 1);
    QVERIFY(!mView->watchDogRanWhileAsked);
    QVERIFY(RecordingView::watchDogTimer().isActive());
    QCOMPARE(deletions().size(), deleted);
    QCOMPARE(Access::state().errorId, errorId);
}

void TestCleanup::lostConnectionEndsTheCleanUp()
{
    oldLog("\\\r\nindex.html\r\na.html\r\nb.html\r\n");
    currentLog({"\\", "index.html"});
    mFtp->onStarted = [this](const QString &request) {
        if (request == QLatin1String("DELE a.html"))
            mFtp->connected = false;
    };
    mFtp->refuse.insert(QStringLiteral("DELE a.html"), FtpResult::ConnectionLost);
    Access::session().FTPDeleteFiles();
    // Not a message about a file or folder the server never refused.
    QCOMPARE(deletions(), QStringList{"DELE a.html"});
    QCOMPARE(Access::state().errorId, 4070);
}

QTEST_GUILESS_MAIN(TestCleanup)
#include "tst_cleanup.moc"
