#include "connectionwatch.h"
#include "sitefixture.h"
#include "sitetree.h"
#include "suiteftpservers.h"
#include "testftpserver.h"
#include "testprocess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <filesystem>

namespace {

struct Run
{
    int status = -1;
    QStringList lines;
    QString errors;
};

} // namespace

// The real parcelup program, started as a site builder or a build job starts it, against real FTP
// servers: what it prints, what it leaves on the server and how it exits.
class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void publishesWithoutWindow_data();
    void publishesWithoutWindow();
    void unchangedSiteSendsOnlyTheLog();
    void deletesWhatWasDeletedLocally();
    void failures_data();
    void failures();
    void serverThatRefusesAuthTlsGetsPlainFtp();
    void hostThatSpokeTlsRefusesPlainText_data();
    void hostThatSpokeTlsRefusesPlainText();
    void renewedCertificateIsAcceptedByFingerprint();
    void emptySettingsInGermanLocale();
    void interruptCancelsTheTransfer();
    void secondInstanceIsRefused();
    void commandLineErrors_data();
    void commandLineErrors();
    void windowPublishesAndClosesOnRequest();
    void closingTheWindowDuringATransferEndsQuietly();
    void onlyWhatTheRunNeedsIsLoaded_data();
    void onlyWhatTheRunNeedsIsLoaded();
    void missingWindowModulePublishesInTheTerminal();
    void secondCopyIsRefusedWhileTheResultIsShown();
    void restoredFilesArePublishedAgain_data();
    void restoredFilesArePublishedAgain();
    void interruptWhileReadingTheOldLogEndsQuietly();
    void eachDestinationGetsTheWholeSite();
    void allPublishesEveryFileAgain();
    void rewrittenFilesAreComparedByContent_data();
    void rewrittenFilesAreComparedByContent();
    void storeOfTheEarlierVersionUploadsEverythingOnce_data();
    void storeOfTheEarlierVersionUploadsEverythingOnce();
    void previewChangesNothing_data();
    void previewChangesNothing();
    void massDeletionIsNotSilent_data();
    void massDeletionIsNotSilent();
    void unpublishableNamesAreNamed_data();
    void unpublishableNamesAreNamed();

private:
    void startServer(int kind = int(TestFtpServer::Kind::Pyftpdlib), qint64 throttle = 0,
                     const QStringList &faults = {});
    void startServer(TestFtpServer::Options options);
    // The suite's server of that kind with its folder emptied, for the cases that keep its default
    // options and never stop it.
    void useSuiteServer(int kind = int(TestFtpServer::Kind::Pyftpdlib));
    [[nodiscard]] TestFtpServer &server() const { return mServer ? *mServer : *mSuiteServer; }
    [[nodiscard]] QString serverRoot() const
    {
        return mSuiteServer ? mSuiteServer->root() : mServerRoot->path();
    }
    // The debug log the program writes beside itself (its folder is writable here).
    static QString debugLogPath()
    {
        return QFileInfo(QStringLiteral(PARCELUP_BINARY)).absolutePath() +
               QStringLiteral("/parcelup.log");
    }
    static QString debugLog();
    static void writeOldDebugLog();
    void writeSettings(QMap<QString, QString> overrides = {});
    QProcessEnvironment environment() const;
    Run run(const QStringList &arguments, const QProcessEnvironment &env);
    Run runWithoutWindow()
    {
        return run({"--no-window", "--settings", settingsPath()}, environment());
    }
    QString settingsPath() const { return mWork->filePath(QStringLiteral("parcelup.ini")); }
    QString siteFolder() const { return mWork->filePath(QStringLiteral("site")); }
    QString serverBase() const { return serverRoot() + QStringLiteral("/htdocs"); }
    QMap<QString, QByteArray> expected() const
    {
        return SiteFixture::expectedOnServer(SiteFixture::read(siteFolder()));
    }
    bool waitForSessionEnd(int timeoutMs);
    // Starts the program on a site with a large file, served by a slow server, and returns once the
    // large file is on its way.
    std::unique_ptr<QProcess> startSlowPublication(bool window);
    // The program with the settings file, with its window (offscreen) or in the terminal; started,
    // or null when it could not be.
    std::unique_ptr<QProcess> startProgram(bool window, const QProcessEnvironment &env,
                                           const QString &binary = QStringLiteral(PARCELUP_BINARY));

    std::unique_ptr<QTemporaryDir> mWork;
    std::unique_ptr<QTemporaryDir> mServerRoot;
    std::unique_ptr<TestFtpServer> mServer;
    TestFtpServer *mSuiteServer = nullptr;
    SuiteFtpServers mServers;
};

void TestProgram::init()
{
    mWork = std::make_unique<QTemporaryDir>();
    mServerRoot = std::make_unique<QTemporaryDir>();
    SiteFixture::write(siteFolder(), SiteFixture::sampleSite());
}

void TestProgram::cleanup()
{
    mServer.reset();
    mSuiteServer = nullptr;
    mServerRoot.reset();
    // By their bytes: QTemporaryDir cannot remove names that are not UTF-8.
    std::error_code ignored;
    std::filesystem::remove_all(QFile::encodeName(mWork->path()).toStdString(), ignored);
    mWork.reset();
}

void TestProgram::startServer(int kind, qint64 throttle, const QStringList &faults)
{
    TestFtpServer::Options options;
    options.kind = TestFtpServer::Kind(kind);
    options.throttleBytesPerSecond = throttle;
    options.faults = faults;
    startServer(options);
}

void TestProgram::startServer(TestFtpServer::Options options)
{
    if (!mServer)
        mServer = std::make_unique<TestFtpServer>();
    options.root = mServerRoot->path();
    QString error;
    if (options.tls == TestFtpServer::Tls::Explicit || options.tls == TestFtpServer::Tls::Forced)
        QVERIFY2(TestFtpServer::createSelfSignedCertificate(
                     mWork->path(), QStringLiteral("ftp.test"), &options, &error),
                 qPrintable(error));
    QVERIFY2(mServer->start(options, &error), qPrintable(error));
}

void TestProgram::useSuiteServer(int kind)
{
    QString error;
    mSuiteServer = mServers.freshServer(TestFtpServer::Kind(kind), &error);
    QVERIFY2(mSuiteServer, qPrintable(error));
}

QString TestProgram::debugLog()
{
    QFile log(debugLogPath());
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

void TestProgram::writeOldDebugLog()
{
    QFile log(debugLogPath());
    QVERIFY(log.open(QIODevice::WriteOnly | QIODevice::Truncate));
    log.write("# an earlier run\r\n");
}

void TestProgram::writeSettings(QMap<QString, QString> overrides)
{
    const bool hasServer = mServer || mSuiteServer;
    QMap<QString, QString> values{{"FTPLocalBaseDir", siteFolder()},
                                  {"FTPRemoteBaseDir", "htdocs"},
                                  {"FTPRemoteURL", "http://www.example.de/"},
                                  {"FTPHost", hasServer ? server().host() : QString()},
                                  {"FTPLogonName", hasServer ? server().user() : QString()},
                                  {"FTPPassword", hasServer ? server().password() : QString()},
                                  {"FTPPassive", "1"}};
    for (auto it = overrides.cbegin(); it != overrides.cend(); ++it)
        values.insert(it.key(), it.value());
    QFile file(settingsPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[parcelup]\n");
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        file.write(
            (it.key() + QStringLiteral("=\"") + it.value() + QStringLiteral("\"\n")).toUtf8());
}

QProcessEnvironment TestProgram::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), mWork->filePath(QStringLiteral("state")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), mWork->filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), mWork->filePath(QStringLiteral("runtime")));
    QDir().mkpath(mWork->filePath(QStringLiteral("runtime")));
    QFile::setPermissions(mWork->filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return env;
}

