#include "ftpcertificatestore.h"
#include "ftpharness.h"
#include "ftpresult.h"
#include "ftpserveraddress.h"
#include "ftptlshoststore.h"
#include "testprocess.h"
#include "testproxy.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <sys/stat.h>

namespace {

using Tls = TestFtpServer::Tls;

// How the test writes the host: the scheme decides how the component secures the connection.
enum class HostStyle { Bare, Explicit, Implicit, Plain };

QString hostText(HostStyle style, const QString &host)
{
    switch (style) {
    case HostStyle::Explicit:
        return QStringLiteral("ftpes://") + host;
    case HostStyle::Implicit:
        return QStringLiteral("ftps://") + host;
    case HostStyle::Plain:
        return QStringLiteral("ftp://") + host;
    case HostStyle::Bare:
        break;
    }
    return host;
}

bool sentUserName(const QStringList &transcript)
{
    return std::any_of(transcript.begin(), transcript.end(), [](const QString &line) {
        return line.startsWith(QStringLiteral("USER "));
    });
}

// Where in the transcript a line starting with text is, or -1.
qsizetype lineStartingWith(const QStringList &transcript, const QString &text)
{
    for (qsizetype i = 0; i < transcript.size(); ++i) {
        if (transcript.at(i).startsWith(text))
            return i;
    }
    return -1;
}

// Whether the server's own log shows a user name or password.
bool receivedLogIn(const QStringList &commands)
{
    return std::any_of(commands.begin(), commands.end(), [](const QString &command) {
        return command.startsWith(QStringLiteral("USER"), Qt::CaseInsensitive) ||
               command.startsWith(QStringLiteral("PASS"), Qt::CaseInsensitive);
    });
}

int modeOf(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

// A harness whose certificate store lives in a temporary folder, and a server with a fresh
// self-signed certificate.
struct TlsHarness : FtpHarness
{
    QTemporaryDir certificates;
    QTemporaryDir state;

    TlsHarness() { ftp.setCertificateStorePath(storePath()); }

    [[nodiscard]] QString storePath() const
    {
        return state.filePath(QStringLiteral("vellumix/parcelup/known-certificates"));
    }
    // Beside the certificate store, where the component keeps it unless told otherwise.
    [[nodiscard]] QString tlsHostsPath() const
    {
        return state.filePath(QStringLiteral("vellumix/parcelup/tls-hosts"));
    }
    [[nodiscard]] std::optional<bool> remembered(quint16 port) const
    {
        QString error;
        return FtpTlsHostStore(tlsHostsPath()).contains(QStringLiteral("127.0.0.1"), port, &error);
    }
    // A fresh file for the server's record of the commands it receives.
    [[nodiscard]] QString newCommandLog()
    {
        return certificates.filePath(QStringLiteral("commands-%1.log").arg(++commandLogs));
    }
    int commandLogs = 0;
    [[nodiscard]] QStringList serverCommands() const
    {
        QString error;
        const auto commands = server.receivedCommands(&error);
        if (!commands)
            qWarning("%s", qPrintable(error));
        return commands.value_or(QStringList{QStringLiteral("(unreadable)")});
    }

    // Publishes once over TLS with a bare host, so that the host is remembered; then stops the
    // server, keeping its port for the one that follows.
    [[nodiscard]] bool learnTls(int kind, QString *error)
    {
        TestFtpServer::Options options = ServerOptions(kind);
        options.tls = Tls::Explicit;
        if (!startTlsServer(options, error))
            return false;
        if (connectWith(HostStyle::Bare) != 0) {
            *error = QStringLiteral("the log-in over TLS failed");
            return false;
        }
        ftp.QueryCurrentDirectory();
        if (waitForCompletion() != 0 ||
            !transcript().contains(
                QStringLiteral("From now on plain FTP to 127.0.0.1 port %1 is refused")
                    .arg(server.port()))) {
            *error = QStringLiteral("the log-in's summary does not say the host is remembered");
            return false;
        }
        if (remembered(server.port()) != true) {
            *error =
                QStringLiteral("127.0.0.1 %1 is not in %2").arg(server.port()).arg(tlsHostsPath());
            return false;
        }
        ftp.Disconnect();
        server.stop();
        debug.clear();
        return true;
    }
    // The same host and port again, served as options say.
    [[nodiscard]] bool restartOnSamePort(TestFtpServer::Options options, QString *error)
    {
        options.port = server.port();
        options.commandLog = newCommandLog();
        return startServer(options, error);
    }

    [[nodiscard]] bool startTlsServer(TestFtpServer::Options options, QString *error,
                                      const QString &certificateName = QStringLiteral("ftp.test"))
    {
        const QString folder = certificates.filePath(certificateName);
        QDir().mkpath(folder);
        if (!TestFtpServer::createSelfSignedCertificate(folder, certificateName, &options, error))
            return false;
        return startServer(options, error);
    }

    // host: the server as the test spells it, by default as it names itself ("127.0.0.1:port").
    [[nodiscard]] int connectWith(HostStyle style, bool passive = true,
                                  const QString &host = QString())
    {
        pointAtServer(passive);
        ftp.setHost(hostText(style, host.isEmpty() ? server.host() : host));
        ftp.Connect();
        return waitForCompletion();
    }

    [[nodiscard]] QString transcript() const { return debug.join(QString()); }
};

// A certificate authority of the test's own and a server certificate it issued for 127.0.0.1, as
// cert.pem and key.pem in folder (with ca.pem). Returns the authority's certificate.
QSslCertificate IssueVerifiableCertificate(const QString &folder, TestFtpServer::Options *options,
                                           QString *error)
{
    const auto file = [&folder](const char *name) -> QString {
        return folder + QLatin1Char('/') + QLatin1String(name);
    };
    QFile extensions(file("san.cnf"));
    if (!extensions.open(QIODevice::WriteOnly) ||
        extensions.write("subjectAltName=IP:127.0.0.1\n") < 0)
        return QSslCertificate();
    extensions.close();
    const QStringList ecKey{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    if (!RunToCompletion("openssl",
                         QStringList{"req", "-x509"} + ecKey +
                             QStringList{"-days", "2", "-subj", "/CN=Parcelup Test Authority",
                                         "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                                         "keyUsage=critical,keyCertSign", "-keyout",
                                         file("ca-key.pem"), "-out", file("ca.pem")},
                         {}, error) ||
        !RunToCompletion("openssl",
                         QStringList{"req"} + ecKey +
                             QStringList{"-subj", "/CN=127.0.0.1", "-keyout", file("key.pem"),
                                         "-out", file("request.pem")},
                         {}, error) ||
        !RunToCompletion("openssl",
                         {"x509", "-req", "-in", file("request.pem"), "-CA", file("ca.pem"),
                          "-CAkey", file("ca-key.pem"), "-CAcreateserial", "-days", "2", "-extfile",
                          file("san.cnf"), "-out", file("cert.pem")},
                         {}, error))
        return QSslCertificate();
    options->certificate = file("cert.pem");
    options->privateKey = file("key.pem");
    const auto authority = QSslCertificate::fromPath(file("ca.pem"));
    return authority.isEmpty() ? QSslCertificate() : authority.first();
}

#define LEARN_TLS(harness, kind)                                                                   \
    do {                                                                                           \
        QString learnError;                                                                        \
        QVERIFY2((harness).learnTls((kind), &learnError), qPrintable(learnError));                 \
    } while (false)

#define RESTART_ON_SAME_PORT(harness, options)                                                     \
    do {                                                                                           \
        QString restartError;                                                                      \
        QVERIFY2((harness).restartOnSamePort((options), &restartError), qPrintable(restartError)); \
    } while (false)

#define START_TLS_SERVER(harness, options, ...)                                                    \
    do {                                                                                           \
        QString startError;                                                                        \
        QVERIFY2((harness).startTlsServer((options), &startError __VA_OPT__(, ) __VA_ARGS__),      \
                 qPrintable(startError));                                                          \
    } while (false)

} // namespace

// FTP over TLS against real servers: explicit, implicit and automatically chosen TLS with
// byte-exact transfers in both data modes, certificates trusted on first use, and no way back to
// clear text once the server offered TLS.
class TestFtpTls : public QObject
{
    Q_OBJECT

private slots:
    // The server's final reply decides what a transfer came to, whatever the data connection did
    // meanwhile: ProFTPD answers a download of a file it does not have with 550 and closes the
    // data connection while the TLS handshake on it is under way.
    void negativeReplyDecidesTheTransfer_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("passive");
        QTest::addColumn<int>("result");
        QTest::newRow("download-passive") << "RETR" << true << 20550;
        QTest::newRow("download-active") << "RETR" << false << 20550;
        QTest::newRow("upload-passive") << "STOR" << true << 20552;
    }
    void negativeReplyDecidesTheTransfer()
    {
        QFETCH(QString, command);
        QFETCH(bool, passive);
        QFETCH(int, result);
        TlsHarness h;
        TestFtpServer::Options options;
        options.tls = Tls::Explicit;
        options.faults = {command +
                          QStringLiteral("=reply-closing-data %1 No.").arg(result % 1000)};
        START_TLS_SERVER(h, options);
        QCOMPARE(h.connectWith(HostStyle::Explicit, passive), 0);
        const QString local = h.localPath(QStringLiteral("file.txt"));
        QVERIFY(WriteTestFile(local, 1000));
        if (command == QLatin1String("RETR"))
            h.ftp.GetFile(QStringLiteral("file.txt"), local);
        else
            h.ftp.PutFile(local, QStringLiteral("file.txt"));
        QCOMPARE(h.waitForCompletion(), result);
        // The dialogue is in step again.
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
    }

    void roundTrip_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("serverTls");
        QTest::addColumn<int>("hostStyle");
        QTest::addColumn<bool>("passive");
        struct Case
        {
            const char *name;
            Tls serverTls;
            HostStyle style;
        };
        const Case cases[] = {
            {"ftpes-forced", Tls::Forced, HostStyle::Explicit},
            {"ftpes-offered", Tls::Explicit, HostStyle::Explicit},
            {"bare-upgrades-forced", Tls::Forced, HostStyle::Bare},
            {"bare-upgrades-offered", Tls::Explicit, HostStyle::Bare},
            {"ftps-implicit", Tls::Implicit, HostStyle::Implicit},
        };
        for (const auto kind : TestFtpServer::kinds()) {
            for (const Case &c : cases) {
                // pyftpdlib has no implicit TLS.
                if (c.serverTls == Tls::Implicit && kind != TestFtpServer::Kind::Vsftpd)
                    continue;
                for (const bool passive : {true, false}) {
                    QTest::addRow("%s-%s-%s", qPrintable(TestFtpServer::kindName(kind)), c.name,
                                  passive ? "passive" : "active")
                        << int(kind) << int(c.serverTls) << int(c.style) << passive;
                }
            }
        }
    }
    void roundTrip()
    {
        QFETCH(int, kind);
        QFETCH(int, serverTls);
        QFETCH(int, hostStyle);
        QFETCH(bool, passive);

        TlsHarness h;
        TestFtpServer::Options options = ServerOptions(kind);
        options.tls = Tls(serverTls);
        START_TLS_SERVER(h, options);
        QCOMPARE(h.connectWith(HostStyle(hostStyle), passive), 0);
        // What the log-in established is said with the next request, where a debug log that
        // opens after the log-in sees it.
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
        const QString transcript = h.transcript();
        QVERIFY2(transcript.contains(QStringLiteral("with FTP over ")), qPrintable(transcript));
        QVERIFY(transcript.contains(QStringLiteral("PROT P\r\n")));
        QVERIFY(transcript.contains(QStringLiteral("certificate SHA-256 ")));
        // Every completed log-in over TLS is remembered, whatever the host setting asked for.
        QCOMPARE(h.remembered(h.server.port()), true);

        // Small files are where an unclean TLS close would cut data short: the server's session
        // tickets arrive just when such a file is done.
        const QList<qint64> sizes{0, 1, 1000, 70'000, 5'000'000};
        for (const qint64 size : sizes) {
            const QString name = QStringLiteral("file-%1.bin").arg(size);
            const QString original = h.localPath(name);
            QVERIFY(WriteTestFile(original, size, quint32(size) + 3));
            h.ftp.PutFile(original, name);
            QCOMPARE(h.waitForCompletion(), 0);
            QCOMPARE(QFileInfo(h.serverPath(name)).size(), size);
            QCOMPARE(Sha256OfFile(h.serverPath(name)), Sha256OfFile(original));

            const QString copy = h.localPath(QStringLiteral("copy-") + name);
            h.ftp.GetFile(name, copy);
            QCOMPARE(h.waitForCompletion(), 0);
            QCOMPARE(QFileInfo(copy).size(), size);
            QCOMPARE(Sha256OfFile(copy), Sha256OfFile(original));
        }
        QVERIFY(!h.transcript().contains(h.server.password()));
    }

    // A server that takes the file more slowly than it can be encrypted: what the component
    // reports as sent stays close to what the server has, and the process does not keep the
    // encrypted rest in memory. (vsftpd only: pyftpdlib cannot throttle a TLS connection.)
    void uploadToASlowServerKeepsLittleInMemory()
    {
        if (!TestFtpServer::vsftpdAvailable())
            QSKIP("vsftpd needs root");
        constexpr qint64 size = 48'000'000;
        // The socket buffers of both ends and the stream's read-ahead, with room to spare; far
        // below the file.
        constexpr qint64 allowedAhead = 20'000'000;
        TlsHarness h;
        TestFtpServer::Options options = ServerOptions(int(TestFtpServer::Kind::Vsftpd));
        options.tls = Tls::Forced;
        options.throttleBytesPerSecond = 8'000'000;
        START_TLS_SERVER(h, options);
        QCOMPARE(h.connectWith(HostStyle::Explicit), 0);
        const QString original = h.localPath(QStringLiteral("big.bin"));
        QVERIFY(WriteTestFile(original, size, 5));

        const auto residentBytes = [] {
            QFile status(QStringLiteral("/proc/self/status"));
            if (!status.open(QIODevice::ReadOnly))
                return qint64(-1);
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith("VmRSS:"))
                    return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
            }
            return qint64(-1);
        };
        const qint64 residentBefore = residentBytes();
        QVERIFY(residentBefore > 0);
        qint64 mostAhead = 0;
        qint64 mostResident = residentBefore;
        connect(&h.ftp, &FtpControl::Activity, this, [&](qint64 reported) {
            const qint64 arrived = QFileInfo(h.serverPath(QStringLiteral("big.bin"))).size();
            mostAhead = std::max(mostAhead, reported - arrived);
            mostResident = std::max(mostResident, residentBytes());
        });
        h.ftp.PutFile(original, QStringLiteral("big.bin"));
        QCOMPARE(h.waitForCompletion(120000), 0);
        QCOMPARE(Sha256OfFile(h.serverPath(QStringLiteral("big.bin"))), Sha256OfFile(original));
        QVERIFY2(mostAhead < allowedAhead, QByteArray::number(mostAhead));
#ifndef __SANITIZE_ADDRESS__
        // AddressSanitizer holds freed blocks back in its quarantine (256 MB by default), so under
        // it the resident size tells nothing about what the component keeps.
        QVERIFY2(mostResident - residentBefore < allowedAhead,
                 QByteArray::number(mostResident - residentBefore));
#endif
    }

    // A bare host to a server without TLS still works, in plain FTP, and says so; "ftpes://"
    // insists on TLS and ends without sending the user name.
    void serverWithoutTls_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("hostStyle");
        QTest::addColumn<int>("result");
        for (const auto kind : TestFtpServer::kinds()) {
            const QString name = TestFtpServer::kindName(kind);
            QTest::addRow("%s-bare-plain", qPrintable(name))
                << int(kind) << int(HostStyle::Bare) << 0;
            QTest::addRow("%s-ftpes-refused", qPrintable(name))
                << int(kind) << int(HostStyle::Explicit) << int(FtpResult::TlsFailure);
        }
    }
    void serverWithoutTls()
    {
        QFETCH(int, kind);
        QFETCH(int, hostStyle);
        QFETCH(int, result);
        TlsHarness h;
        START_FTP_SERVER(h, ServerOptions(kind));
        QCOMPARE(h.connectWith(HostStyle(hostStyle)), result);
        const QString transcript = h.transcript();
        if (result == 0) {
            QVERIFY(WriteTestFile(h.localPath(QStringLiteral("p")), 4321));
            h.ftp.PutFile(h.localPath(QStringLiteral("p")), QStringLiteral("p"));
            QCOMPARE(h.waitForCompletion(), 0);
            QVERIFY(h.transcript().contains(QStringLiteral("with plain FTP without encryption")));
            QCOMPARE(Sha256OfFile(h.serverPath(QStringLiteral("p"))),
                     Sha256OfFile(h.localPath(QStringLiteral("p"))));
        } else {
            QVERIFY2(!sentUserName(h.debug), qPrintable(transcript));
        }
        QVERIFY(!QFileInfo::exists(h.storePath()));
        QVERIFY(!QFileInfo::exists(h.tlsHostsPath()));
    }

    // A server that lists AUTH TLS but refuses it (built with TLS, run without a certificate):
    // a bare host goes on in plain FTP, as everyday clients do, and the decision is in the
    // transcript before the user name goes out; "ftpes://" stays strict. A server that agrees and
    // then hangs up instead of the handshake ends the connection either way. None of it is
    // remembered as TLS.
    void authTlsNotCompleted_data()
    {
        QTest::addColumn<int>("serverTls");
        QTest::addColumn<int>("hostStyle");
        QTest::addColumn<int>("result");
        // pyftpdlib only: no packaged server can be told to answer AUTH TLS like this.
        QTest::newRow("refused-bare-goes-plain") << int(Tls::Refused) << int(HostStyle::Bare) << 0;
        QTest::newRow("refused-ftpes-ends")
            << int(Tls::Refused) << int(HostStyle::Explicit) << int(FtpResult::TlsFailure);
        QTest::newRow("hang-up-bare-ends")
            << int(Tls::HangsUp) << int(HostStyle::Bare) << int(FtpResult::TlsFailure);
        QTest::newRow("hang-up-ftpes-ends")
            << int(Tls::HangsUp) << int(HostStyle::Explicit) << int(FtpResult::TlsFailure);
    }
    void authTlsNotCompleted()
    {
        QFETCH(int, serverTls);
        QFETCH(int, hostStyle);
        QFETCH(int, result);
        TlsHarness h;
        TestFtpServer::Options options;
        options.tls = Tls(serverTls);
        options.commandLog = h.newCommandLog();
        START_FTP_SERVER(h, options);
        QCOMPARE(h.connectWith(HostStyle(hostStyle)), result);

        if (result == 0) {
            const qsizetype decision = lineStartingWith(
                h.debug, QStringLiteral("# The server refused AUTH TLS (500 This security scheme "
                                        "is not implemented): plain FTP"));
            const qsizetype user = lineStartingWith(h.debug, QStringLiteral("USER "));
            QVERIFY2(decision >= 0 && user > decision, qPrintable(h.transcript()));
            QVERIFY(WriteTestFile(h.localPath(QStringLiteral("p")), 70'000));
            h.ftp.PutFile(h.localPath(QStringLiteral("p")), QStringLiteral("p"));
            QCOMPARE(h.waitForCompletion(), 0);
            QCOMPARE(Sha256OfFile(h.serverPath(QStringLiteral("p"))),
                     Sha256OfFile(h.localPath(QStringLiteral("p"))));
            QVERIFY2(h.transcript().contains(
                         QStringLiteral("with plain FTP without encryption, because the server "
                                        "refused AUTH TLS (500 This security scheme is not "
                                        "implemented)")),
                     qPrintable(h.transcript()));
            h.ftp.Disconnect();
            QCOMPARE(h.serverCommands().mid(0, 3),
                     (QStringList{"FEAT", "AUTH TLS", "USER " + h.server.user()}));
        } else {
            QVERIFY2(!sentUserName(h.debug), qPrintable(h.transcript()));
            QVERIFY(!h.ftp.isConnected());
            const QStringList commands = h.serverCommands();
            QVERIFY2(commands.contains(QStringLiteral("AUTH TLS")), qPrintable(commands.join('|')));
            QVERIFY2(!receivedLogIn(commands), qPrintable(commands.join('|')));
        }
        QVERIFY(!QFileInfo::exists(h.tlsHostsPath()));
    }

    // A host that completed a TLS log-in must speak TLS again. When the same host and port come
    // back without it (AUTH TLS gone from FEAT, as someone who strips it would show; AUTH TLS
    // refused; a handshake that fails) the connection ends before the user name: the server never
    // sees USER, and the transcript says that the host used TLS before and how to forget it.
    // "ftp://" still goes plain, because the user chose it, and forgets nothing. Another spelling
    // of the host, its address or its name, is the same host: no respelling reaches it in clear
    // text.
    void rememberedHostRefusesPlainText_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("degradedTls");
        QTest::addColumn<QString>("why");
        QTest::addColumn<QString>("spelling"); // %1 the port
        const QString asLearnt = QStringLiteral("127.0.0.1:%1");
        for (const auto kind : TestFtpServer::kinds()) {
            QTest::addRow("%s-feat-stripped", qPrintable(TestFtpServer::kindName(kind)))
                << int(kind) << int(Tls::None) << "the server offers no TLS" << asLearnt;
        }
        QTest::newRow("pyftpdlib-auth-refused")
            << int(TestFtpServer::Kind::Pyftpdlib) << int(Tls::Refused)
            << "the server refused AUTH TLS (500 This security scheme is not implemented)"
            << asLearnt;
        QTest::newRow("pyftpdlib-handshake-fails")
            << int(TestFtpServer::Kind::Pyftpdlib) << int(Tls::HangsUp) << "TLS handshake failed"
            << asLearnt;
        const auto respelt = [](const char *name, const char *spelling) {
            QTest::newRow(name) << int(TestFtpServer::Kind::Pyftpdlib) << int(Tls::None)
                                << "the server offers no TLS" << QString::fromLatin1(spelling);
        };
        respelt("respelt-short-address", "127.1:%1");
        respelt("respelt-hex-address", "0x7f.0.0.1:%1");
        respelt("respelt-ipv4-mapped", "[::ffff:127.0.0.1]:%1");
        respelt("respelt-as-name", "LocalHost:%1");
    }
    void rememberedHostRefusesPlainText()
    {
        QFETCH(int, kind);
        QFETCH(int, degradedTls);
        QFETCH(QString, why);
        QFETCH(QString, spelling);
        TlsHarness h;
        LEARN_TLS(h, kind);
        TestFtpServer::Options degraded = ServerOptions(kind);
        degraded.tls = Tls(degradedTls);
        RESTART_ON_SAME_PORT(h, degraded);
        const quint16 port = h.server.port();
        const QString host = spelling.arg(port);

        QCOMPARE(h.connectWith(HostStyle::Bare, true, host), int(FtpResult::TlsFailure));
        const QString transcript = h.transcript();
        QVERIFY2(transcript.contains(why), qPrintable(transcript));
        QVERIFY2(transcript.contains(QStringLiteral("%1 port %2 completed a log-in over TLS before")
                                         .arg(ParseFtpServerAddress(host)->host)
                                         .arg(port)),
                 qPrintable(transcript));
        // A name is forgotten with the address it was reached at.
        const QString line =
            QStringLiteral("line \"127.0.0.1 %1\" from %2").arg(port).arg(h.tlsHostsPath());
        QVERIFY(transcript.contains(QStringLiteral("deleting the ") + line) ||
                transcript.contains(QStringLiteral("\" and the ") + line));
        QVERIFY(transcript.contains(QStringLiteral("ftp://%1 as the host").arg(host)));
        const auto reason = Tls(degradedTls) == Tls::HangsUp
                                ? FtpTlsRefusal::Reason::HandshakeFailed
                                : FtpTlsRefusal::Reason::NoLongerOffered;
        QVERIFY(h.ftp.tlsRefusal() && h.ftp.tlsRefusal()->reason == reason);
        QVERIFY2(!sentUserName(h.debug), qPrintable(transcript));
        QVERIFY(!h.ftp.isConnected());
        const QStringList commands = h.serverCommands();
        QVERIFY2(commands.contains(QStringLiteral("FEAT")), qPrintable(commands.join('|')));
        QVERIFY2(!receivedLogIn(commands), qPrintable(commands.join('|')));

        // The user's explicit choice: plain FTP without asking what the host did before.
        h.debug.clear();
        QCOMPARE(h.connectWith(HostStyle::Plain), 0);
        QVERIFY(WriteTestFile(h.localPath(QStringLiteral("chosen")), 1000));
        h.ftp.PutFile(h.localPath(QStringLiteral("chosen")), QStringLiteral("chosen"));
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(QFileInfo(h.serverPath(QStringLiteral("chosen"))).size(), 1000);
        QCOMPARE(h.remembered(port), true);
    }

    // Forgetting a host is deleting its line, exactly as the README shows; then a bare host goes
    // plain again on a server without TLS, and is not remembered by that.
    void forgettingAHost_data()
    {
        TestFtpServer::addKindRows();
    }
    void forgettingAHost()
    {
        QFETCH(int, kind);
        TlsHarness h;
        LEARN_TLS(h, kind);
        RESTART_ON_SAME_PORT(h, ServerOptions(kind));
        const quint16 port = h.server.port();
        QCOMPARE(h.connectWith(HostStyle::Bare), int(FtpResult::TlsFailure));

        QString error;
        QVERIFY2(
            RunToCompletion(QStringLiteral("sed"),
                            {QStringLiteral("-i"),
                             QStringLiteral("/^127\\.0\\.0\\.1 %1$/d").arg(port), h.tlsHostsPath()},
                            {}, &error),
            qPrintable(error));
        QCOMPARE(h.remembered(port), false);
        h.debug.clear();
        QCOMPARE(h.connectWith(HostStyle::Bare), 0);
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
        QVERIFY2(h.transcript().contains(QStringLiteral(
                     "with plain FTP without encryption, because the server offers no TLS")),
                 qPrintable(h.transcript()));
        QCOMPARE(h.remembered(port), false);
    }

    // "ftp://" on a server that offers TLS: plain FTP, no FEAT, no AUTH TLS, and the summary
    // says the host setting chose it.
    void plainSchemeOnTlsServer_data()
    {
        TestFtpServer::addKindRows();
    }
    void plainSchemeOnTlsServer()
    {
        QFETCH(int, kind);
        TlsHarness h;
        TestFtpServer::Options options = ServerOptions(kind);
        options.tls = Tls::Explicit;
        options.commandLog = h.newCommandLog();
        START_TLS_SERVER(h, options);
        QCOMPARE(h.connectWith(HostStyle::Plain), 0);
        QVERIFY(WriteTestFile(h.localPath(QStringLiteral("plain.bin")), 70'000, 5));
        h.ftp.PutFile(h.localPath(QStringLiteral("plain.bin")), QStringLiteral("plain.bin"));
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(Sha256OfFile(h.serverPath(QStringLiteral("plain.bin"))),
                 Sha256OfFile(h.localPath(QStringLiteral("plain.bin"))));
        const QString transcript = h.transcript();
        QVERIFY2(transcript.contains(QStringLiteral("with plain FTP without encryption, chosen by "
                                                    "the host setting (ftp://)")),
                 qPrintable(transcript));
        QVERIFY(!transcript.contains(QStringLiteral("AUTH TLS\r\n")));
        h.ftp.Disconnect();
        const QStringList commands = h.serverCommands();
        QVERIFY2(commands.contains("USER " + h.server.user()), qPrintable(commands.join('|')));
        QVERIFY2(!commands.contains(QStringLiteral("FEAT")) &&
                     !commands.contains(QStringLiteral("AUTH TLS")),
                 qPrintable(commands.join('|')));
        QVERIFY(!QFileInfo::exists(h.tlsHostsPath()));
        QVERIFY(!QFileInfo::exists(h.storePath()));
    }

    // A certificate that verifies against the system's authorities needs no entry among the
    // certificates trusted on first use; the host is remembered as having spoken TLS all the
    // same, and refused in plain FTP afterwards.
    void verifiedHostIsRememberedToo_data()
    {
        TestFtpServer::addKindRows();
    }
    void verifiedHostIsRememberedToo()
    {
        QFETCH(int, kind);
        TlsHarness h;
        TestFtpServer::Options options = ServerOptions(kind);
        options.tls = Tls::Explicit;
        QString error;
        const QSslCertificate authority =
            IssueVerifiableCertificate(h.certificates.path(), &options, &error);
        QVERIFY2(!authority.isNull(), qPrintable(error));
        // The system's authorities as Qt sees them, for this test only.
        const QSslConfiguration systemDefault = QSslConfiguration::defaultConfiguration();
        QSslConfiguration trusting = systemDefault;
        trusting.addCaCertificate(authority);
        QSslConfiguration::setDefaultConfiguration(trusting);
        const auto restore =
            qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(systemDefault); });
        START_FTP_SERVER(h, options);

        QCOMPARE(h.connectWith(HostStyle::Bare), 0);
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
        QVERIFY2(h.transcript().contains(QStringLiteral("(verified by the system's authorities)")),
                 qPrintable(h.transcript()));
        QVERIFY(!QFileInfo::exists(h.storePath()));
        QCOMPARE(h.remembered(h.server.port()), true);
        h.ftp.Disconnect();

        RESTART_ON_SAME_PORT(h, ServerOptions(kind));
        h.debug.clear();
        QCOMPARE(h.connectWith(HostStyle::Bare), int(FtpResult::TlsFailure));
        QVERIFY2(!sentUserName(h.debug), qPrintable(h.transcript()));
        QVERIFY(!receivedLogIn(h.serverCommands()));
    }

    // Through an FTP proxy the dialogue, and TLS with it, is the proxy's: the memory is kept for
    // the proxy's host and port, as the certificate store is, not for the server behind it.
    void ftpProxyIsTheRememberedEndpoint_data()
    {
        QTest::addColumn<bool>("proxyRemembered");
        QTest::newRow("proxy-remembered-refuses") << true;
        QTest::newRow("only-server-remembered-goes-plain") << false;
    }
    void ftpProxyIsTheRememberedEndpoint()
    {
        QFETCH(bool, proxyRemembered);
        TlsHarness h;
        START_FTP_SERVER(h, TestFtpServer::Options());
        TestProxy proxy;
        QString error;
        QVERIFY2(proxy.start(TestProxy::Kind::FtpSite, QString(), QString(), &error),
                 qPrintable(error));
        FtpTlsHostStore store(h.tlsHostsPath());
        QVERIFY(store.remember(QStringLiteral("127.0.0.1"),
                               proxyRemembered ? proxy.port() : h.server.port(), &error));
        h.pointAtServer(true);
        h.ftp.setFirewallType(4);
        h.ftp.setFirewallHost(QStringLiteral("127.0.0.1"));
        h.ftp.setFirewallPort(proxy.port());
        h.ftp.Connect();
        if (proxyRemembered) {
            QCOMPARE(h.waitForCompletion(), int(FtpResult::TlsFailure));
            QVERIFY2(h.transcript().contains(
                         QStringLiteral("127.0.0.1 port %1 completed a log-in over TLS before")
                             .arg(proxy.port())),
                     qPrintable(h.transcript()));
            QVERIFY(!sentUserName(h.debug));
            QCOMPARE(proxy.receivedCommands(), QStringList{QStringLiteral("FEAT")});
        } else {
            QCOMPARE(h.waitForCompletion(), 0);
        }
    }

    // The first connection stores the fingerprint (private file in a private folder); the same
    // certificate is accepted again; after the server got another certificate on the same port
    // the connection is refused before the user name is sent, says what the new one is, and the
    // stored one stays.
    void certificateTrustedOnFirstUse_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("hostStyle");
        for (const auto kind : TestFtpServer::kinds()) {
            const QString name = TestFtpServer::kindName(kind);
            QTest::addRow("%s-ftpes", qPrintable(name)) << int(kind) << int(HostStyle::Explicit);
            QTest::addRow("%s-bare", qPrintable(name)) << int(kind) << int(HostStyle::Bare);
        }
    }
    void certificateTrustedOnFirstUse()
    {
        QFETCH(int, kind);
        QFETCH(int, hostStyle);
        TlsHarness h;
        TestFtpServer::Options options = ServerOptions(kind);
        options.tls = Tls::Forced;
        START_TLS_SERVER(h, options);
        QCOMPARE(h.connectWith(HostStyle(hostStyle)), 0);
        h.ftp.QueryCurrentDirectory(); // the log-in's summary comes with the next request
        QCOMPARE(h.waitForCompletion(), 0);
        QVERIFY(h.transcript().contains(QStringLiteral("Trusted on first use")));
        QVERIFY(h.transcript().contains(QStringLiteral("(trusted on first use, now stored)")));
        QCOMPARE(modeOf(h.storePath()), 0600);
        QCOMPARE(modeOf(QFileInfo(h.storePath()).absolutePath()), 0700);
        const auto stored = FtpCertificateStore(h.storePath())
                                .fingerprint(QStringLiteral("127.0.0.1"), h.server.port());
        QVERIFY(stored.has_value());
        QCOMPARE(stored->size(), 64);

        h.ftp.Disconnect();
        h.debug.clear();
        QCOMPARE(h.connectWith(HostStyle(hostStyle)), 0);
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
        QVERIFY(h.transcript().contains(QStringLiteral("(trusted on first use earlier)")));
        h.ftp.Disconnect();

        // The same server, port and name, with a new certificate.
        options.port = h.server.port();
        h.server.stop();
        START_TLS_SERVER(h, options, QStringLiteral("other"));
        h.debug.clear();
        QCOMPARE(h.connectWith(HostStyle(hostStyle)), int(FtpResult::CertificateChanged));
        const QString transcript = h.transcript();
        QVERIFY2(transcript.contains(QStringLiteral("different certificate")),
                 qPrintable(transcript));
        QVERIFY2(!sentUserName(h.debug), qPrintable(transcript));
        QVERIFY(!h.ftp.isConnected());
        QCOMPARE(FtpCertificateStore(h.storePath())
                     .fingerprint(QStringLiteral("127.0.0.1"), h.server.port()),
                 stored);
        // What the user needs to judge it.
        const std::optional<FtpTlsRefusal> refusal = h.ftp.tlsRefusal();
        QVERIFY(refusal && refusal->reason == FtpTlsRefusal::Reason::CertificateChanged);
        QCOMPARE(refusal->trustedFingerprint, *stored);
        QCOMPARE(refusal->presented.subject, QStringLiteral("other"));
    }
};

QTEST_GUILESS_MAIN(TestFtpTls)
#include "tst_ftptls.moc"
