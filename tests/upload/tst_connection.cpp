#include "ftpresult.h"
#include "scriptedsession.h"

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
    void changedCertificateIsAQuestion_data();
    void changedCertificateIsAQuestion();
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
    Access::session().FTPConnect();
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
    QTest::newRow("success-stays-cancelled") << 0 << 2004 << true;
    QTest::newRow("password-refused") << 20530 << 2005 << false;
    QTest::newRow("other-failure") << int(FtpResult::ConnectionLost) << 2000 << false;
}

void TestConnection::cancelDuringConnectThen()
{
    QFETCH(int, result);
    QFETCH(int, errorId);
    QFETCH(bool, logOpen);
    // The user cancels while the log-in is under way, and the component then reports how the log-in
    // went: a success keeps the cancellation (and opens the log), a failure replaces its message.
    mFtp->connectResult = qint16(result);
    mFtp->onStarted = [](const QString &) { Access::session().FTPCancel(); };
    Access::session().FTPConnect();
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

namespace {

const QByteArray kTrusted("3f1c9e0a7b55d2e48f9a01c6b7d3e25f4a8c90b1d2e3f405162738495a6b7c8d");
const QByteArray kRenewed("a94b0c1d2e3f40516273849506a7b8c9d0e1f2031425364758697a8b9cadbecf");
const QString kRenewedShown = QStringLiteral("A9:4B:0C:1D:2E:3F:40:51:62:73:84:95:06:A7:B8:C9:D0:"
                                             "E1:F2:03:14:25:36:47:58:69:7A:8B:9C:AD:BE:CF");

FtpTlsRefusal Refusal(FtpTlsRefusal::Reason reason)
{
    FtpTlsRefusal refusal;
    refusal.reason = reason;
    refusal.host = QStringLiteral("ftp.example.de");
    refusal.port = 2121;
    refusal.plainTarget = QStringLiteral("ftp.example.de:2121");
    refusal.certificateStorePath = QStringLiteral("/home/anna/.local/state/known-certificates");
    if (reason == FtpTlsRefusal::Reason::CertificateChanged) {
        refusal.trustedFingerprint = kTrusted;
        refusal.presented = FtpCertificateSummary{
            kRenewed, QStringLiteral("ftp.example.de"), QStringLiteral("Beispiel CA"),
            QDateTime(QDate(2025, 2, 1), QTime(12, 0), Qt::UTC),
            QDateTime(QDate(2025, 5, 2), QTime(12, 0), Qt::UTC)};
    }
    return refusal;
}

} // namespace

void TestConnection::tlsRefusalSaysWhy_data()
{
    QTest::addColumn<int>("reason"); // -1: the component gave none
    QTest::addColumn<QByteArray>("accepted");
    QTest::addColumn<QString>("why");
    using R = FtpTlsRefusal::Reason;
    QTest::newRow("no-longer-offered")
        << int(R::NoLongerOffered) << QByteArray()
        << "Der Server hat sich früher verschlüsselt (TLS) angemeldet und verweigert das jetzt – "
           "ein Umbau beim Anbieter oder ein Angriff; das Kennwort wurde nicht gesendet. Fragen "
           "Sie Ihren Anbieter; hat er TLS abgeschaltet, tragen Sie als Server "
           "„ftp://ftp.example.de:2121“ ein.";
    QTest::newRow("required-by-ftpes")
        << int(R::RequiredButRefused) << QByteArray()
        << "Der Server verweigert die Verschlüsselung (TLS), die „ftpes://“ verlangt; das "
           "Kennwort wurde nicht gesendet. Fragen Sie Ihren Anbieter; nur wenn der Server kein "
           "TLS kann, tragen Sie als Server „ftp://ftp.example.de:2121“ ein.";
    QTest::newRow("handshake-failed")
        << int(R::HandshakeFailed) << QByteArray()
        << "Die Verschlüsselung (TLS) kam nicht zustande – ein Fehler des Servers oder ein "
           "Eingriff auf dem Weg; das Kennwort wurde nicht gesendet. Fragen Sie Ihren Anbieter; "
           "ist sein TLS dauerhaft defekt, tragen Sie als Server „ftp://ftp.example.de:2121“ ein.";
    QTest::newRow("data-protection-refused")
        << int(R::DataProtectionRefused) << QByteArray()
        << "Der Server verweigert die Verschlüsselung der Dateiübertragung (PROT P). Fragen Sie "
           "Ihren Anbieter; nur wenn der Server das nicht kann, tragen Sie als Server "
           "„ftp://ftp.example.de:2121“ ein.";
    QTest::newRow("trust-list-unusable")
        << int(R::CertificateUnusable) << QByteArray()
        << "Das Zertifikat des Servers lässt sich nicht prüfen: Die Liste der vertrauten "
           "Zertifikate „/home/anna/.local/state/known-certificates“ kann nicht gelesen oder "
           "geschrieben werden.";
    QTest::newRow("certificate-changed")
        << int(R::CertificateChanged) << QByteArray()
        << "Sein Zertifikat hat sich geändert und lässt sich nicht prüfen. Nennt Ihr Anbieter "
           "diesen Fingerabdruck, übernehmen Sie es mit: parcelup --accept-certificate " +
               kRenewedShown;
    QTest::newRow("certificate-changed-not-the-accepted")
        << int(R::CertificateChanged) << kTrusted
        << "Sein Zertifikat hat sich geändert und lässt sich nicht prüfen; sein Fingerabdruck " +
               kRenewedShown + " ist nicht der mit --accept-certificate angegebene.";
    QTest::newRow("no-reason-given") << -1 << QByteArray() << QString();
}

// Each refusal over TLS ends with the connection message and a sentence that says which refusal
// it was and what the user can do: none reads like a wrong host name.
void TestConnection::tlsRefusalSaysWhy()
{
    QFETCH(int, reason);
    QFETCH(QByteArray, accepted);
    QFETCH(QString, why);
    const bool changed = reason == int(FtpTlsRefusal::Reason::CertificateChanged);
    mFtp->connectResult = changed ? FtpResult::CertificateChanged : FtpResult::TlsFailure;
    if (reason >= 0)
        mFtp->connectRefusal = Refusal(FtpTlsRefusal::Reason(reason));
    Access::session().setAcceptedCertificate(accepted);
    Access::session().FTPConnect();
    const QString connection =
        QStringLiteral("Die Verbindung zum FTP-Server \"ftp.example.de\" konnte nicht hergestellt "
                       "werden.");
    QCOMPARE(Access::state().errorId, 2000);
    QCOMPARE(Access::state().errorText,
             why.isEmpty() ? connection : connection + QLatin1Char(' ') + why);
    // Nobody could be asked here.
    QCOMPARE(mView->certificatesAsked.size(), changed ? 1 : 0);
}

void TestConnection::changedCertificateIsAQuestion_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("preview");
    QTest::addColumn<int>("errorId");
    QTest::addColumn<QString>("errorText");
    const QString refused =
        QStringLiteral("Die Verbindung zum FTP-Server \"ftp.example.de\" konnte nicht hergestellt "
                       "werden. Sein Zertifikat hat sich geändert");
    QTest::newRow("ja-connects-again-with-the-new-one")
        << int(CertificateAnswer::Accept) << false << 0 << QString();
    QTest::newRow("nein-ends-the-run")
        << int(CertificateAnswer::Refuse) << false << 4157
        << "Das neue Zertifikat des FTP-Servers \"ftp.example.de\" wurde nicht angenommen. Es "
           "wurde nichts übertragen.";
    QTest::newRow("nobody-to-ask-says-how")
        << int(CertificateAnswer::RefuseAndReport) << false << 2000 << refused;
    QTest::newRow("preview-asks-nothing")
        << int(CertificateAnswer::Accept) << true << 2000 << refused;
}