Run TestProgram::run(const QStringList &arguments, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(PARCELUP_BINARY), arguments);
    Run result;
    if (!process.waitForStarted() || !process.waitForFinished(180000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    result.lines = out.split(QLatin1Char('\n'));
    if (!result.lines.isEmpty() && result.lines.last().isEmpty())
        result.lines.removeLast();
    result.errors = QString::fromUtf8(process.readAllStandardError());
    return result;
}

bool TestProgram::waitForSessionEnd(int timeoutMs)
{
    // The session is over when the upload log has reached the server and the program has closed its
    // control connection; the result is then on the screen.
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (QFile::exists(serverBase() + QStringLiteral("/vellumixftplog.log")) &&
            EstablishedConnectionsTo(server().port()) == 0)
            return true;
        QTest::qWait(50);
    }
    return false;
}

std::unique_ptr<QProcess> TestProgram::startSlowPublication(bool window)
{
    SiteFixture::write(siteFolder(), {{QStringLiteral("zz-gross.bin"), QByteArray(3000000, 'g')}});
    startServer(int(TestFtpServer::Kind::Pyftpdlib), 200000);
    writeSettings();
    std::unique_ptr<QProcess> process = startProgram(window, environment());
    if (!process)
        return nullptr;
    QDeadlineTimer deadline(60000);
    while (!QFile::exists(serverBase() + QStringLiteral("/zz-gross.bin")) && !deadline.hasExpired())
        QTest::qWait(20);
    return process;
}

std::unique_ptr<QProcess> TestProgram::startProgram(bool window, const QProcessEnvironment &env,
                                                    const QString &binary)
{
    QProcessEnvironment withFace = env;
    QStringList arguments{"--settings", settingsPath()};
    if (window)
        withFace.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    else
        arguments.prepend(QStringLiteral("--no-window"));
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(withFace);
    process->start(binary, arguments);
    if (!process->waitForStarted())
        return nullptr;
    return process;
}

void TestProgram::publishesWithoutWindow_data()
{
    TestFtpServer::addKindRows();
}

void TestProgram::publishesWithoutWindow()
{
    QFETCH(int, kind);
    useSuiteServer(kind);
    writeSettings();
    const Run result = runWithoutWindow();
    QCOMPARE(result.errors, QString());
    QCOMPARE(result.status, 0);
    QCOMPARE(SiteFixture::read(serverBase()), expected());

    // Not a terminal: plain lines only, the window's texts, no control characters.
    for (const QString &line : result.lines) {
        for (const QChar c : line)
            QVERIFY2(c.category() != QChar::Other_Control, qPrintable(line));
    }
    const QStringList &lines = result.lines;
    QVERIFY(lines.contains(QStringLiteral("▸ Ermittle zu übertragende Dateien")));
    QVERIFY(lines.contains(QStringLiteral("✓ Verbinde mit Server")));
    QVERIFY(lines.contains(QStringLiteral("Übertrage Datei: /htdocs/seiten/a/b/c/tief.html")));
    QVERIFY(lines.contains(QStringLiteral("Übertrage Datei: /htdocs/bilder/logo.png")));
    QVERIFY(lines.contains(QStringLiteral("100 % Restdauer: beinahe fertig")));
    const qsizetype summary = lines.indexOf(QStringLiteral("Zusammenfassung:"));
    QVERIFY(summary > 0);
    QCOMPARE(lines.size(), summary + 5);
    // A run of a few hundred milliseconds, whose start time was rounded to the whole second.
    QVERIFY2(lines.at(summary + 1) == QStringLiteral("Gesamtdauer: unter 1 Sekunde") ||
                 lines.at(summary + 1) == QStringLiteral("Gesamtdauer: 1 Sekunde"),
             qPrintable(lines.at(summary + 1)));
    QCOMPARE(lines.at(summary + 2),
             QStringLiteral("Übertragen: 8 Dateien (%1 KB)")
                 .arg(SiteFixture::read(siteFolder()).values().join().size() / 1000));
    QVERIFY(lines.at(summary + 3).startsWith(QStringLiteral("Geschwindigkeit: ")));
    QVERIFY(lines.at(summary + 3).endsWith(QStringLiteral(" KB/Sekunde")));
    QCOMPARE(lines.at(summary + 4), QStringLiteral("✓ Übertragung fehlerfrei abgeschlossen."));
}

void TestProgram::unchangedSiteSendsOnlyTheLog()
{
    useSuiteServer();
    writeSettings();
    QCOMPARE(runWithoutWindow().status, 0);
    const Run again = runWithoutWindow();
    QCOMPARE(again.status, 0);
    QVERIFY2(again.lines.filter(QStringLiteral("Übertrage Datei:")) ==
                 QStringList{QStringLiteral("Übertrage Datei: /htdocs/vellumixftplog.log")},
             qPrintable(again.lines.join(QLatin1Char('\n'))));
    QVERIFY(again.lines.filter(QStringLiteral("Übertragen: 1 Dateien (")).size() == 1);
}

void TestProgram::deletesWhatWasDeletedLocally()
{
    useSuiteServer();
    writeSettings({{"FTPDelete", "1"}});
    QCOMPARE(runWithoutWindow().status, 0);
    QVERIFY(QDir(siteFolder() + QStringLiteral("/seiten/a")).removeRecursively());
    QVERIFY(QFile::remove(siteFolder() + QStringLiteral("/Style.CSS")));
    const Run result = runWithoutWindow();
    QCOMPARE(result.status, 0);
    QVERIFY(result.lines.contains(QStringLiteral("Lese Datei: /htdocs/vellumixftplog.log")));
    QVERIFY(result.lines.contains(QStringLiteral("Lösche Datei: /htdocs/style.css")));
    QVERIFY(result.lines.contains(QStringLiteral("Lösche Ordner: /htdocs/seiten/a/b/c/")));
    QCOMPARE(SiteFixture::read(serverBase()), expected());
}

void TestProgram::failures_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("wrong-password") << "password";
    QTest::newRow("nothing-listening") << "port";
    QTest::newRow("missing-site-folder") << "folder";
}

void TestProgram::failures()
{
    QFETCH(QString, what);
    // The case that stops its server needs one of its own.
    if (what == QLatin1String("port"))
        startServer();
    else
        useSuiteServer();
    QString message;
    QStringList steps;
    if (what == QLatin1String("password")) {
        writeSettings({{"FTPPassword", "falsch"}});
        message = QStringLiteral("✗ Benutzername/Kennwort falsch.");
        steps = {QStringLiteral("✗ Verbinde mit Server")};
    } else if (what == QLatin1String("port")) {
        const quint16 port = server().port();
        server().stop();
        writeSettings({{"FTPHost", QStringLiteral("127.0.0.1:%1").arg(port)}});
        message = QStringLiteral(
                      "✗ Die Verbindung zum FTP-Server \"127.0.0.1:%1\" konnte nicht hergestellt "
                      "werden.")
                      .arg(port);
        steps = {QStringLiteral("✗ Verbinde mit Server")};
    } else {
        writeSettings({{"FTPLocalBaseDir", mWork->filePath(QStringLiteral("fehlt"))}});
        message = QStringLiteral("✗ Keine gültigen erzeugten Seiten gefunden.");
    }
    writeOldDebugLog();
    const Run result = runWithoutWindow();
    QCOMPARE(result.status, 1);
    QCOMPARE(result.lines.last(), message);
    for (const QString &step : steps)
        QVERIFY2(result.lines.contains(step), qPrintable(result.lines.join(QLatin1Char('\n'))));
    QVERIFY(result.lines.contains(QStringLiteral("Übertragen: 0 Dateien (0 KB)")));
    QVERIFY(result.lines.filter(QStringLiteral("Übertrage Datei:")).isEmpty());
    // Only a connection refused over TLS replaces the debug log; these leave it as it was.
    QCOMPARE(debugLog(), QStringLiteral("# an earlier run\r\n"));
}

