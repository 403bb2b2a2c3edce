#include "ftpcontrol.h"
#include "recordingview.h"
#include "sessionaccess.h"
#include "sessionpublication.h"
#include "sitefixture.h"
#include "systemhelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

using Access = classUploadTestAccess;

namespace {

const QString kTimeoutText = QStringLiteral("Das Zeitlimit für einen Vorgang wurde überschritten.");

// The server's folder before a run: an old upload log that lists a file and a folder which the
// site no longer has, and both of them, so that the run reads, deletes and removes before it
// uploads.
const QMap<QString, QByteArray> kServerBefore{
    {QStringLiteral("htdocs/vellumixftplog.log"), "altordner\\\r\n\\\r\nalt.html\r\n"},
    {QStringLiteral("htdocs/alt.html"), "alt"},
    {QStringLiteral("htdocs/altordner/"), QByteArray()},
};

} // namespace

// Publications through the whole session against real servers that are slow, silent, or stop
// answering at a chosen command, while the user cancels or the watchdog runs out; and old logs
// and servers that try to lead the clean-up astray.
class TestSessionFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void watchdogCountsEveryReply_data();
    void watchdogCountsEveryReply();
    void interruptedWaitEndsTheRunCleanly_data();
    void interruptedWaitEndsTheRunCleanly();
    void faultThatMayPassIsTriedAgain_data();
    void faultThatMayPassIsTriedAgain();
    void climbThatFailsCannotMisplaceADeletion_data();
    void climbThatFailsCannotMisplaceADeletion();
    void homeFolderEntriesAreNotFollowed();
    void oversizedOldLogIsNotRead_data();
    void oversizedOldLogIsNotRead();

private:
    void startServer(const TestFtpServer::Options &options);
    // A session on a real component, with the watchdog ticking every tickMs and tripping after
    // timeout silent ticks.
    classUpload &prepare(int tickMs = 1000, int timeout = 60, bool deleteRemote = true);
    QString debugLog() const;
    // The whole server folder, the base folder "htdocs" and what lies beside it.
    QMap<QString, QByteArray> serverFiles() const { return SiteFixture::read(serverRoot()); }
    QString site() const { return mPublication->site(); }
    QString serverRoot() const { return mPublication->serverRoot(); }

    std::unique_ptr<SessionPublication> mPublication;
    std::unique_ptr<RecordingView> mView;
};

void TestSessionFaults::init()
{
    mPublication = std::make_unique<SessionPublication>();
}

void TestSessionFaults::cleanup()
{
    mView.reset();
    mPublication.reset();
}

void TestSessionFaults::startServer(const TestFtpServer::Options &options)
{
    QString error;
    QVERIFY2(mPublication->startServer(options, &error), qPrintable(error));
}

classUpload &TestSessionFaults::prepare(int tickMs, int timeout, bool deleteRemote)
{
    classUpload &session = Access::fresh();
    mView = std::make_unique<RecordingView>(true);
    mView->install();
    RecordingView::watchDogTimer().setInterval(tickMs);
    // A request given up while the server stays silent is dropped after a second, not ten.
    FtpTimeouts timeouts = classUploadTestAccess::ftp().timeouts();
    timeouts.afterAbort = std::chrono::milliseconds(1000);
    classUploadTestAccess::ftp().setTimeouts(timeouts);
    session.FTPTimeout(timeout);
    // Each case follows one dialogue: which request a fault meets, and when the user cancels.
    session.FTPConnections(1);
    mPublication->configure(session);
    session.FTPDelete(deleteRemote);
    return session;
}

