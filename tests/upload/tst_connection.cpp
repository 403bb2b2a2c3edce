#include "ftpresult.h"
#include "scriptedsession.h"
#include "stringtable.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QTimer>

using Access = classUploadTestAccess;

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void completionBeforeTheWaitEndsItAtOnce();
    void leftoverCompletionEndsTheNextWait();
    void cancelDuringPendingRequest();
    void connectResult_data();
    void connectResult();
    void cancelDuringConnectThen_data();
    void cancelDuringConnectThen();
    void watchdogLimit_data();
    void watchdogLimit();
    void activityRestartsTheCount();
    void watchdogEndsAConnectThatNeverCompletes();
    void debugLogRecordsOnlyAfterLogIn();
    void secondConnectStartsAnEmptyLog();
    void disconnectClosesTheLog();
    void failedConnectOpensNoLog();
    void logInTranscriptOnlyForTlsRefusal_data();
    void logInTranscriptOnlyForTlsRefusal();
    void tlsRefusalSaysWhy_data();
    void tlsRefusalSaysWhy();
    void waitingUsesNoProcessor();

private:
    QString logPath() const;
    std::unique_ptr<ScriptedSession> mSession;
    RecordingView *mView = nullptr;
    ScriptedFtp *mFtp = nullptr;
};

void TestConnection::init()
{
    mSession = std::make_unique<ScriptedSession>();
    mView = &mSession->view;
    mFtp = mSession->ftp;
    mFtp->setHost(QStringLiteral("ftp.example.de"));
    QFile::remove(logPath());
}

void TestConnection::cleanup()
{
    mSession.reset();
}

QString TestConnection::logPath() const
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/parcelup.log");
}

void TestConnection::completionBeforeTheWaitEndsItAtOnce()
{
    Access::session().FTPDone();
    Access::waitForCompletion();
    QVERIFY(!Access::state().done);
    QVERIFY(!Access::state().aborted);
}

void TestConnection::leftoverCompletionEndsTheNextWait()
{
    // A request's completion that nobody waited for ends the following wait without any new event.
    mFtp->QueryCurrentDirectory();
    QTRY_VERIFY_WITH_TIMEOUT(Access::state().done, 5000);
    mFtp->hang << QStringLiteral("CWD a");
    mFtp->ChangeDirectory(QStringLiteral("a"));
    Access::waitForCompletion();
    QVERIFY(!Access::state().done);
    QVERIFY(mFtp->isBusy());
}

void TestConnection::cancelDuringPendingRequest()
{
    mFtp->hang << QStringLiteral("PWD");
    QTimer::singleShot(0, [] { Access::session().FTPCancel(); });
    const QString folder = Access::session().FTPGetCurrentDir();
    QCOMPARE(folder, QString());
    QVERIFY(Access::state().aborted);
    QCOMPARE(Access::state().errorId, 2004);
    QCOMPARE(Access::state().errorText, QStringLiteral("Abbruch durch den Benutzer."));
    QCOMPARE(mFtp->log, (QStringList{"PWD", "ABOR"}));
}

void TestConnection::connectResult_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("aborted");
    QTest::addColumn<int>("errorId");
    QTest::addColumn<QString>("errorText");
    QTest::newRow("success") << 0 << false << 0 << "";
    QTest::newRow("password-refused") << 20530 << true << 2005 << "Benutzername/Kennwort falsch.";
    QTest::newRow("plain-530-is-no-login-reply")
        << 530 << true << 2000
        << "Die Verbindung zum FTP-Server \"ftp.example.de\" konnte nicht hergestellt werden.";
    QTest::newRow("minus-one")
        << -1 << true << 2000
        << "Die Verbindung zum FTP-Server \"ftp.example.de\" konnte nicht hergestellt werden.";
    QTest::newRow("refused")
        << int(FtpResult::ConnectionRefused) << true << 2000
        << "Die Verbindung zum FTP-Server \"ftp.example.de\" konnte nicht hergestellt werden.";
    QTest::newRow("tls-missing-or-failed")
        << int(FtpResult::TlsFailure) << true << 2000
        << "Die Verbindung zum FTP-Server \"ftp.example.de\" konnte nicht hergestellt werden.";
}