void TestProgram::serverThatRefusesAuthTlsGetsPlainFtp()
{
    // Lists AUTH TLS in FEAT and answers it with 500, as a widely used server does when it was
    // built with TLS but runs without a certificate. Everyday clients publish there in plain FTP.
    TestFtpServer::Options options;
    options.tls = TestFtpServer::Tls::Refused;
    startServer(options);
    writeSettings();
    const Run result = runWithoutWindow();
    QCOMPARE(result.errors, QString());
    QCOMPARE(result.status, 0);
    QCOMPARE(SiteFixture::read(serverBase()), expected());
    const QString log = debugLog();
    QVERIFY2(log.startsWith(QStringLiteral("# Logged in to %1 with plain FTP without encryption, "
                                           "because the server refused AUTH TLS (500 This "
                                           "security scheme is not implemented); ")
                                .arg(server().host())),
             qPrintable(log.left(400)));
    QVERIFY(!log.contains(server().password()));
    QVERIFY(!QFile::exists(mWork->filePath(QStringLiteral("state/vellumix/parcelup/tls-hosts"))));
}

void TestProgram::hostThatSpokeTlsRefusesPlainText_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("degradedTls");
    QTest::addColumn<QString>("why"); // how the second sentence begins
    const QString noLongerOffered =
        QStringLiteral("Der Server hat sich früher verschlüsselt (TLS)");
    for (const auto kind : TestFtpServer::kinds()) {
        QTest::addRow("%s-feat-stripped", qPrintable(TestFtpServer::kindName(kind)))
            << int(kind) << int(TestFtpServer::Tls::None) << noLongerOffered;
    }
    QTest::newRow("pyftpdlib-auth-refused") << int(TestFtpServer::Kind::Pyftpdlib)
                                            << int(TestFtpServer::Tls::Refused) << noLongerOffered;
    QTest::newRow("pyftpdlib-handshake-fails")
        << int(TestFtpServer::Kind::Pyftpdlib) << int(TestFtpServer::Tls::HangsUp)
        << "Die Verschlüsselung (TLS) kam nicht zustande";
}

void TestProgram::hostThatSpokeTlsRefusesPlainText()
{
    QFETCH(int, kind);
    QFETCH(int, degradedTls);
    QFETCH(QString, why);
    // Yesterday: published over TLS with a bare host, the certificate trusted on first use.
    TestFtpServer::Options options;
    options.kind = TestFtpServer::Kind(kind);
    options.tls = TestFtpServer::Tls::Explicit;
    startServer(options);
    writeSettings();
    QCOMPARE(runWithoutWindow().status, 0);
    const quint16 port = server().port();
    QVERIFY2(debugLog().contains(QStringLiteral("From now on plain FTP to 127.0.0.1 port %1 is "
                                                "refused")
                                     .arg(port)),
             qPrintable(debugLog().left(600)));
    const QString tlsHosts = mWork->filePath(QStringLiteral("state/vellumix/parcelup/tls-hosts"));
    QFile remembered(tlsHosts);
    QVERIFY(remembered.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(remembered.readAll())
                .split(QLatin1Char('\n'))
                .contains(QStringLiteral("127.0.0.1 %1").arg(port)));

    // Today: the same host and port without TLS, as someone on the way who strips it shows it.
    const auto published = SiteFixture::read(serverBase());
    SiteFixture::write(siteFolder(), {{QStringLiteral("neu.html"), "<p>neu</p>"}});
    TestFtpServer::Options degraded;
    degraded.kind = TestFtpServer::Kind(kind);
    degraded.tls = TestFtpServer::Tls(degradedTls);
    degraded.port = port;
    degraded.commandLog = mWork->filePath(QStringLiteral("commands.log"));
    server().stop();
    startServer(degraded);
    const Run result = runWithoutWindow();
    QCOMPARE(result.status, 1);
    // Not the words of a wrong host name: why, and what the user can do.
    QVERIFY2(result.lines.last().startsWith(
                 QStringLiteral("✗ Die Verbindung zum FTP-Server \"127.0.0.1:%1\" konnte nicht "
                                "hergestellt werden. %2")
                     .arg(port)
                     .arg(why)),
             qPrintable(result.lines.last()));
    QVERIFY(result.lines.last().endsWith(QStringLiteral("„ftp://127.0.0.1:%1“ ein.").arg(port)));
    QVERIFY(result.lines.filter(QStringLiteral("Übertrage Datei:")).isEmpty());
    QCOMPARE(SiteFixture::read(serverBase()), published);

    QString error;
    const auto commands = server().receivedCommands(&error);
    QVERIFY2(commands, qPrintable(error));
    QVERIFY2(commands->contains(QStringLiteral("FEAT")), qPrintable(commands->join('|')));
    for (const QString &command : *commands)
        QVERIFY2(!command.startsWith(QStringLiteral("USER")) &&
                     !command.startsWith(QStringLiteral("PASS")),
                 qPrintable(command));

    // The debug log holds the log-in and why it was ended, and how to forget the host.
    const QString log = debugLog();
    QVERIFY2(log.startsWith(QStringLiteral("220 ")), qPrintable(log));
    QVERIFY2(log.contains(
                 QStringLiteral("127.0.0.1 port %1 completed a log-in over TLS before").arg(port)),
             qPrintable(log));
    QVERIFY(log.contains(
        QStringLiteral("deleting the line \"127.0.0.1 %1\" from %2").arg(port).arg(tlsHosts)));
    QVERIFY(!log.contains(QStringLiteral("USER ")));
    QVERIFY(!log.contains(server().password()));
}

// The host renewed its self-signed certificate. The terminal refuses before the user name, with a
// status of its own, the new fingerprint (as openssl prints it) and the option; a preview says the
// same; the option with another fingerprint changes nothing; with the new one, copied in any form,
// the run publishes, and from then on the new certificate is the trusted one.
void TestProgram::renewedCertificateIsAcceptedByFingerprint()
{
    TestFtpServer::Options options;
    options.tls = TestFtpServer::Tls::Explicit;
    startServer(options);
    writeSettings();
    QCOMPARE(runWithoutWindow().status, 0);
    const auto fingerprint = [this] {
        QProcess openssl;
        openssl.start("openssl", {"x509", "-noout", "-fingerprint", "-sha256", "-in",
                                  mWork->filePath(QStringLiteral("cert.pem"))});
        openssl.waitForFinished();
        return QString::fromLatin1(openssl.readAllStandardOutput()).section('=', 1).trimmed();
    };
    const QString before = fingerprint();
    options.port = server().port();
    options.commandLog = mWork->filePath(QStringLiteral("commands.log"));
    server().stop();
    startServer(options); // a new key and certificate
    const QString renewed = fingerprint();
    QVERIFY(renewed.size() == 95 && renewed != before);
    const auto published = SiteFixture::read(serverBase());
    SiteFixture::write(siteFolder(), {{QStringLiteral("neu.html"), "<p>neu</p>"}});

    const QString refused = QStringLiteral("✗ Die Verbindung zum FTP-Server \"%1\" konnte nicht "
                                           "hergestellt werden. Sein Zertifikat hat sich geändert "
                                           "und lässt sich nicht prüfen")
                                .arg(server().host());
    const QStringList usual{"--no-window", "--settings", settingsPath()};
    for (const QStringList &extra : {QStringList{}, QStringList{"--dry-run"}}) {
        const Run refusal = run(usual + extra, environment());
        QCOMPARE(refusal.status, 6);
        QCOMPARE(refusal.lines.last(), refused +
                                           ". Nennt Ihr Anbieter diesen Fingerabdruck, "
                                           "übernehmen Sie es mit: parcelup "
                                           "--accept-certificate " +
                                           renewed);
    }
    QString error;
    const auto commands = server().receivedCommands(&error);
    QVERIFY2(commands && !commands->join('|').contains("USER"), qPrintable(error));
    const Run other = run(usual + QStringList{"--accept-certificate", before}, environment());
    QCOMPARE(other.status, 6);
    QCOMPARE(other.lines.last(),
             refused + QStringLiteral("; sein Fingerabdruck %1 ist nicht der mit "
                                      "--accept-certificate angegebene.")
                           .arg(renewed));
    QCOMPARE(SiteFixture::read(serverBase()), published);

    const QString copied = "--accept-certificate=" + QString(renewed).remove(':').toLower();
    QCOMPARE(run(usual + QStringList{copied, "--dry-run"}, environment()).status, 0);
    QCOMPARE(run(usual, environment()).status, 6); // a preview pins nothing
    const Run accepted = run(usual + QStringList{copied}, environment());
    QCOMPARE(accepted.status, 0);
    QCOMPARE(SiteFixture::read(serverBase()), expected());

    SiteFixture::write(siteFolder(), {{QStringLiteral("neu.html"), "<p>neuer</p>"}});
    const Run quiet = runWithoutWindow();
    QCOMPARE(quiet.errors, QString());
    QCOMPARE(quiet.lines.last(), QStringLiteral("✓ Übertragung fehlerfrei abgeschlossen."));
    QCOMPARE(SiteFixture::read(serverBase()), expected());
    QVERIFY(debugLog().contains(QStringLiteral("(trusted on first use earlier)")));
}