// The session asks before anything is sent, with the watchdog paused; on yes the component takes
// exactly the certificate shown, at a new log-in.
void TestConnection::changedCertificateIsAQuestion()
{
    QFETCH(int, answer);
    QFETCH(bool, preview);
    QFETCH(int, errorId);
    QFETCH(QString, errorText);
    mFtp->connectResult = FtpResult::CertificateChanged;
    mFtp->connectRefusal = Refusal(FtpTlsRefusal::Reason::CertificateChanged);
    mView->certificateAnswer = CertificateAnswer(answer);
    // The server takes the accepted certificate at the second log-in.
    mFtp->onStarted = [this](const QString &request) {
        if (request == QLatin1String("CONNECT") && mFtp->log.contains(request)) {
            mFtp->connectResult = 0;
            mFtp->connectRefusal.reset();
        }
    };
    RecordingView::watchDogTimer().start();
    Access::session().setPreviewOnly(preview);
    Access::session().FTPConnect();

    QCOMPARE(Access::state().errorId, errorId);
    QVERIFY2(Access::state().errorText.startsWith(errorText),
             qPrintable(Access::state().errorText));
    QCOMPARE(mFtp->log.count(QStringLiteral("CONNECT")), errorId == 0 ? 2 : 1);
    if (preview) {
        QVERIFY(mView->certificatesAsked.isEmpty());
        return;
    }
    QCOMPARE(mView->certificatesAsked.size(), 1);
    QCOMPARE(mView->certificatesAsked.first().host, QStringLiteral("ftp.example.de"));
    QCOMPARE(mView->certificatesAsked.first().trustedFingerprint, kTrusted);
    QCOMPARE(mView->certificatesAsked.first().presented.fingerprint, kRenewed);
    QVERIFY(!mView->watchDogRanWhileAsked);
    QVERIFY(RecordingView::watchDogTimer().isActive());
    QCOMPARE(Access::state().debugLogOpen, errorId == 0);
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