void TestConnection::connectResult()
{
    QFETCH(int, result);
    QFETCH(bool, aborted);
    QFETCH(int, errorId);
    QFETCH(QString, errorText);
    mFtp->connectResult = qint16(result);
    Access::setAborted(true); // an earlier failure is forgotten by a new connection
    // The step says how it ended as the recorded failure does.
    QCOMPARE(Access::session().FTPConnect().isDone(), !aborted);
    QCOMPARE(Access::state().aborted, aborted);
    QCOMPARE(Access::state().errorId, errorId);
    QCOMPARE(Access::state().errorText, errorText);
    QCOMPARE(Access::state().debugLogOpen, result == 0);
}

void TestConnection::cancelDuringConnectThen_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("errorId");
    QTest::addColumn<bool>("logOpen");
    QTest::addColumn<StepOutcome::Ending>("ending");
    QTest::newRow("success-stays-cancelled") << 0 << 2004 << true << StepOutcome::Ending::Cancelled;
    QTest::newRow("password-refused") << 20530 << 2005 << false << StepOutcome::Ending::Failed;
    QTest::newRow("other-failure")
        << int(FtpResult::ConnectionLost) << 2000 << false << StepOutcome::Ending::Failed;
}

void TestConnection::cancelDuringConnectThen()
{
    QFETCH(int, result);
    QFETCH(int, errorId);
    QFETCH(bool, logOpen);
    QFETCH(StepOutcome::Ending, ending);
    // The user cancels while the log-in is under way, and the component then reports how the log-in
    // went: a success keeps the cancellation (and opens the log), a failure replaces its message.
    mFtp->connectResult = qint16(result);
    mFtp->onStarted = [](const QString &) { Access::session().FTPCancel(); };
    QCOMPARE(Access::session().FTPConnect().ending(), ending);
    QVERIFY(Access::state().aborted);
    QCOMPARE(Access::state().errorId, errorId);
    QCOMPARE(Access::state().debugLogOpen, logOpen);
}

void TestConnection::watchdogLimit_data()
{
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("ticksThatPass");
    QTest::newRow("default-60") << 60 << 60;
    QTest::newRow("timeout-5") << 5 << 5;
    QTest::newRow("timeout-0") << 0 << 0;
}

void TestConnection::watchdogLimit()
{
    QFETCH(int, timeout);
    QFETCH(int, ticksThatPass);
    if (timeout != 60)
        Access::session().FTPTimeout(timeout);
    QCOMPARE(Access::state().timeout, timeout);
    for (int tick = 0; tick < ticksThatPass; ++tick)
        Access::session().TriggerWatchDog();
    QVERIFY(!Access::state().aborted);
    Access::session().TriggerWatchDog();
    QVERIFY(Access::state().aborted);
    QCOMPARE(Access::state().errorId, 2006);
    QCOMPARE(Access::state().errorText,
             QStringLiteral("Das Zeitlimit für einen Vorgang wurde überschritten."));

    // Every further tick records the time-out again, replacing what was recorded in between.
    Access::recordFailure(MessageId::FileNotUploaded, QStringLiteral("x"));
    Access::session().TriggerWatchDog();
    QCOMPARE(Access::state().errorId, 2006);
}

void TestConnection::activityRestartsTheCount()
{
    for (int tick = 0; tick < 59; ++tick)
        Access::session().TriggerWatchDog();
    emit mFtp->Activity(1024); // forwarded by the view like the window does
    QCOMPARE(Access::state().watchDogTicks, 0);
    for (int tick = 0; tick < 60; ++tick)
        Access::session().TriggerWatchDog();
    QVERIFY(!Access::state().aborted);
    Access::session().TriggerWatchDog();
    QVERIFY(Access::state().aborted);
}

void TestConnection::watchdogEndsAConnectThatNeverCompletes()
{
    // Connect raises at once and never completes: only the watchdog (or the user) ends the wait.
    mFtp->raise << QStringLiteral("CONNECT");
    Access::session().FTPTimeout(2);
    RecordingView::watchDogTimer().setInterval(10);
    RecordingView::watchDogTimer().start();
    Access::session().FTPConnect();
    QVERIFY(Access::state().aborted);
    QCOMPARE(Access::state().errorId, 2006);
}