void TestProgram::emptySettingsInGermanLocale()
{
    // Host, folder and user all empty: the last failing check is reported, nothing is connected.
    writeSettings({{"FTPHost", ""}, {"FTPLocalBaseDir", ""}, {"FTPLogonName", ""}});
    QProcessEnvironment env = environment();
    env.remove(QStringLiteral("LC_ALL"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("de_DE.UTF-8"));
    const Run result = run({"--no-window", "--settings", settingsPath()}, env);
    QCOMPARE(result.status, 1);
    QVERIFY2(result.lines.contains(QStringLiteral("Übertragen: 0 Dateien (0 KB)")),
             qPrintable(result.lines.join('\n')));
    QVERIFY(result.lines.contains(QStringLiteral("Geschwindigkeit: 0,00 KB/Sekunde")));
    QVERIFY(result.lines.contains(QStringLiteral("Gesamtdauer: unter 1 Sekunde")));
    QVERIFY(result.lines.last().endsWith(QStringLiteral(" Kein Username angegeben.")));
    QVERIFY(result.lines.filter(QStringLiteral("Verbinde")).isEmpty());
}

void TestProgram::interruptCancelsTheTransfer()
{
    const auto process = startSlowPublication(false);
    QVERIFY(process);
    QVERIFY(QFile::exists(serverBase() + QStringLiteral("/zz-gross.bin")));
    ::kill(pid_t(process->processId()), SIGINT);
    QVERIFY(process->waitForFinished(60000));
    QCOMPARE(process->exitCode(), 2);
    const QString out = QString::fromUtf8(process->readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral("Wird abgebrochen\n")), qPrintable(out));
    QVERIFY(!out.contains(QStringLiteral("Zusammenfassung:")));

    // The interrupted file kept its marker: the next run sends it again.
    mServer.reset();
    startServer();
    writeSettings();
    const Run again = runWithoutWindow();
    QCOMPARE(again.status, 0);
    QVERIFY(again.lines.contains(QStringLiteral("Übertrage Datei: /htdocs/zz-gross.bin")));
    QCOMPARE(SiteFixture::read(serverBase()).value(QStringLiteral("zz-gross.bin")).size(), 3000000);
}

void TestProgram::secondInstanceIsRefused()
{
    const auto first = startSlowPublication(false);
    QVERIFY(first);

    const Run second = runWithoutWindow();
    QCOMPARE(second.status, 3);
    QCOMPARE(second.errors,
             QStringLiteral("Es wird bereits eine Instanz dieses Programms ausgeführt.\n"));
    QVERIFY(second.lines.isEmpty());

    ::kill(pid_t(first->processId()), SIGTERM);
    QVERIFY(first->waitForFinished(60000));
    QCOMPARE(first->exitCode(), 2);
}

void TestProgram::commandLineErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("firstErrorLine");
    QTest::newRow("unknown") << QStringList{"--hurry"} << 64 << "Unbekannte Angabe: --hurry";
    QTest::newRow("missing-settings-file")
        << QStringList{"--no-window", "--settings", "/nonexistent/parcelup.ini"} << 4
        << "Die Einstellungsdatei \"/nonexistent/parcelup.ini\" wurde nicht gefunden.";
    QTest::newRow("settings-is-a-folder")
        << QStringList{"--no-window", "--settings", "/"} << 4
        << "Die Einstellungsdatei \"/\" kann nicht gelesen werden.";
}

void TestProgram::commandLineErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, firstErrorLine);
    const Run result = run(arguments, environment());
    QCOMPARE(result.status, status);
    QCOMPARE(result.errors.section(QLatin1Char('\n'), 0, 0), firstErrorLine);
}

void TestProgram::windowPublishesAndClosesOnRequest()
{
    useSuiteServer();
    writeSettings();
    const std::unique_ptr<QProcess> process = startProgram(true, environment());
    QVERIFY(process);
    QVERIFY(waitForSessionEnd(120000));
    // The window stays open with the result until it is closed; a termination request closes it.
    QVERIFY(process->state() == QProcess::Running);
    ::kill(pid_t(process->processId()), SIGTERM);
    QVERIFY(process->waitForFinished(30000));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
    QCOMPARE(SiteFixture::read(serverBase()), expected());
}

void TestProgram::closingTheWindowDuringATransferEndsQuietly()
{
    const auto process = startSlowPublication(true);
    QVERIFY(process);
    QVERIFY(QFile::exists(serverBase() + QStringLiteral("/zz-gross.bin")));
    ::kill(pid_t(process->processId()), SIGTERM);
    QVERIFY(process->waitForFinished(60000));
    QCOMPARE(process->exitCode(), 2);
    QCOMPARE(QString::fromUtf8(process->readAllStandardError()), QString());
}

void TestProgram::onlyWhatTheRunNeedsIsLoaded_data()
{
    QTest::addColumn<bool>("window");
    QTest::newRow("terminal") << false;
    QTest::newRow("window") << true;
}

