#include "ftpconnectiondescriptor.h"
#include "ftpharness.h"
#include "ftpproxy.h"
#include "ftpresult.h"
#include "testproxy.h"

#include <QSslSocket>
#include <QTcpServer>
#include <memory>
#include <sys/socket.h>

namespace {

const QString ProxyUser = QStringLiteral("parcelup-proxy");
// tinyproxy's BasicAuth takes letters and digits only.
const QString ProxyPassword = QStringLiteral("Fw9kPx7q");

#define START_PROXY(proxy, kind, user, password)                                                   \
    do {                                                                                           \
        QString proxyError;                                                                        \
        QVERIFY2((proxy).start((kind), (user), (password), &proxyError), qPrintable(proxyError));  \
    } while (false)

// Uploads and downloads a file through whatever the harness is set up for, byte-exact.
void TransferBothWays(FtpHarness &h)
{
    const QString original = h.localPath(QStringLiteral("through.bin"));
    QVERIFY(WriteTestFile(original, 300'000, 11));
    h.ftp.PutFile(original, QStringLiteral("through.bin"));
    QCOMPARE(h.waitForCompletion(), 0);
    QCOMPARE(Sha256OfFile(h.serverPath(QStringLiteral("through.bin"))), Sha256OfFile(original));
    const QString copy = h.localPath(QStringLiteral("back.bin"));
    h.ftp.GetFile(QStringLiteral("through.bin"), copy);
    QCOMPARE(h.waitForCompletion(), 0);
    QCOMPARE(Sha256OfFile(copy), Sha256OfFile(original));
}

void VerifyNoSecrets(const FtpHarness &h)
{
    for (const QString &message : h.debug) {
        QVERIFY2(!message.contains(ProxyPassword), qPrintable(message));
        QVERIFY2(!message.contains(h.server.password()), qPrintable(message));
    }
}

} // namespace

// The Firewall properties against real proxies on 127.0.0.1: dante (SOCKS5) and tinyproxy (HTTP
// CONNECT) carrying whole transfers, with and without credentials and with TLS end to end, and
// the three FTP-proxy dialogues against tests/servers/ftpproxyrelay.py.
class TestFtpProxy : public QObject
{
    Q_OBJECT

private slots:
    void tunnel_data()
    {
        QTest::addColumn<int>("proxyKind");
        QTest::addColumn<bool>("credentials");
        QTest::addColumn<bool>("tls");
        if (!TestProxy::daemonsAvailable())
            QSKIP("danted and tinyproxy are started only when the tests run as root");
        QTest::newRow("socks5") << int(TestProxy::Kind::Socks5) << false << false;
        QTest::newRow("socks5-credentials") << int(TestProxy::Kind::Socks5) << true << false;
        QTest::newRow("socks5-ftpes") << int(TestProxy::Kind::Socks5) << false << true;
        QTest::newRow("http") << int(TestProxy::Kind::Http) << false << false;
        QTest::newRow("http-credentials") << int(TestProxy::Kind::Http) << true << false;
        QTest::newRow("http-ftpes") << int(TestProxy::Kind::Http) << true << true;
    }
    void tunnel()
    {
        QFETCH(int, proxyKind);
        QFETCH(bool, credentials);
        QFETCH(bool, tls);
        FtpHarness h;
        QTemporaryDir state;
        h.ftp.setCertificateStorePath(state.filePath(QStringLiteral("known")));
        TestFtpServer::Options options;
        if (tls) {
            // vsftpd: it insists on TLS session reuse, the strictest check of the data
            // connections through the tunnel. (pyftpdlib drops TLS data connections that reach
            // it through these proxies during the handshake; plain ones it takes.)
            options.kind = TestFtpServer::Kind::Vsftpd;
            options.tls = TestFtpServer::Tls::Forced;
            QString error;
            QVERIFY2(TestFtpServer::createSelfSignedCertificate(
                         state.path(), QStringLiteral("ftp.test"), &options, &error),
                     qPrintable(error));
        }
        START_FTP_SERVER(h, options);
        TestProxy proxy;
        START_PROXY(proxy, TestProxy::Kind(proxyKind), credentials ? ProxyUser : QString(),
                    credentials ? ProxyPassword : QString());

        h.pointAtServer(false);
        if (tls)
            h.ftp.setHost(QStringLiteral("ftpes://") + h.server.host());
        h.ftp.setFirewallType(proxyKind == int(TestProxy::Kind::Socks5) ? 1 : 2);
        h.ftp.setFirewallHost(QStringLiteral("127.0.0.1"));
        h.ftp.setFirewallPort(proxy.port());
        if (credentials) {
            h.ftp.setFirewallUserName(ProxyUser);
            h.ftp.setFirewallPassword(ProxyPassword);
        }
        h.ftp.Connect();
        QCOMPARE(h.waitForCompletion(), 0);
        TransferBothWays(h);
        if (QTest::currentTestFailed())
            return;
        const QString transcript = h.debug.join(QString());
        QVERIFY2(transcript.contains(QStringLiteral(" proxy 127.0.0.1:%1").arg(proxy.port())),
                 qPrintable(transcript));
        QVERIFY(transcript.contains(QStringLiteral("# Passive mode for data connections")));
        QCOMPARE(transcript.contains(QStringLiteral("TLSv1.")), tls);
        VerifyNoSecrets(h);

        // The proxy really is on the way: stopped, it takes the next log-in with it.
        proxy.stop();
        h.ftp.Disconnect();
        h.ftp.Connect();
        QCOMPARE(h.waitForCompletion(), int(FtpResult::ProxyFailure));
    }

    // TLS uploads through a relay that closes a tunnel as soon as one side ends it, and passes the
    // client's bytes on late, so that the server sends its TLS 1.3 session tickets after the whole
    // file went out. A client that ends the TCP stream right after its close_notify makes the
    // relay close the way to the server too early; the tickets then meet a closed socket, the
    // relay's kernel resets the connection, and the server misses the end of the file. So the
    // server must be the side that ends every data connection first, and every file arrives whole.
    //
    // vsftpd only: pyftpdlib closes a data connection on which bytes arrive before it has taken
    // the transfer command, and through a relay the TLS handshake often comes first.
    void tlsUploadEndedByServer_data()
    {
        QTest::addColumn<int>("proxyKind");
        if (!TestFtpServer::vsftpdAvailable())
            QSKIP("vsftpd is started only when the tests run as root");
        QTest::newRow("socks5") << int(TestProxy::Kind::RelaySocks5);
        QTest::newRow("http") << int(TestProxy::Kind::RelayHttp);
    }
    void tlsUploadEndedByServer()
    {
        QFETCH(int, proxyKind);
        FtpHarness h;
        QTemporaryDir state;
        h.ftp.setCertificateStorePath(state.filePath(QStringLiteral("known")));
        TestFtpServer::Options options;
        options.kind = TestFtpServer::Kind::Vsftpd;
        options.tls = TestFtpServer::Tls::Forced;
        QString error;
        QVERIFY2(TestFtpServer::createSelfSignedCertificate(
                     state.path(), QStringLiteral("ftp.test"), &options, &error),
                 qPrintable(error));
        START_FTP_SERVER(h, options);
        TestProxy proxy;
        START_PROXY(proxy, TestProxy::Kind(proxyKind), QString(), QString());

        h.pointAtServer(true);
        h.ftp.setHost(QStringLiteral("ftpes://") + h.server.host());
        h.ftp.setFirewallType(proxyKind == int(TestProxy::Kind::RelaySocks5) ? 1 : 2);
        h.ftp.setFirewallHost(QStringLiteral("127.0.0.1"));
        h.ftp.setFirewallPort(proxy.port());
        h.ftp.Connect();
        QCOMPARE(h.waitForCompletion(), 0);

        // An empty file, one that fits in a TLS record, and one of many records.
        const QList<qint64> sizes{0, 1'000, 300'000};
        for (const qint64 size : sizes) {
            const QString name = QStringLiteral("up-%1.bin").arg(size);
            const QString original = h.localPath(name);
            QVERIFY(WriteTestFile(original, size, 7));
            h.ftp.PutFile(original, name);
            QCOMPARE(h.waitForCompletion(), 0);
            QCOMPARE(Sha256OfFile(h.serverPath(name)), Sha256OfFile(original));
        }

        // The relay notes a tunnel once both of its connections are closed, which may be just
        // after the server's final reply.
        const auto dataTunnels = [&proxy, &h] {
            QList<TestProxy::TunnelEnd> data;
            for (const TestProxy::TunnelEnd &end : proxy.tunnelEnds()) {
                if (end.targetPort != h.server.port())
                    data.append(end);
            }
            return data;
        };
        QTRY_COMPARE_WITH_TIMEOUT(dataTunnels().size(), sizes.size(), 10'000);
        for (const TestProxy::TunnelEnd &end : dataTunnels()) {
            QVERIFY2(end.endedFirst == QStringLiteral("server"),
                     qPrintable(QStringLiteral("the data connection to port %1 (%2 bytes up) was "
                                               "ended by the %3 first")
                                    .arg(end.targetPort)
                                    .arg(end.bytesToServer)
                                    .arg(end.endedFirst)));
        }
    }

    // Ending a TLS upload in order needs the descriptor of the connection that carries the data
    // socket's bytes. Through SOCKS5, Qt's socketDescriptor() is a number of its own that may name
    // any other descriptor of the process; what FtpConnectionDescriptor() finds must be the real
    // connection: bytes sent on it arrive at the far end.
    void connectionDescriptor_data()
    {
        QTest::addColumn<int>("firewallType");
        QTest::addColumn<int>("proxyKind");
        QTest::newRow("direct") << 0 << -1;
        QTest::newRow("socks5-relay") << 1 << int(TestProxy::Kind::RelaySocks5);
        QTest::newRow("http-relay") << 2 << int(TestProxy::Kind::RelayHttp);
        if (TestProxy::daemonsAvailable()) {
            QTest::newRow("socks5-dante") << 1 << int(TestProxy::Kind::Socks5);
            QTest::newRow("http-tinyproxy") << 2 << int(TestProxy::Kind::Http);
        }
    }
    void connectionDescriptor()
    {
        QFETCH(int, firewallType);
        QFETCH(int, proxyKind);
        QTcpServer farEnd;
        QVERIFY(farEnd.listen(QHostAddress::LocalHost, 0));
        TestProxy proxy;
        QSslSocket socket;
        socket.setProxy(QNetworkProxy::NoProxy);
        if (proxyKind >= 0) {
            START_PROXY(proxy, TestProxy::Kind(proxyKind), QString(), QString());
            QString error;
            const auto route = MakeFtpProxy(firewallType, QStringLiteral("127.0.0.1"), proxy.port(),
                                            QString(), QString(), &error);
            QVERIFY2(route, qPrintable(error));
            socket.setProxy(route->networkProxy());
        }
        socket.connectToHost(QStringLiteral("127.0.0.1"), farEnd.serverPort());
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::ConnectedState, 10'000);
        QTRY_VERIFY_WITH_TIMEOUT(farEnd.hasPendingConnections(), 10'000);
        const std::unique_ptr<QTcpSocket> accepted(farEnd.nextPendingConnection());

        const int descriptor = FtpConnectionDescriptor(socket);
        QVERIFY(descriptor >= 0);
        const QByteArray probe("sent on the descriptor");
        QCOMPARE(::send(descriptor, probe.constData(), size_t(probe.size()), MSG_NOSIGNAL),
                 ssize_t(probe.size()));
        QTRY_COMPARE_WITH_TIMEOUT(accepted->bytesAvailable(), qint64(probe.size()), 10'000);
        QCOMPARE(accepted->readAll(), probe);
    }

    // A proxy that wants credentials refuses wrong ones; the log-in then fails as the proxy's,
    // not as a wrong FTP password (which would blame the user's FTP account).
    void wrongProxyPassword_data()
    {
        QTest::addColumn<int>("proxyKind");
        if (!TestProxy::daemonsAvailable())
            QSKIP("danted and tinyproxy are started only when the tests run as root");
        QTest::newRow("socks5") << int(TestProxy::Kind::Socks5);
        QTest::newRow("http") << int(TestProxy::Kind::Http);
        QTest::newRow("ftp-proxy") << int(TestProxy::Kind::FtpSite);
    }
    void wrongProxyPassword()
    {
        QFETCH(int, proxyKind);
        FtpHarness h;
        START_FTP_SERVER(h, TestFtpServer::Options());
        TestProxy proxy;
        START_PROXY(proxy, TestProxy::Kind(proxyKind), ProxyUser, ProxyPassword);
        h.pointAtServer(true);
        h.ftp.setFirewallType(proxyKind == int(TestProxy::Kind::Socks5) ? 1
                              : proxyKind == int(TestProxy::Kind::Http) ? 2
                                                                        : 4);
        h.ftp.setFirewallHost(QStringLiteral("127.0.0.1"));
        h.ftp.setFirewallPort(proxy.port());
        h.ftp.setFirewallUserName(ProxyUser);
        h.ftp.setFirewallPassword(QStringLiteral("not") + ProxyPassword);
        h.ftp.Connect();
        QCOMPARE(h.waitForCompletion(), int(FtpResult::ProxyFailure));
        for (const QString &message : std::as_const(h.debug))
            QVERIFY2(!message.contains(QStringLiteral("notFw")), qPrintable(message));
    }

    // The exact log-in dialogue each FTP-proxy kind receives, and a transfer through it.
    void ftpProxy_data()
    {
        QTest::addColumn<int>("firewallType");
        QTest::addColumn<bool>("proxyLogIn");
        // %u the server's user, %p its password, %t "127.0.0.1:port".
        QTest::addColumn<QStringList>("expected");
        const QStringList proxyLogInLines{QStringLiteral("USER ") + ProxyUser,
                                          QStringLiteral("PASS ") + ProxyPassword};
        const QStringList serverLogIn{"USER %u", "PASS %p", "TYPE I"};
        QTest::newRow("user-at-host")
            << 3 << false << QStringList{"FEAT", "USER %u@%t", "PASS %p", "TYPE I"};
        QTest::newRow("user-at-host-proxy-login")
            << 3 << true
            << QStringList{"FEAT"} + proxyLogInLines +
                   QStringList{"USER %u@%t", "PASS %p", "TYPE I"};
        QTest::newRow("site") << 4 << false << QStringList{"FEAT", "SITE %t"} + serverLogIn;
        QTest::newRow("site-proxy-login")
            << 4 << true
            << QStringList{"FEAT"} + proxyLogInLines + QStringList{"SITE %t"} + serverLogIn;
        QTest::newRow("open") << 5 << false << QStringList{"FEAT", "OPEN %t"} + serverLogIn;
        QTest::newRow("open-proxy-login")
            << 5 << true
            << QStringList{"FEAT"} + proxyLogInLines + QStringList{"OPEN %t"} + serverLogIn;
    }
    void ftpProxy()
    {
        QFETCH(int, firewallType);
        QFETCH(bool, proxyLogIn);
        QFETCH(QStringList, expected);
        FtpHarness h;
        START_FTP_SERVER(h, TestFtpServer::Options());
        TestProxy proxy;
        const auto kind = firewallType == 3   ? TestProxy::Kind::FtpUserAtHost
                          : firewallType == 4 ? TestProxy::Kind::FtpSite
                                              : TestProxy::Kind::FtpOpen;
        START_PROXY(proxy, kind, proxyLogIn ? ProxyUser : QString(),
                    proxyLogIn ? ProxyPassword : QString());
        h.pointAtServer(false);
        h.ftp.setFirewallType(firewallType);
        h.ftp.setFirewallHost(QStringLiteral("127.0.0.1"));
        h.ftp.setFirewallPort(proxy.port());
        if (proxyLogIn) {
            h.ftp.setFirewallUserName(ProxyUser);
            h.ftp.setFirewallPassword(ProxyPassword);
        }
        h.ftp.Connect();
        QCOMPARE(h.waitForCompletion(), 0);
        for (QString &line : expected) {
            line.replace(QStringLiteral("%u"), h.server.user())
                .replace(QStringLiteral("%p"), h.server.password())
                .replace(QStringLiteral("%t"), QStringLiteral("127.0.0.1:%1").arg(h.server.port()));
        }
        QCOMPARE(proxy.receivedCommands(), expected);
        TransferBothWays(h);
        if (QTest::currentTestFailed())
            return;
        VerifyNoSecrets(h);
        QVERIFY(h.debug.contains(QStringLiteral("PASS [protected]\r\n")));
    }

    // Without a usable proxy nothing goes around it: Connect ends with ProxyFailure.
    void unusableProxy_data()
    {
        QTest::addColumn<int>("firewallType");
        QTest::addColumn<QString>("firewallHost");
        QTest::addColumn<bool>("closedPort");
        for (int type = 1; type <= 5; ++type) {
            QTest::addRow("type-%d-no-host", type) << type << QString() << false;
            QTest::addRow("type-%d-blank-host", type) << type << QStringLiteral("  ") << false;
            QTest::addRow("type-%d-nobody-listening", type)
                << type << QStringLiteral("127.0.0.1") << true;
        }
        QTest::newRow("unknown-type") << 6 << QStringLiteral("127.0.0.1") << false;
        QTest::newRow("negative-type") << -1 << QStringLiteral("127.0.0.1") << false;
    }
    void unusableProxy()
    {
        QFETCH(int, firewallType);
        QFETCH(QString, firewallHost);
        QFETCH(bool, closedPort);
        FtpHarness h;
        START_FTP_SERVER(h, TestFtpServer::Options());
        h.pointAtServer(true);
        h.ftp.setFirewallType(firewallType);
        h.ftp.setFirewallHost(firewallHost);
        if (closedPort) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            h.ftp.setFirewallPort(probe.serverPort());
        }
        h.ftp.Connect();
        QCOMPARE(h.waitForCompletion(), int(FtpResult::ProxyFailure));
        QVERIFY(!h.ftp.isConnected());
    }
};

QTEST_GUILESS_MAIN(TestFtpProxy)
#include "tst_ftpproxy.moc"