QString TestSessionFaults::debugLog() const
{
    QFile log(QCoreApplication::applicationDirPath() + QStringLiteral("/parcelup.log"));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

void TestSessionFaults::watchdogCountsEveryReply_data()
{
    QTest::addColumn<bool>("silent");
    // Every reply comes a moment late, as from a server far away: the clean-up and the upload move
    // no data for much longer than the limit, but the server keeps answering.
    QTest::newRow("far-server-finishes") << false;
    // The server stops answering in the middle of the upload: after the time-out the run logs in
    // again and finishes.
    QTest::newRow("silent-server-times-out") << true;
}

void TestSessionFaults::watchdogCountsEveryReply()
{
    QFETCH(bool, silent);
    TestFtpServer::Options options;
    if (silent)
        options.faults << QStringLiteral("STOR#3=stall");
    else
        options.delaySeconds = 0.1;
    startServer(options);

    // Ticks of 100 ms, and 10 of them without a sign of life end the run: 1.1 s of silence, far
    // less than the clean-up and the upload take without moving data.
    prepare(100, 10).MagicUpload();
    QCOMPARE(mView->retryCountdown, silent ? QList<qint32>{1} : QList<qint32>{});
    QCOMPARE(Access::state().errorText, QString());
    QCOMPARE(mPublication->serverFiles(), mPublication->expectedOnServer());

    // The second run deletes a whole folder, then uploads only the log.
    QVERIFY(QDir(site() + QStringLiteral("/seiten")).removeRecursively());
    prepare(100, 10).MagicUpload();
    QCOMPARE(Access::state().errorText, QString());
    QCOMPARE(mPublication->serverFiles(), mPublication->expectedOnServer());
}

void TestSessionFaults::interruptedWaitEndsTheRunCleanly_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<bool>("cancel");
    // The request that never gets an answer, and the command that shows it has gone out.
    const QList<std::pair<QString, QString>> waits{
        {"connect", ""},          {"PWD#1=stall", "PWD"},   {"CWD#1=stall", "CWD"},
        {"RETR#1=stall", "RETR"}, {"DELE#1=stall", "DELE"}, {"RMD#1=stall", "RMD"},
        {"MKD#1=stall", "MKD"},   {"STOR#1=stall", "STOR"},
    };
    for (const auto &[fault, sent] : waits) {
        const QString name = sent.isEmpty() ? fault : sent.toLower();
        QTest::newRow(qPrintable(name + QStringLiteral("-cancelled"))) << fault << sent << true;
        QTest::newRow(qPrintable(name + QStringLiteral("-timed-out"))) << fault << sent << false;
    }
}

void TestSessionFaults::interruptedWaitEndsTheRunCleanly()
{
    QFETCH(QString, fault);
    QFETCH(QString, sent);
    QFETCH(bool, cancel);
    SiteFixture::write(serverRoot(), kServerBefore);
    TestFtpServer::Options options;
    if (fault != QLatin1String("connect"))
        options.faults << fault;
    startServer(options);
    if (fault == QLatin1String("connect"))
        QVERIFY(mPublication->server()
                    .suspend()); // connections are accepted, but no greeting ever comes

    // What an earlier run left behind: the log of its connection, and a copy of an old log that
    // names a file the server still has.
    const QString logPath =
        QCoreApplication::applicationDirPath() + QStringLiteral("/parcelup.log");
    {
        QFile earlier(logPath);
        QVERIFY(earlier.open(QIODevice::WriteOnly | QIODevice::Truncate));
        earlier.write("# the log of an earlier connection\r\n");
    }
    SiteFixture::write(GetTempFolder(), {{QStringLiteral("vellumixftplog.log"),
                                          "\\\r\nalt.html\r\nindex.html\r\n"}});

    // The watchdog, ticking every 50 ms, ends a wait after a second of silence; when the user
    // cancels, it keeps its usual minute so that it cannot come first.
    classUpload &session = cancel ? prepare() : prepare(50, 20);
    // The time-out ends the run here; that it is tried again is the test below.
    session.FTPRetries(0);
    FtpControl &ftp = classUploadTestAccess::ftp();
    QString lastSent;
    connect(&ftp, &FtpControl::DebugMessage, this, [&](const QString &line) {
        if (!line.isEmpty() && !line.at(0).isDigit())
            lastSent = line;
    });
    // The user cancels once the request is under way: for the log-in as soon as it is pending,
    // otherwise once the command has gone out.
    QTimer canceller;
    if (cancel) {
        connect(&canceller, &QTimer::timeout, this, [&] {
            if (ftp.isBusy() && (sent.isEmpty() || lastSent.startsWith(sent))) {
                canceller.stop();
                session.FTPCancel();
            }
        });
        canceller.start(5);
    }
    session.MagicUpload();
    if (fault == QLatin1String("connect"))
        mPublication->server().resume();

    QCOMPARE(Access::state().errorId, cancel ? 2004 : 2006);
    QCOMPARE(mView->programEnded, cancel);
    if (!cancel)
        QCOMPARE(mView->caption(ViewLabel::lblError), kTimeoutText);
    // Before the clean-up got to it, nothing was deleted: neither a stale copy of an old log nor
    // the result of an earlier request was taken for the download's.
    const bool deletionReached = sent == QLatin1String("RMD") || sent == QLatin1String("MKD") ||
                                 sent == QLatin1String("STOR");
    QCOMPARE(serverFiles().contains(QStringLiteral("htdocs/alt.html")), !deletionReached);
    if (fault == QLatin1String("connect")) {
        Access::closeDebugLog();
        QCOMPARE(debugLog(), QStringLiteral("# the log of an earlier connection\r\n"));
    }
    // The request that was given up does not keep the component busy.
    QTRY_VERIFY_WITH_TIMEOUT(!ftp.isBusy(), 30000);
}