// The terminal face must not pay for the window: Qt Widgets, Qt GUI and the window module are
// loaded only when a window is opened. Neither face pays for TLS when the server speaks plain FTP.
void TestProgram::onlyWhatTheRunNeedsIsLoaded()
{
    QFETCH(bool, window);
    const auto process = startSlowPublication(window);
    QVERIFY(process);
    QFile maps(QStringLiteral("/proc/%1/maps").arg(process->processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QString mapped = QString::fromUtf8(maps.readAll());
    ::kill(pid_t(process->processId()), SIGTERM);
    QVERIFY(process->waitForFinished(60000));
    for (const char *library : {"libQt6Widgets.so", "libQt6Gui.so", "parcelup-window.so"})
        QVERIFY2(mapped.contains(QLatin1String(library)) == window, library);
    QVERIFY(mapped.contains(QLatin1String("libQt6Network.so")));
    QVERIFY(!mapped.contains(QLatin1String("libssl.so")));
    QVERIFY(!mapped.contains(QLatin1String("libcrypto.so")));
}

// A window module that cannot be loaded costs the window, not the publication.
void TestProgram::missingWindowModulePublishesInTheTerminal()
{
    // A copy of the program in a folder of its own, without the module beside it.
    const QString alone = mWork->filePath(QStringLiteral("bin/parcelup"));
    QVERIFY(QDir().mkpath(QFileInfo(alone).absolutePath()));
    QVERIFY(QFile::copy(QStringLiteral(PARCELUP_BINARY), alone));
    QVERIFY(QFile::setPermissions(alone, QFile::ReadOwner | QFile::ExeOwner));
    useSuiteServer();
    writeSettings();
    const std::unique_ptr<QProcess> process = startProgram(true, environment(), alone);
    QVERIFY(process);
    QVERIFY(process->waitForFinished(120000));
    QCOMPARE(process->exitCode(), 0);
    const QString errors = QString::fromUtf8(process->readAllStandardError());
    QVERIFY2(errors.contains(QStringLiteral("Das Programmfenster kann nicht geöffnet werden (")),
             qPrintable(errors));
    QVERIFY2(errors.contains(QStringLiteral("parcelup-window.so")), qPrintable(errors));
    QVERIFY(QString::fromUtf8(process->readAllStandardOutput())
                .contains(QStringLiteral("Übertragung fehlerfrei abgeschlossen.")));
    QCOMPARE(SiteFixture::read(serverBase()), expected());
}

void TestProgram::secondCopyIsRefusedWhileTheResultIsShown()
{
    useSuiteServer();
    writeSettings();
    const std::unique_ptr<QProcess> first = startProgram(true, environment());
    QVERIFY(first);
    QVERIFY(waitForSessionEnd(120000));
    QVERIFY(first->state() == QProcess::Running);

    // The first copy's window shows its result: the publication of this process is not over, and
    // a second copy must not publish beside it.
    const Run second = runWithoutWindow();
    QCOMPARE(second.status, 3);
    QCOMPARE(second.errors,
             QStringLiteral("Es wird bereits eine Instanz dieses Programms ausgeführt.\n"));

    ::kill(pid_t(first->processId()), SIGTERM);
    QVERIFY(first->waitForFinished(30000));
    QCOMPARE(first->exitCode(), 0);
    // Once the window is closed, the next copy may publish.
    QCOMPARE(runWithoutWindow().status, 0);
}

void TestProgram::restoredFilesArePublishedAgain_data()
{
    QTest::addColumn<QString>("moved");
    QTest::newRow("folder") << "Bilder";
    QTest::newRow("single-file") << "index.html";
}

void TestProgram::restoredFilesArePublishedAgain()
{
    QFETCH(QString, moved);
    useSuiteServer();
    writeSettings({{"FTPDelete", "1"}});
    QCOMPARE(runWithoutWindow().status, 0);

    // To the trash: a rename keeps sizes, times and inodes of what was moved.
    const QString inSite = siteFolder() + QLatin1Char('/') + moved;
    const QString inTrash = mWork->filePath(QStringLiteral("trash-") + moved);
    QVERIFY(QFile::rename(inSite, inTrash));
    QCOMPARE(runWithoutWindow().status, 0);
    QCOMPARE(SiteFixture::read(serverBase()), expected());
    QVERIFY(!SiteFixture::read(serverBase()).contains(moved.toLower()) &&
            !SiteFixture::read(serverBase()).contains(moved.toLower() + QLatin1Char('/')));

    // Restored unchanged: the next run publishes it again.
    QVERIFY(QFile::rename(inTrash, inSite));
    const Run restored = runWithoutWindow();
    QCOMPARE(restored.status, 0);
    QCOMPARE(SiteFixture::read(serverBase()), expected());
}

void TestProgram::interruptWhileReadingTheOldLogEndsQuietly()
{
    // The server never answers the download of the old log; a copy of an old log from an earlier
    // run is still in the temporary folder.
    startServer(int(TestFtpServer::Kind::Pyftpdlib), 0, {QStringLiteral("RETR#1=stall")});
    writeSettings({{"FTPDelete", "1"}});
    const QProcessEnvironment env = environment();
    SiteFixture::write(env.value(QStringLiteral("XDG_RUNTIME_DIR")),
                       {{QStringLiteral("vellumixftplog.log"), "\\\r\nalt.html\r\n"}});
    const std::unique_ptr<QProcess> process = startProgram(false, env);
    QVERIFY(process);
    QByteArray out;
    QDeadlineTimer deadline(60000);
    while (!out.contains("Lese Datei: /htdocs/vellumixftplog.log\n") && !deadline.hasExpired()) {
        if (process->waitForReadyRead(int(deadline.remainingTime())))
            out += process->readAllStandardOutput();
    }
    QVERIFY2(out.contains("Lese Datei:"), out.constData());

    ::kill(pid_t(process->processId()), SIGINT);
    QVERIFY(process->waitForFinished(60000));
    out += process->readAllStandardOutput();
    QCOMPARE(QString::fromUtf8(process->readAllStandardError()), QString());
    QCOMPARE(process->exitCode(), 2);
    QVERIFY2(!out.contains("Fehler"), out.constData());
    QVERIFY(!out.contains("Lösche Datei:"));
}

namespace {

// The number of files a run reports as transferred.
int filesTransferred(const Run &run)
{
    static const QRegularExpression summary(QStringLiteral("^Übertragen: (\\d+) Dateien"));
    for (const QString &line : run.lines) {
        const QRegularExpressionMatch match = summary.match(line);
        if (match.hasMatch())
            return match.captured(1).toInt();
    }
    return -1;
}

// The files the server holds once the site is published, the upload log among them.
int filesOf(const QMap<QString, QByteArray> &tree)
{
    const QStringList paths = tree.keys();
    return int(std::count_if(paths.cbegin(), paths.cend(),
                             [](const QString &path) { return !path.endsWith(QLatin1Char('/')); }));
}

} // namespace

void TestProgram::eachDestinationGetsTheWholeSite()
{
    useSuiteServer();
    TestFtpServer other;
    QTemporaryDir otherRoot;
    TestFtpServer::Options options;
    options.root = otherRoot.path();
    QString error;
    QVERIFY2(other.start(options, &error), qPrintable(error));
    const QMap<QString, QString> toOther{{"FTPHost", other.host()}};
    writeSettings();
    const Run first = runWithoutWindow();
    const int siteFiles = filesOf(expected());
    QCOMPARE(filesTransferred(first), siteFiles);

    // Moving to another hosting company: the new server gets the whole site, not only the log.
    writeSettings(toOther);
    Run run = runWithoutWindow();
    QCOMPARE(run.status, 0);
    QCOMPARE(filesTransferred(run), siteFiles);
    QCOMPARE(SiteFixture::read(otherRoot.path() + QStringLiteral("/htdocs")), expected());

    // Back to the first server after a change: only what changed since it was last published there.
    SiteFixture::write(siteFolder(), {{QStringLiteral("index.html"), "<p>neu</p>"}});
    writeSettings();
    run = runWithoutWindow();
    QCOMPARE(filesTransferred(run), 2);
    QCOMPARE(SiteFixture::read(serverBase()), expected());

    // A new folder on the same server is a new destination too.
    writeSettings({{"FTPRemoteBaseDir", "neu/htdocs"}});
    run = runWithoutWindow();
    QCOMPARE(filesTransferred(run), siteFiles);
    QCOMPARE(SiteFixture::read(serverRoot() + QStringLiteral("/neu/htdocs")), expected());

    // The same destination again, written another way: only the log.
    writeSettings({{"FTPRemoteBaseDir", "/neu/htdocs/"}});
    QCOMPARE(filesTransferred(runWithoutWindow()), 1);
    // The other server has not seen the change yet.
    writeSettings(toOther);
    QCOMPARE(filesTransferred(runWithoutWindow()), 2);
    QCOMPARE(SiteFixture::read(otherRoot.path() + QStringLiteral("/htdocs")), expected());
}

void TestProgram::allPublishesEveryFileAgain()
{
    useSuiteServer();
    writeSettings();
    QCOMPARE(runWithoutWindow().status, 0);
    // Files lost on the server: one deleted by hand in the hosting panel, one damaged.
    QVERIFY(QFile::remove(serverBase() + QStringLiteral("/style.css")));
    SiteFixture::write(serverBase(), {{QStringLiteral("index.html"), "kaputt"}});

    const Run all = run({"--no-window", "--all", "--settings", settingsPath()}, environment());
    QCOMPARE(all.status, 0);
    QCOMPARE(filesTransferred(all), filesOf(expected()));
    QCOMPARE(SiteFixture::read(serverBase()), expected());
    // Afterwards the markers are as after any run: the next ordinary run sends only the log.
    QCOMPARE(filesTransferred(runWithoutWindow()), 1);
}

void TestProgram::rewrittenFilesAreComparedByContent_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("sent"); // what the run put on the server, or the preview's uploads
    QTest::addColumn<QString>("compared");     // the debug log's "unchanged von read", if any
    QTest::addColumn<QString>("comparedNext"); // the same for the ordinary run after it
    const QString log = QStringLiteral("vellumixftplog.log");
    const QString logo = QStringLiteral("logo.png vellumixftplog.log");
    QTest::newRow("untouched") << "none"
                               << "" << log << ""
                               << "";
    QTest::newRow("same-bytes-new-times") << "same-bytes"
                                          << "" << log << "1 von 1"
                                          << "";
    QTest::newRow("same-bytes-new-inode") << "same-bytes-renamed"
                                          << "" << log << "1 von 1"
                                          << "";
    QTest::newRow("same-size-new-bytes") << "same-size"
                                         << "" << logo << "0 von 1"
                                         << "";
    QTest::newRow("new-size") << "new-size"
                              << "" << logo << ""
                              << "";
    QTest::newRow("no-digest-yet") << "same-bytes-old-store"
                                   << "" << logo << ""
                                   << "";
    QTest::newRow("all") << "same-bytes"
                         << "--all"
                         // Pictures and styles first, the pages after them, the log last.
                         << "pfeil.gif logo.png leer.txt style.css tief.html kontakt.html "
                            "index.html vellumixftplog.log"
                         << ""
                         << "";
    QTest::newRow("preview") << "same-bytes"
                             << "--dry-run" << log << ""
                             << "1 von 1";
    // Every file written again, half by renaming over it, and two really changed (one keeping its
    // size): only those two and the log go.
    QTest::newRow("rebuilt-site") << "rebuild"
                                  << ""
                                  << "kontakt.html index.html vellumixftplog.log"
                                  << "5 von 6"
                                  << "";
}

// A rebuilt site: a file written again with its bytes is not sent. Only a file of the uploaded size
// is read and compared with the digest of what was sent, and its marker takes the new identity,
// so the next run reads nothing; --all reads nothing; a preview decides as the run does.
void TestProgram::rewrittenFilesAreComparedByContent()
{
    QFETCH(QString, change);
    QFETCH(QString, option);
    QFETCH(QString, sent);
    QFETCH(QString, compared);
    QFETCH(QString, comparedNext);
    TestFtpServer::Options options;
    options.commandLog = mWork->filePath(QStringLiteral("commands.log"));
    startServer(options);
    writeSettings();
    QCOMPARE(runWithoutWindow().status, 0);

    // As a site generator writes a file: in place, or as a new file renamed over the old one.
    const auto rewrite = [this](const QString &name, const QByteArray &content, bool byRename) {
        if (!byRename)
            return SiteFixture::write(siteFolder(), {{name, content}});
        QSaveFile file(siteFolder() + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size() &&
                file.commit());
    };
    const QMap<QString, QByteArray> site = SiteFixture::read(siteFolder());
    QByteArray logo = site.value(QStringLiteral("Bilder/Logo.png"));
    if (change == QLatin1String("rebuild")) {
        for (auto it = site.cbegin(); it != site.cend(); ++it)
            if (!it.key().endsWith(QLatin1Char('/')) && !it.key().startsWith(QLatin1String("vell")))
                rewrite(it.key(), it.value(), it.value().size() % 2);
        rewrite(QStringLiteral("index.html"), "<html>Neu!!</html>\n", true);
        rewrite(QStringLiteral("seiten/kontakt.html"), "<p>neu</p>", false);
    } else if (change != QLatin1String("none")) {
        logo[0] = char(logo.at(0) ^ (change == QLatin1String("same-size") ? 1 : 0));
        rewrite(QStringLiteral("Bilder/Logo.png"),
                change == QLatin1String("new-size") ? logo + 'x' : logo,
                change.endsWith(QLatin1String("renamed")));
    }
    // A store of the version before digests.
    if (change.endsWith(QLatin1String("old-store")))
        QVERIFY(RunToCompletion(
            QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"),
             QStringLiteral("import sqlite3, sys; sqlite3.connect(sys.argv[1]).execute('ALTER "
                            "TABLE published DROP COLUMN digest')"),
             mWork->filePath(QStringLiteral("state/vellumix/parcelup/markers.sqlite"))},
            QByteArray(), &change));

    // Its status, what it sent (the server's STORs, a preview's list) and what it compared.
    // Which files went, in any order: over several connections the server sees them in the
    // order their transfers start, which timing decides (the order rules have tests of their own).
    const auto sorted = [](const QString &words) {
        QStringList list = words.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        list.sort();
        return list.join(QLatin1Char(' '));
    };
    const auto publish = [this, &sorted](const QString &with) {
        QStringList arguments{"--no-window", "--settings", settingsPath()};
        QString error;
        const qsizetype before = server().receivedCommands(&error).value_or(QStringList()).size();
        const Run result = run(with.isEmpty() ? arguments : arguments << with, environment());
        const QStringList commands = server().receivedCommands(&error).value_or(QStringList());
        // The names as they appear on the server: stored straight, or renamed into place.
        QStringList names =
            commands.mid(before).filter(QRegularExpression(QStringLiteral("^(STOR|RNTO) ")));
        // Names alone: over several connections files go by their path from the base folder.
        names.replaceInStrings(QRegularExpression(QStringLiteral("^(STOR|RNTO) ([^ ]*/)?")),
                               "STOR ");
        names.removeIf([](const QString &name) { return name.startsWith("STOR .parcelup-"); });
        for (const QString &line : result.lines.filter(QStringLiteral("Würde übertragen: ")))
            names << line.section(QLatin1Char('/'), -1).section(QLatin1Char(' '), 0, 0);
        static const QRegularExpression note(QStringLiteral("Inhaltsvergleich: (\\d+ von \\d+)"));
        return QStringList{QString::number(result.status) + error,
                           sorted(names.join(QLatin1Char(' ')).remove(QStringLiteral("STOR "))),
                           with == QLatin1String("--dry-run") ? QString()
                                                              : note.match(debugLog()).captured(1)};
    };
    QCOMPARE(publish(option), (QStringList{"0", sorted(sent), compared}));
    QCOMPARE(publish(QString()), (QStringList{"0", "vellumixftplog.log", comparedNext}));
    QCOMPARE(SiteFixture::read(serverBase()), expected());
}