void TestConnection::debugLogRecordsOnlyAfterLogIn()
{
    emit mFtp->DebugMessage(QStringLiteral("220 before log-in\r\n"));
    Access::session().FTPConnect();
    QVERIFY(Access::state().debugLogOpen);
    QCOMPARE(Access::state().debugLogPath, logPath());
    emit mFtp->DebugMessage(QStringLiteral("PWD\r\n"));
    emit mFtp->DebugMessage(QStringLiteral("257 \"/\""));
    emit mFtp->DebugMessage(QStringLiteral(" is current\r\n"));

    // Written as it arrives: the file is complete on disk while the log is still open.
    QFile log(logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll(), QByteArray("PWD\r\n257 \"/\" is current\r\n"));
    QCOMPARE(QFileInfo(logPath()).permissions() &
                 (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
             QFile::Permissions());
}

void TestConnection::secondConnectStartsAnEmptyLog()
{
    Access::session().FTPConnect();
    emit mFtp->DebugMessage(QStringLiteral("first\r\n"));
    Access::session().FTPConnect();
    emit mFtp->DebugMessage(QStringLiteral("second\r\n"));
    QFile log(logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll(), QByteArray("second\r\n"));
}

void TestConnection::disconnectClosesTheLog()
{
    Access::session().FTPConnect();
    Access::session().FTPDisconnect();
    QVERIFY(!Access::state().debugLogOpen);
    emit mFtp->DebugMessage(QStringLiteral("after\r\n"));
    QCOMPARE(mFtp->log.last(), QStringLiteral("QUIT"));
    QFile log(logPath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll(), QByteArray());
}

void TestConnection::failedConnectOpensNoLog()
{
    QFile old(logPath());
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("earlier process\r\n");
    old.close();
    mFtp->connectResult = 20530;
    Access::session().FTPConnect();
    QVERIFY(!Access::state().debugLogOpen);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("earlier process\r\n"));
}

void TestConnection::logInTranscriptOnlyForTlsRefusal_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("expectedLog");
    const QByteArray old("earlier process\r\n");
    // Refused for missing or failed TLS: the message names only the host, so the log-in's
    // transcript with the component's explanation is what tells the user why.
    QTest::newRow("tls-failure-writes-the-log-in")
        << int(FtpResult::TlsFailure)
        << QByteArray("220 ready\r\nFEAT\r\n211 End\r\n# Plain FTP refused: ...\r\n");
    QTest::newRow("changed-certificate-writes-the-log-in")
        << int(FtpResult::CertificateChanged)
        << QByteArray("220 ready\r\nFEAT\r\n211 End\r\n# Plain FTP refused: ...\r\n");
    // Every other failure leaves the earlier log as it was.
    QTest::newRow("wrong-password-keeps-old-log") << 20530 << old;
    QTest::newRow("refused-connection-keeps-old-log") << int(FtpResult::ConnectionRefused) << old;
    QTest::newRow("lost-connection-keeps-old-log") << int(FtpResult::ConnectionLost) << old;
    QTest::newRow("proxy-failure-keeps-old-log") << int(FtpResult::ProxyFailure) << old;
    // A successful log-in starts the log empty, as before: the transcript begins with the first
    // request after it.
    QTest::newRow("success-starts-empty") << 0 << QByteArray();
}

void TestConnection::logInTranscriptOnlyForTlsRefusal()
{
    QFETCH(int, result);
    QFETCH(QByteArray, expectedLog);
    QFile old(logPath());
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("earlier process\r\n");
    old.close();

    mFtp->connectResult = qint16(result);
    // What the component says while it logs in, delivered before the completion.
    mFtp->onStarted = [this](const QString &request) {
        if (request != QLatin1String("CONNECT"))
            return;
        for (const char *line :
             {"220 ready\r\n", "FEAT\r\n", "211 End\r\n", "# Plain FTP refused: ...\r\n"})
            emit mFtp->DebugMessage(QString::fromLatin1(line));
    };
    Access::session().FTPConnect();
    QCOMPARE(Access::state().debugLogOpen, result == 0);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), expectedLog);
    old.close();
    // A log the session wrote is its owner's only, whichever way it came to be.
    if (result == 0 || result == FtpResult::TlsFailure || result == FtpResult::CertificateChanged)
        QCOMPARE(QFileInfo(logPath()).permissions() &
                     (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
                 QFile::Permissions());

    // Nothing of this log-in is kept for the next one.
    mFtp->onStarted = {};
    mFtp->connectResult = FtpResult::TlsFailure;
    Access::session().FTPConnect();
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray());
}