void TestSessionFaults::faultThatMayPassIsTriedAgain_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("retries");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QList<qint32>>("countdown"); // the pauses' seconds, as the view showed them
    QTest::addColumn<int>("errorId");
    // "Not now", and a dropped connection: the run logs in again and finishes.
    QTest::newRow("upload-put-off")
        << "STOR#2=reply 451 Busy." << 5 << false << QList<qint32>{1} << 0;
    QTest::newRow("connection-dropped")
        << "STOR#1=drop-after 10" << 5 << false << QList<qint32>{1} << 0;
    QTest::newRow("clean-up-connection-dropped")
        << "DELE#1=overlong" << 5 << false << QList<qint32>{1} << 0;
    // The server's final no is not asked again.
    QTest::newRow("upload-refused-for-good")
        << "STOR#1=reply 553 Not allowed." << 5 << false << QList<qint32>{} << 2001;
    // Every try in a row meets the fault: after the last one the run ends with its message.
    QTest::newRow("tries-used-up")
        << "STOR=reply 451 Busy." << 2 << false << QList<qint32>{1, 2, 1} << 2001;
    // The user cancels in the pause: the run ends at once, as cancelled.
    QTest::newRow("cancelled-in-the-pause")
        << "STOR#1=reply 421 Closing." << 5 << true << QList<qint32>{1} << 2004;
}

void TestSessionFaults::faultThatMayPassIsTriedAgain()
{
    QFETCH(QString, fault);
    QFETCH(int, retries);
    QFETCH(bool, cancel);
    QFETCH(QList<qint32>, countdown);
    QFETCH(int, errorId);
    SiteFixture::write(serverRoot(), kServerBefore);
    TestFtpServer::Options options;
    options.faults << fault;
    startServer(options);

    classUpload &session = prepare(50, 20);
    session.FTPRetries(retries);
    mView->cancelWhenWaitingToTryAgain = cancel;
    session.MagicUpload();
    QCOMPARE(mView->retryCountdown, countdown);
    QCOMPARE(Access::state().errorId, errorId);
    QCOMPARE(mView->programEnded, cancel);
    if (errorId == 0) {
        // Whatever was sent before the fault is not sent twice: the summary counts each file once.
        const QMap<QString, QByteArray> expected = mPublication->expectedOnServer();
        QCOMPARE(mPublication->serverFiles(), expected);
        const auto files = std::count_if(expected.keyBegin(), expected.keyEnd(),
                                         [](const QString &path) { return !path.endsWith(u'/'); });
        QCOMPARE(mView->summary->filesDone, files);
    }
}

void TestSessionFaults::climbThatFailsCannotMisplaceADeletion_data()
{
    QTest::addColumn<QString>("reply");
    // The server says no to "CWD ..".
    QTest::newRow("refused") << "550 Not allowed.";
    // The server says yes to "CWD .." and stays where it is.
    QTest::newRow("pretended") << "250 OK.";
}