void TestProgram::storeOfTheEarlierVersionUploadsEverythingOnce_data()
{
    QTest::addColumn<bool>("sameDestination");
    QTest::addColumn<bool>("changedSince"); // a page changed and published to the first server
    QTest::newRow("same-destination") << true << false;
    QTest::newRow("new-destination") << false << false;
    // The other server's upload log equals the local one, names and all; the changed page has
    // reached only the first server all the same.
    QTest::newRow("other-destination-with-the-same-log") << false << true;
}

void TestProgram::storeOfTheEarlierVersionUploadsEverythingOnce()
{
    QFETCH(bool, sameDestination);
    QFETCH(bool, changedSince);
    useSuiteServer();
    writeSettings();
    QCOMPARE(runWithoutWindow().status, 0);
    TestFtpServer other;
    QTemporaryDir otherRoot;
    QString error;
    TestFtpServer::Options options;
    options.root = otherRoot.path();
    QVERIFY2(other.start(options, &error), qPrintable(error));
    if (changedSince) {
        writeSettings({{"FTPHost", other.host()}});
        QCOMPARE(runWithoutWindow().status, 0);
        SiteFixture::write(siteFolder(), {{QStringLiteral("index.html"), "<p>nur dort</p>"}});
        writeSettings();
        QCOMPARE(runWithoutWindow().status, 0);
    }

    // The store as the version without destinations kept it: the newest row of each file, without
    // destination.
    const QString store = mWork->filePath(QStringLiteral("state/vellumix/parcelup/markers.sqlite"));
    QVERIFY2(
        RunToCompletion(
            QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"),
             QStringLiteral(
                 "import sqlite3, sys\n"
                 "c = sqlite3.connect(sys.argv[1])\n"
                 "c.executescript('CREATE TABLE markers (path TEXT PRIMARY KEY NOT NULL, size "
                 "INTEGER NOT NULL, modified_ns INTEGER NOT NULL, changed_ns INTEGER NOT NULL, "
                 "inode INTEGER NOT NULL) WITHOUT ROWID; INSERT OR REPLACE INTO markers SELECT "
                 "path, size, modified_ns, changed_ns, inode FROM published ORDER BY "
                 "changed_ns; DROP TABLE published;')\n"
                 "c.commit()\n"),
             store},
            QByteArray(), &error),
        qPrintable(error));

    // Nothing that version left says where its markers belong: everything goes up once.
    if (!sameDestination)
        writeSettings({{"FTPHost", other.host()}});
    const Run run = runWithoutWindow();
    QCOMPARE(run.status, 0);
    QCOMPARE(filesTransferred(run), filesOf(expected()));
    QCOMPARE(SiteFixture::read(sameDestination ? serverBase()
                                               : otherRoot.path() + QStringLiteral("/htdocs")),
             expected());
}