void TestConnection::tlsRefusalSaysWhy_data()
{
    QTest::addColumn<int>("reason"); // -1: the component gave none
    QTest::addColumn<bool>("preview");
    QTest::addColumn<QByteArray>("accepted");
    QTest::addColumn<int>("detail");
    QTest::addColumn<QString>("argument");
    using R = FtpTlsRefusal::Reason;
    const auto row = [](const char *name, int reason, int detail, const QString &argument,
                        bool preview = false, const QByteArray &accepted = {}) {
        QTest::newRow(name) << reason << preview << accepted << detail << argument;
    };
    const QString target = QStringLiteral("ftp.example.de:2121");
    const QString renewed = QStringLiteral("A9:4B:0C:1D:2E:3F:40:51:62:73:84:95:06:A7:B8:C9:D0:E1:"
                                           "F2:03:14:25:36:47:58:69:7A:8B:9C:AD:BE:CF");
    row("no-longer-offered", int(R::NoLongerOffered), 4150, target);
    row("required-by-ftpes", int(R::RequiredButRefused), 4151, target);
    row("handshake-failed", int(R::HandshakeFailed), 4152, target);
    row("data-protection-refused", int(R::DataProtectionRefused), 4153, target);
    row("trust-list-unusable", int(R::CertificateUnusable), 4154, QStringLiteral("/s/known"));
    row("certificate-changed", int(R::CertificateChanged), 4155, renewed);
    row("certificate-changed-in-a-preview", int(R::CertificateChanged), 4155, renewed, true);
    row("certificate-changed-not-the-accepted", int(R::CertificateChanged), 4156, renewed, false,
        QByteArray(64, 'b'));
    row("no-reason-given", -1, 0, QString());
}

// Each refusal over TLS ends with the connection message and the sentence that says which refusal
// it was and what the user can do: none reads like a wrong host name. A changed certificate is
// asked about first (the watchdog paused meanwhile), except in a preview.
void TestConnection::tlsRefusalSaysWhy()
{
    QFETCH(int, reason);
    QFETCH(bool, preview);
    QFETCH(QByteArray, accepted);
    QFETCH(int, detail);
    QFETCH(QString, argument);
    const bool changed = reason == int(FtpTlsRefusal::Reason::CertificateChanged);
    mFtp->connectResult = changed ? FtpResult::CertificateChanged : FtpResult::TlsFailure;
    if (reason >= 0) {
        FtpTlsRefusal refusal;
        refusal.reason = FtpTlsRefusal::Reason(reason);
        refusal.plainTarget = QStringLiteral("ftp.example.de:2121");
        refusal.certificateStorePath = QStringLiteral("/s/known");
        refusal.presented.fingerprint =
            QString(argument).remove(QLatin1Char(':')).toLower().toLatin1();
        mFtp->connectRefusal = refusal;
    }
    Access::session().setPreviewOnly(preview);
    Access::session().setAcceptedCertificate(accepted);
    RecordingView::watchDogTimer().start();
    Access::session().FTPConnect();
    QString expected = ResourceString(MessageId::ConnectionFailed)
                           .replace(QStringLiteral("%1"), QStringLiteral("ftp.example.de"));
    if (detail)
        expected += QLatin1Char(' ') + ResourceString(MessageId(detail)).replace("%1", argument);
    QCOMPARE(Access::state().errorText, expected);
    QCOMPARE(mView->certificatesAsked.size(), changed && !preview ? 1 : 0);
    QVERIFY(!mView->watchDogRanWhileAsked);
}

void TestConnection::waitingUsesNoProcessor()
{
    // A request that takes a while: the wait must sleep in the event dispatcher, not spin.
    mFtp->hang << QStringLiteral("PWD");
    mFtp->QueryCurrentDirectory();
    QTimer::singleShot(1500, [] { Access::session().FTPDone(); });
    const std::clock_t before = std::clock();
    Access::waitForCompletion();
    const double cpuSeconds = double(std::clock() - before) / CLOCKS_PER_SEC;
    QVERIFY2(cpuSeconds < 0.3,
             qPrintable(QStringLiteral("the wait used %1 s of processor time").arg(cpuSeconds)));
}

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