void TestSessionFaults::climbThatFailsCannotMisplaceADeletion()
{
    QFETCH(QString, reply);
    // After a deletion in b, the walk to a would end in b/a, which exists, and the deletion meant
    // for a/x.html would hit b/a/x.html.
    SiteFixture::write(serverRoot(),
                       {{QStringLiteral("htdocs/vellumixftplog.log"),
                         "b\\\r\ny.html\r\na\\\r\nx.html\r\nb\\a\\\r\nx.html\r\n\\\r\n"},
                        {QStringLiteral("htdocs/a/x.html"), "a/x"},
                        {QStringLiteral("htdocs/b/y.html"), "b/y"},
                        {QStringLiteral("htdocs/b/a/x.html"), "b/a/x"}});
    QVERIFY(QDir(site()).removeRecursively());
    SiteFixture::write(
        site(), {{QStringLiteral("b/a/x.html"), "b/a/x"}, {QStringLiteral("index.html"), "start"}});
    TestFtpServer::Options options;
    options.faults << QStringLiteral("CWD ..=reply ") + reply;
    startServer(options);

    prepare().MagicUpload();
    const auto files = serverFiles();
    QCOMPARE(files.value(QStringLiteral("htdocs/b/a/x.html")), QByteArray("b/a/x"));
    QVERIFY(!files.contains(QStringLiteral("htdocs/b/y.html")));
    Access::closeDebugLog();
    if (reply.startsWith(QLatin1String("250"))) {
        // Only asking the server where the walk ended shows it.
        QVERIFY2(debugLog().contains(QStringLiteral("Löschen übersprungen: Der Server meldet den "
                                                    "Ordner /htdocs/b/a statt /htdocs/a.")),
                 qPrintable(debugLog()));
        return;
    }
    // The upload cannot get back up either: it says so instead of storing the site's own files
    // in b/a and calling that a success.
    QCOMPARE(Access::state().errorId, 2003);
    QCOMPARE(Access::state().errorText,
             QStringLiteral("Es konnte nicht in den Ordner \"..\" gewechselt werden."));
    QVERIFY(!files.contains(QStringLiteral("htdocs/b/a/index.html")));
    QVERIFY(!files.contains(QStringLiteral("htdocs/b/a/vellumixftplog.log")));
}

void TestSessionFaults::homeFolderEntriesAreNotFollowed()
{
    // Many servers read "~" and "~name" in CWD as a home folder; such folders of an old log are not
    // entered, whatever they hold.
    SiteFixture::write(serverRoot(), {{QStringLiteral("htdocs/vellumixftplog.log"),
                                       "~\\\r\nx.html\r\n~tester\\\r\ny.html\r\n\\\r\n"},
                                      {QStringLiteral("htdocs/~/x.html"), "x"},
                                      {QStringLiteral("htdocs/~tester/y.html"), "y"}});
    startServer({});
    prepare().MagicUpload();
    QCOMPARE(Access::state().errorText, QString());
    const auto files = serverFiles();
    QCOMPARE(files.value(QStringLiteral("htdocs/~/x.html")), QByteArray("x"));
    QCOMPARE(files.value(QStringLiteral("htdocs/~tester/y.html")), QByteArray("y"));
    Access::closeDebugLog();
    QVERIFY(debugLog().contains(QStringLiteral("unzulässiger Name: ~\\x.html")));
}

void TestSessionFaults::oversizedOldLogIsNotRead_data()
{
    QTest::addColumn<bool>("endless");
    QTest::newRow("64-MiB-and-more") << false;
    // Every piece is a sign of life for the watchdog: only the limit ends this one.
    QTest::newRow("endless-stream") << true;
}

void TestSessionFaults::oversizedOldLogIsNotRead()
{
    // An old log of more than 64 MiB is no log of ours: its download is given up at that size,
    // nothing is deleted, and the run goes on.
    QFETCH(bool, endless);
    QByteArray log = "\\\r\nalt.html\r\n";
    if (!endless)
        log += QByteArray(64 * 1024 * 1024, 'x');
    SiteFixture::write(serverRoot(), {{QStringLiteral("htdocs/vellumixftplog.log"), log},
                                      {QStringLiteral("htdocs/alt.html"), "alt"}});
    log.clear();
    TestFtpServer::Options options;
    if (endless)
        options.faults = QStringList{QStringLiteral("RETR=endless")};
    startServer(options);
    prepare().MagicUpload();
    QCOMPARE(Access::state().errorText, QString());
    QCOMPARE(serverFiles().value(QStringLiteral("htdocs/alt.html")), QByteArray("alt"));
    QCOMPARE(serverFiles().value(QStringLiteral("htdocs/index.html")),
             SiteFixture::sampleSite().value(QStringLiteral("index.html")));
    Access::closeDebugLog();
    QVERIFY(debugLog().contains(QStringLiteral("mehr als 64 MiB")));
}

QTEST_GUILESS_MAIN(TestSessionFaults)
#include "tst_sessionfaults.moc"