namespace {

// Every file below root, by path, with its bytes: to show that nothing changed.
QMap<QString, QByteArray> snapshot(const QString &root)
{
    return SiteFixture::read(root);
}

QStringList linesStartingWith(const Run &run, const QString &prefix)
{
    QStringList found;
    for (const QString &line : run.lines) {
        if (line.startsWith(prefix))
            found << line.mid(prefix.size());
    }
    return found;
}

} // namespace

void TestProgram::previewChangesNothing_data()
{
    QTest::addColumn<QString>("before");
    QTest::newRow("first-run") << "nothing";
    // First contact with a server whose certificate does not verify: trusted for this run only.
    QTest::newRow("first-run-over-tls") << "nothing-tls";
    QTest::newRow("changes-and-deletions") << "changed";
    QTest::newRow("unchanged-site") << "published";
}

void TestProgram::previewChangesNothing()
{
    QFETCH(QString, before);
    TestFtpServer::Options options;
    if (before == QLatin1String("nothing-tls"))
        options.tls = TestFtpServer::Tls::Explicit;
    startServer(options);
    // Over TLS the clean-up stays off: whether a refused download of the old log reads as "no
    // log" or as "not read just now" depends on a race between the server's 550 and the data
    // connection's handshake, and the preview's list with it.
    writeSettings({{"FTPDelete", options.tls == TestFtpServer::Tls::None ? "1" : "0"}});
    if (!before.startsWith(QLatin1String("nothing")))
        QCOMPARE(runWithoutWindow().status, 0);
    if (before == QLatin1String("changed")) {
        SiteFixture::write(siteFolder(), {{QStringLiteral("index.html"), "<p>neu</p>"},
                                          {QStringLiteral("neu/seite.html"), "<p>ganz neu</p>"}});
        QVERIFY(QDir(siteFolder() + QStringLiteral("/seiten/a")).removeRecursively());
        QVERIFY(QFile::remove(siteFolder() + QStringLiteral("/Style.CSS")));
    }

    // Everything the preview could touch, before it runs.
    const QString state = mWork->filePath(QStringLiteral("state"));
    const auto server = snapshot(serverRoot());
    const auto site = snapshot(siteFolder());
    const auto markers = snapshot(state);
    writeOldDebugLog();

    const Run preview =
        run({"--no-window", "--dry-run", "--settings", settingsPath()}, environment());
    QCOMPARE(preview.errors, QString());
    QCOMPARE(preview.status, 0);
    QCOMPARE(snapshot(serverRoot()), server);
    QCOMPARE(snapshot(siteFolder()), site);
    QCOMPARE(snapshot(state), markers);
    if (before.startsWith(QLatin1String("nothing")))
        QVERIFY(!QFileInfo::exists(state));
    QCOMPARE(debugLog(), QStringLiteral("# an earlier run\r\n"));
    QCOMPARE(linesStartingWith(preview, QStringLiteral("Hinweis: ")).size(),
             before == QLatin1String("nothing-tls") ? 1 : 0);

    const QStringList uploads = linesStartingWith(preview, QStringLiteral("Würde übertragen: "));
    const QStringList deletions = linesStartingWith(preview, QStringLiteral("Würde löschen: "));
    const QStringList folders =
        linesStartingWith(preview, QStringLiteral("Würde Ordner löschen: "));
    QVERIFY2(preview.lines.last().startsWith(QStringLiteral("✓ Vorschau: ")),
             qPrintable(preview.lines.join(QLatin1Char('\n'))));
    if (before == QLatin1String("published")) {
        QCOMPARE(uploads.size(), 1);
        QVERIFY(uploads.first().startsWith(QStringLiteral("/htdocs/vellumixftplog.log (")));
        QVERIFY(deletions.isEmpty() && folders.isEmpty());
    }
    if (before == QLatin1String("changed")) {
        QCOMPARE(deletions, (QStringList{"/htdocs/seiten/a/b/c/tief.html", "/htdocs/style.css"}));
        QCOMPARE(folders, (QStringList{"/htdocs/seiten/a/b/c/", "/htdocs/seiten/a/b/",
                                       "/htdocs/seiten/a/"}));
    }

    // The run that follows does what the preview said, no more and no less.
    const Run real = runWithoutWindow();
    QCOMPARE(real.status, 0);
    QStringList done = linesStartingWith(real, QStringLiteral("Übertrage Datei: "));
    QStringList announced;
    for (const QString &upload : uploads) {
        announced << upload.section(QStringLiteral(" ("), 0, 0);
        // The size the preview announced is what went up.
        const QString sizeText =
            upload.section(QStringLiteral(" ("), 1).section(QLatin1Char(' '), 0, 0);
        QCOMPARE(SiteFixture::read(serverRoot()).value(announced.last().mid(1)).size(),
                 sizeText.toLongLong());
    }
    std::sort(done.begin(), done.end());
    std::sort(announced.begin(), announced.end());
    QCOMPARE(done, announced);
    QCOMPARE(linesStartingWith(real, QStringLiteral("Lösche Datei: ")), deletions);
    QCOMPARE(linesStartingWith(real, QStringLiteral("Lösche Ordner: ")), folders);
    QCOMPARE(SiteFixture::read(serverBase()), expected());
}

void TestProgram::massDeletionIsNotSilent_data()
{
    QTest::addColumn<int>("deleted");
    QTest::addColumn<bool>("allow");
    QTest::addColumn<int>("status");
    // 30 pages on the server; the site folder loses some of them.
    QTest::newRow("twenty-is-not-a-mass") << 20 << false << 0;
    QTest::newRow("fifteen-is-not-more-than-half") << 15 << false << 0;
    QTest::newRow("twenty-one-of-thirty") << 21 << false << 5;
    QTest::newRow("twenty-one-allowed") << 21 << true << 0;
    QTest::newRow("empty-site-folder") << 30 << false << 5;
    QTest::newRow("empty-site-folder-allowed") << 30 << true << 0;
}

