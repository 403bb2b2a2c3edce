#include "ftpharness.h"
#include "ftpresult.h"

#include <QTcpServer>

// Connect against real servers: the log-in, its refusals, the host forms, and what the dialogue
// transcript may and may not contain.
class TestFtpLogin : public QObject
{
    Q_OBJECT

private slots:
    void acceptedAndInLoginFolder_data() { TestFtpServer::addKindRows(); }
    void acceptedAndInLoginFolder()
    {
        QFETCH(int, kind);
        FtpHarness h;
        START_FTP_SERVER(h, ServerOptions(kind));

        h.pointAtServer(true);
        h.ftp.Connect();
        QVERIFY(h.ftp.isBusy());
        // Never from inside the starting call.
        QCOMPARE(h.completions.size(), 0);
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(h.ftp.result(), qint16(0));
        QCOMPARE(h.completions.last().at(0).toInt(), int(FtpControl::Request::Connect));
        QVERIFY(h.ftp.isConnected());

        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(h.ftp.currentDirectory(), QStringLiteral("/"));
        QTRY_VERIFY(h.debug.contains(QStringLiteral("TYPE I\r\n")));
        QCOMPARE(h.completions.size(), 2);
    }

    void refusedLogin_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("wrongUser");
        for (const auto kind : TestFtpServer::kinds()) {
            const QString name = TestFtpServer::kindName(kind);
            QTest::addRow("%s-wrong-password", qPrintable(name)) << int(kind) << false;
            QTest::addRow("%s-unknown-user", qPrintable(name)) << int(kind) << true;
        }
    }
    void refusedLogin()
    {
        QFETCH(int, kind);
        QFETCH(bool, wrongUser);
        FtpHarness h;
        START_FTP_SERVER(h, ServerOptions(kind));
        h.pointAtServer(true);
        if (wrongUser)
            h.ftp.setUserName(QStringLiteral("nobody-of-that-name"));
        else
            h.ftp.setPassword(QStringLiteral("not-the-password"));
        h.ftp.Connect();
        QCOMPARE(h.waitForCompletion(), 20530);
        QCOMPARE(h.ftp.result(), qint16(20530));
        QVERIFY(!h.ftp.isConnected());

        // Nothing works without a log-in, and it says so from the event loop.
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.completions.size(), 1);
        QCOMPARE(h.waitForCompletion(), int(FtpResult::NotConnected));
    }

    void nothingListening()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();

        FtpHarness h;
        h.ftp.setHost(QStringLiteral("127.0.0.1:%1").arg(port));
        h.ftp.setUserName(QStringLiteral("tester"));
        h.ftp.Connect();
        QCOMPARE(h.waitForCompletion(), int(FtpResult::ConnectionRefused));
    }

    void unusableHost_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("firewallType");
        QTest::addColumn<int>("result");
        QTest::newRow("empty") << QString() << 0 << int(FtpResult::NameLookupFailed);
        QTest::newRow("bad-port") << QStringLiteral("127.0.0.1:99999") << 0
                                  << int(FtpResult::NameLookupFailed);
        QTest::newRow("unknown-name")
            << QStringLiteral("no-such-host.invalid") << 0 << int(FtpResult::NameLookupFailed);
        QTest::newRow("proxy-without-host")
            << QStringLiteral("127.0.0.1") << 1 << int(FtpResult::ProxyFailure);
    }
    void unusableHost()
    {
        QFETCH(QString, host);
        QFETCH(int, firewallType);
        QFETCH(int, result);
        FtpHarness h;
        h.ftp.setHost(host);
        h.ftp.setFirewallType(firewallType);
        h.ftp.setUserName(QStringLiteral("tester"));
        h.ftp.Connect();
        QCOMPARE(h.completions.size(), 0);
        QCOMPARE(h.waitForCompletion(), result);
    }

    void ipv6Loopback_data() { TestFtpServer::addKindRows(); }
    void ipv6Loopback()
    {
        QFETCH(int, kind);
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHostIPv6, 0))
            QSKIP("::1 is not configured on this machine");
        probe.close();

        FtpHarness h;
        TestFtpServer::Options options = ServerOptions(kind);
        options.bindAddress = QStringLiteral("::1");
        START_FTP_SERVER(h, options);
        QVERIFY(h.server.host().startsWith(QStringLiteral("[::1]:")));
        for (const bool passive : {true, false}) {
            h.ftp.Disconnect();
            QCOMPARE(h.connectAndWait(passive), 0);
            QVERIFY(WriteTestFile(h.localPath(QStringLiteral("six")), 6000));
            h.ftp.PutFile(h.localPath(QStringLiteral("six")), QStringLiteral("six"));
            QCOMPARE(h.waitForCompletion(), 0);
            QCOMPARE(Sha256OfFile(h.serverPath(QStringLiteral("six"))),
                     Sha256OfFile(h.localPath(QStringLiteral("six"))));
        }
    }

    // The transcript: one line per command and reply line, each ending in CR LF. The password is
    // masked where it is sent and where the server answers it, and nowhere else: a short password
    // replaced in every line would mangle the transcript ("[protected]assive") and the words
    // around each mask would give it away.
    void transcriptHidesPassword_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("loginResult");
        for (const auto kind : TestFtpServer::kinds()) {
            const QString name = TestFtpServer::kindName(kind);
            QTest::addRow("%s-long", qPrintable(name))
                << int(kind) << QStringLiteral("Pw-7xQ!zz") << QStringList() << 0;
            // "p" stands in "passive", "EPSV", "Type set to I" ...
            QTest::addRow("%s-one-letter", qPrintable(name))
                << int(kind) << QStringLiteral("p") << QStringList() << 0;
        }
        QTest::addRow("reply-to-PASS-repeats-it")
            << int(TestFtpServer::Kind::Pyftpdlib) << QStringLiteral("Pw-7xQ!zz")
            << QStringList{QStringLiteral("PASS=reply 530 Password Pw-7xQ!zz is wrong.")} << 20530;
    }
    void transcriptHidesPassword()
    {
        QFETCH(int, kind);
        QFETCH(QString, password);
        QFETCH(QStringList, faults);
        QFETCH(int, loginResult);
        FtpHarness h;
        TestFtpServer::Options options = ServerOptions(kind);
        options.password = password;
        options.faults = faults;
        START_FTP_SERVER(h, options);
        QCOMPARE(h.connectAndWait(), loginResult);
        if (loginResult == 0) {
            QVERIFY(WriteTestFile(h.localPath(QStringLiteral("p.txt")), 10));
            h.ftp.PutFile(h.localPath(QStringLiteral("p.txt")), QStringLiteral("p.txt"));
            QCOMPARE(h.waitForCompletion(), 0);
        }
        h.ftp.Disconnect();

        QTRY_VERIFY(h.debug.size() >= 6);
        const QString transcript = h.debug.join(QString());
        QCOMPARE(transcript.count(QStringLiteral("PASS [protected]\r\n")), 1);
        for (const QString &message : std::as_const(h.debug)) {
            if (password.size() > 1)
                QVERIFY2(!message.contains(password), qPrintable(message));
            QVERIFY2(message.endsWith(QStringLiteral("\r\n")), qPrintable(message));
            QCOMPARE(message.count(QStringLiteral("\r\n")), 1);
        }
        if (loginResult == 0)
            QCOMPARE(transcript.count(QStringLiteral("[protected]")), 1);
        else
            QVERIFY(transcript.contains(QStringLiteral("530 Password [protected] is wrong.")));
    }
};

QTEST_GUILESS_MAIN(TestFtpLogin)
#include "tst_ftplogin.moc"