void TestProgram::massDeletionIsNotSilent()
{
    QFETCH(int, deleted);
    QFETCH(bool, allow);
    QFETCH(int, status);
    QVERIFY(QDir(siteFolder()).removeRecursively());
    QMap<QString, QByteArray> pages;
    for (int i = 1; i <= 30; ++i)
        pages.insert(QStringLiteral("seiten/seite%1.html").arg(i, 2, 10, QLatin1Char('0')), "<p>");
    SiteFixture::write(siteFolder(), pages);
    useSuiteServer();
    writeSettings({{"FTPDelete", "1"}});
    QCOMPARE(runWithoutWindow().status, 0);

    for (int i = 1; i <= deleted; ++i)
        QVERIFY(QFile::remove(
            siteFolder() + QStringLiteral("/seiten/seite%1.html").arg(i, 2, 10, QLatin1Char('0'))));
    QStringList arguments{"--no-window", "--settings", settingsPath()};
    if (allow)
        arguments << QStringLiteral("--allow-mass-delete");
    writeOldDebugLog();
    const Run run = this->run(arguments, environment());
    QCOMPARE(run.status, status);
    const auto server = SiteFixture::read(serverBase());
    if (status == 0) {
        QCOMPARE(server, expected());
        return;
    }
    // Nothing was deleted, the upload went ahead, and the run says why it is not a success.
    QCOMPARE(filesOf(server), 31);
    QCOMPARE(server.value(QStringLiteral("vellumixftplog.log")),
             SiteFixture::read(siteFolder()).value(QStringLiteral("vellumixftplog.log")));
    QCOMPARE(run.lines.last(),
             QStringLiteral("✗ Auf dem Server wurde nichts gelöscht: Es wären %1 von 30 Dateien "
                            "gelöscht worden. Wenn das gewollt ist, starten Sie Parcelup mit "
                            "--allow-mass-delete.")
                 .arg(deleted));
    QVERIFY(linesStartingWith(run, QStringLiteral("Lösche Datei: ")).isEmpty());
    QVERIFY2(debugLog().contains(QStringLiteral("Abgleich: %1 von 30 Dateien").arg(deleted)),
             qPrintable(debugLog()));
}

void TestProgram::unpublishableNamesAreNamed_data()
{
    QTest::addColumn<bool>("sampleSite");
    QTest::addColumn<QList<QByteArray>>("unpublishable"); // as MakeRawSiteTree takes them
    QTest::addColumn<QList<QByteArray>>("renameFrom");
    QTest::addColumn<QList<QByteArray>>("renameTo");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("logged");

    // "café.html" as Latin-1 writes it, next to index.html: the run sends index.html and the log.
    QTest::newRow("name-not-utf8")
        << false << QList<QByteArray>{"caf\xE9.html=<p>Caf\xE9</p>"}
        << QList<QByteArray>{"caf\xE9.html"} << QList<QByteArray>{"caf\xC3\xA9.html"}
        << "✗ 1 Datei wurde nicht veröffentlicht, weil ihr Name nicht übertragen werden kann: "
           "„caf\\xE9.html“."
        << QStringList{"caf\\xE9.html"};
    QTest::newRow("backslash-in-name")
        << false << QList<QByteArray>{"preise\\2024.html=<p>Preise</p>"}
        << QList<QByteArray>{"preise\\2024.html"} << QList<QByteArray>{"preise-2024.html"}
        << "✗ 1 Datei wurde nicht veröffentlicht, weil ihr Name nicht übertragen werden kann: "
           "„preise\\2024.html“."
        << QStringList{"preise\\2024.html"};
    QTest::newRow("both-next-to-ordinary-files")
        << true
        << QList<QByteArray>{"Bilder/gr\xFC\xDF"
                             "e.jpg=jpeg",
                             "a\\b.html=ab", "alt\xE9/seite.html=alt"}
        << QList<QByteArray>{"Bilder/gr\xFC\xDF"
                             "e.jpg",
                             "a\\b.html", "alt\xE9"}
        << QList<QByteArray>{"Bilder/gr\xC3\xBC\xC3\x9F"
                             "e.jpg",
                             "a-b.html", "alt"}
        << "✗ 3 Dateien und Ordner wurden nicht veröffentlicht, weil ihre Namen nicht übertragen "
           "werden können: „Bilder/gr\\xFC\\xDFe.jpg“, „a\\b.html“, …"
        << QStringList{"Bilder/gr\\xFC\\xDFe.jpg", "a\\b.html", "alt\\xE9/"};
}

void TestProgram::unpublishableNamesAreNamed()
{
    QFETCH(bool, sampleSite);
    QFETCH(QList<QByteArray>, unpublishable);
    QFETCH(QList<QByteArray>, renameFrom);
    QFETCH(QList<QByteArray>, renameTo);
    QFETCH(QString, message);
    QFETCH(QStringList, logged);

    if (!sampleSite) {
        QVERIFY(QDir(siteFolder()).removeRecursively());
        SiteFixture::write(siteFolder(), {{QStringLiteral("index.html"), "<p>Start</p>"}});
    }
    const QMap<QString, QByteArray> ordinary = SiteFixture::read(siteFolder());
    MakeRawSiteTree(siteFolder(), unpublishable);
    useSuiteServer();
    writeSettings();

    const Run result = runWithoutWindow();
    QCOMPARE(result.errors, QString());
    QCOMPARE(result.status, 1);
    QCOMPARE(result.lines.last(), message);
    // Everything else is on the server, the upload log included.
    auto wanted = SiteFixture::expectedOnServer(ordinary);
    wanted.insert(QStringLiteral("vellumixftplog.log"),
                  SiteFixture::read(siteFolder()).value(QStringLiteral("vellumixftplog.log")));
    QCOMPARE(SiteFixture::read(serverBase()), wanted);
    qsizetype files = 0;
    qsizetype bytes = 0;
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it) {
        if (!it.key().endsWith(QLatin1Char('/'))) {
            ++files;
            bytes += it.value().size();
        }
    }
    QVERIFY2(result.lines.contains(
                 QStringLiteral("Übertragen: %1 Dateien (%2 KB)").arg(files).arg(bytes / 1000)),
             qPrintable(result.lines.join(QLatin1Char('\n'))));
    // The debug log names every one of them.
    const QStringList debugLines = debugLog().split(QStringLiteral("\r\n"));
    for (const QString &path : logged)
        QVERIFY2(debugLines.contains(
                     QStringLiteral("Nicht veröffentlicht, weil der Name nicht übertragen werden "
                                    "kann: ") +
                     path),
                 qPrintable(debugLog().right(600)));

    // Renamed, they are published with the rest of the site and the run succeeds.
    const QByteArray site = QFile::encodeName(siteFolder()) + '/';
    for (qsizetype i = 0; i < renameFrom.size(); ++i)
        QCOMPARE(std::rename(QByteArray(site + renameFrom.at(i)).constData(),
                             QByteArray(site + renameTo.at(i)).constData()),
                 0);
    const Run again = runWithoutWindow();
    QCOMPARE(again.status, 0);
    QCOMPARE(again.lines.last(), QStringLiteral("✓ Übertragung fehlerfrei abgeschlossen."));
    QCOMPARE(SiteFixture::read(serverBase()), expected());
    for (const QByteArray &renamed : renameTo)
        QVERIFY2(SiteFixture::read(serverBase()).contains(QString::fromUtf8(renamed).toLower()) ||
                     SiteFixture::read(serverBase())
                         .contains(QString::fromUtf8(renamed).toLower() + QLatin1Char('/')),
                 renamed.constData());
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
