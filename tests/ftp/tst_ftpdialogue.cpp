#include "ftpcontrol.h"
#include "ftpresult.h"
#include "ftptlshoststore.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A server that answers from a script: its greeting, then the next scripted answer for each line
// it receives ("<close>" hangs up). It presents replies that the real test servers never send.
class ScriptedServer : public QObject
{
public:
    ScriptedServer(const QByteArray &greeting, const QStringList &answers)
        : mGreeting(greeting), mAnswers(answers)
    {
        connect(&mServer, &QTcpServer::newConnection, this, [this] {
            mClient = mServer.nextPendingConnection();
            connect(mClient, &QTcpSocket::readyRead, this, &ScriptedServer::answer);
            mClient->write(mGreeting);
        });
        mListening = mServer.listen(QHostAddress::LocalHost, 0);
    }

    [[nodiscard]] bool isListening() const { return mListening; }
    [[nodiscard]] QString host() const
    {
        return QStringLiteral("127.0.0.1:%1").arg(mServer.serverPort());
    }
    [[nodiscard]] quint16 port() const { return mServer.serverPort(); }

    QList<QByteArray> received;

private:
    void answer()
    {
        // "<raw>text": whatever comes next, lines or not (a TLS handshake), is answered with
        // the text, and then the server hangs up.
        if (!mAnswers.isEmpty() && mAnswers.first().startsWith(QLatin1String("<raw>"))) {
            received.append(mClient->readAll());
            mClient->write(mAnswers.takeFirst().mid(5).toUtf8());
            mClient->disconnectFromHost();
            return;
        }
        while (mClient->canReadLine()) {
            const QByteArray line = mClient->readLine().trimmed();
            // Every log-in to a bare host asks for the features first; unless a test scripts
            // the answer, this server offers none.
            if (line == "FEAT" && !scriptsFeatures) {
                mClient->write("211-Features:\r\n UTF8\r\n211 End\r\n");
                continue;
            }
            received.append(line);
            const QString next =
                mAnswers.isEmpty() ? QStringLiteral("502 Not scripted.\r\n") : mAnswers.takeFirst();
            if (next == QLatin1String("<close>")) {
                mClient->disconnectFromHost();
                return;
            }
            mClient->write(next.toUtf8());
            if (!mAnswers.isEmpty() && mAnswers.first().startsWith(QLatin1String("<raw>")))
                return;
        }
    }

public:
    bool scriptsFeatures = false;

private:
    QTcpServer mServer;
    QTcpSocket *mClient = nullptr;
    QByteArray mGreeting;
    QStringList mAnswers;
    bool mListening = false;
};

const QStringList LogIn{QStringLiteral("331 Password please.\r\n"), QStringLiteral("230 In.\r\n"),
                        QStringLiteral("200 Binary.\r\n")};

} // namespace

// The log-in and reply handling against scripted answers: multi-line and preliminary replies,
// the log-in variants of RFC 959, refusals at each step, and replies that are no FTP at all.
class TestFtpDialogue : public QObject
{
    Q_OBJECT

private slots:
    void login_data()
    {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("logInSteps"); // 0 nothing sent, 1 USER, 2 USER and PASS

        QTest::newRow("plain") << QByteArray("220 Ready.\r\n") << LogIn << 0 << 2;
        QTest::newRow("multiline-greeting-230-after-user")
            << QByteArray("220-Welcome\r\n220-to the\r\n220 server.\r\n")
            << QStringList{"230-Hi.\r\n230 No password needed.\r\n", "200 Binary.\r\n"} << 0 << 1;
        QTest::newRow("preliminary-greeting")
            << QByteArray("120 Ready in a moment.\r\n220 Ready.\r\n") << LogIn << 0 << 2;
        QTest::newRow("lf-only-line-ends")
            << QByteArray("220 Ready.\n") << QStringList{"331 Pw.\n", "230 In.\n", "200 Ok.\n"} << 0
            << 2;
        QTest::newRow("pass-202") << QByteArray("220 Ready.\r\n")
                                  << QStringList{"331 Pw.\r\n", "202 Already in.\r\n",
                                                 "200 Ok.\r\n"}
                                  << 0 << 2;
        QTest::newRow("account-after-password")
            << QByteArray("220 Ready.\r\n") << QStringList{"331 Pw.\r\n", "332 Account?\r\n"}
            << 20332 << 2;
        QTest::newRow("account-after-user")
            << QByteArray("220 Ready.\r\n") << QStringList{"332 Account?\r\n"} << 20332 << 1;
        QTest::newRow("user-refused")
            << QByteArray("220 Ready.\r\n") << QStringList{"530 No.\r\n"} << 20530 << 1;
        QTest::newRow("password-refused-multiline")
            << QByteArray("220 Ready.\r\n")
            << QStringList{"331 Pw.\r\n", "530-Login incorrect.\r\n530 Bye.\r\n"} << 20530 << 2;
        QTest::newRow("binary-refused")
            << QByteArray("220 Ready.\r\n")
            << QStringList{"331 Pw.\r\n", "230 In.\r\n", "504 No binary.\r\n"} << 20504 << 2;
        QTest::newRow("greeting-421")
            << QByteArray("421 Too many users.\r\n") << QStringList{} << 20421 << 0;
        QTest::newRow("not-ftp") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n") << QStringList{}
                                 << int(FtpResult::ProtocolViolation) << 0;
        QTest::newRow("overlong-line") << QByteArray("220 ") + QByteArray(100'000, 'x') + "\r\n"
                                       << QStringList{} << int(FtpResult::ProtocolViolation) << 0;
        QTest::newRow("endless-line") << QByteArray("220 ") + QByteArray(100'000, 'x')
                                      << QStringList{} << int(FtpResult::ProtocolViolation) << 0;
        QTest::newRow("closed-during-login")
            << QByteArray("220 Ready.\r\n") << QStringList{"331 Pw.\r\n", "<close>"}
            << int(FtpResult::ConnectionLost) << 2;
    }
    void login()
    {
        QFETCH(QByteArray, greeting);
        QFETCH(QStringList, answers);
        QFETCH(int, result);
        QFETCH(int, logInSteps);

        ScriptedServer server(greeting, answers);
        QVERIFY(server.isListening());
        FtpControl ftp;
        QSignalSpy completions(&ftp, &FtpControl::OperationComplete);
        ftp.setHost(server.host());
        ftp.setUserName(QStringLiteral("anna"));
        ftp.setPassword(QStringLiteral("geheim"));
        ftp.Connect();
        QVERIFY(completions.wait(10000));
        QCOMPARE(completions.last().at(1).toInt(), result);
        QCOMPARE(ftp.isConnected(), result == 0);
        QCOMPARE(server.received.isEmpty(), logInSteps == 0);
        if (logInSteps > 0)
            QCOMPARE(server.received.first(), QByteArray("USER anna"));
        QCOMPARE(server.received.contains("PASS geheim"), logInSteps == 2);
        if (result == 0)
            QCOMPARE(server.received.last(), QByteArray("TYPE I"));
    }

    // Once the server has agreed to TLS, the log-in never goes on in clear text: a handshake that
    // fails, or clear text slipped in after the server's consent (the STARTTLS injection), end the
    // connection with a TLS result before the user name is sent; so does an answer to AUTH TLS
    // that is neither consent nor refusal. A refusal of AUTH TLS ends it too where the host
    // completed a TLS log-in before.
    void noClearTextAfterTlsOffered_data()
    {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<bool>("remembered");
        const QString features = "211-Features:\r\n AUTH TLS\r\n PBSZ\r\n PROT\r\n211 End\r\n";
        QTest::newRow("auth-refused-by-remembered-host")
            << QStringList{features, "534 Not now.\r\n"} << true;
        QTest::newRow("auth-answered-neither-yes-nor-no")
            << QStringList{features, "200 Fine, whatever.\r\n"} << false;
        QTest::newRow("handshake-garbage")
            << QStringList{features, "234 Go ahead.\r\n", "<raw>this is no TLS at all\r\n"}
            << false;
        QTest::newRow("handshake-hang-up")
            << QStringList{features, "234 Go ahead.\r\n", "<raw>"} << false;
        QTest::newRow("injected-after-consent")
            << QStringList{features, "234 Go ahead.\r\n230 Injected.\r\n"} << false;
    }
    void noClearTextAfterTlsOffered()
    {
        QFETCH(QStringList, answers);
        QFETCH(bool, remembered);
        ScriptedServer server("220 Ready.\r\n", answers);
        server.scriptsFeatures = true;
        QVERIFY(server.isListening());
        QTemporaryDir state;
        FtpControl ftp;
        ftp.setCertificateStorePath(state.filePath(QStringLiteral("known")));
        QString error;
        if (remembered)
            QVERIFY(FtpTlsHostStore(ftp.tlsHostStorePath())
                        .remember(QStringLiteral("127.0.0.1"), server.port(), &error));
        QSignalSpy completions(&ftp, &FtpControl::OperationComplete);
        ftp.setHost(server.host());
        ftp.setUserName(QStringLiteral("anna"));
        ftp.setPassword(QStringLiteral("geheim"));
        ftp.Connect();
        QVERIFY(completions.wait(10000));
        QCOMPARE(completions.last().at(1).toInt(), int(FtpResult::TlsFailure));
        QVERIFY(!ftp.isConnected());
        QCOMPARE(server.received.first(), QByteArray("FEAT"));
        QCOMPARE(server.received.at(1), QByteArray("AUTH TLS"));
        for (const QByteArray &line : std::as_const(server.received))
            QVERIFY2(!line.startsWith("USER") && !line.startsWith("PASS"), line.constData());
    }

    // A host that never completed a TLS log-in goes on in plain FTP when the server refuses
    // AUTH TLS, whether for now (4xx) or for good (5xx), and whatever the reply's form.
    void authTlsRefusalGoesPlain_data()
    {
        QTest::addColumn<QString>("refusal");
        QTest::newRow("431-transient") << "431 Not available now.\r\n";
        QTest::newRow("534-policy") << "534 Policy forbids it.\r\n";
        QTest::newRow("502-multiline") << "502-AUTH is not known\r\n502 here.\r\n";
    }
    void authTlsRefusalGoesPlain()
    {
        QFETCH(QString, refusal);
        ScriptedServer server("220 Ready.\r\n",
                              QStringList{"211-Features:\r\n AUTH TLS\r\n211 End\r\n", refusal} +
                                  LogIn);
        server.scriptsFeatures = true;
        QVERIFY(server.isListening());
        QTemporaryDir state;
        FtpControl ftp;
        ftp.setCertificateStorePath(state.filePath(QStringLiteral("known")));
        QSignalSpy completions(&ftp, &FtpControl::OperationComplete);
        ftp.setHost(server.host());
        ftp.setUserName(QStringLiteral("anna"));
        ftp.setPassword(QStringLiteral("geheim"));
        ftp.Connect();
        QVERIFY(completions.wait(10000));
        QCOMPARE(completions.last().at(1).toInt(), 0);
        QCOMPARE(server.received,
                 (QList<QByteArray>{"FEAT", "AUTH TLS", "USER anna", "PASS geheim", "TYPE I"}));
        QVERIFY(!QFile::exists(ftp.tlsHostStorePath()));
    }

    void currentDirectory_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("directory");
        QTest::newRow("quoted") << "257 \"/htdocs\" is the current directory.\r\n"
                                << 0 << "/htdocs";
        QTest::newRow("escaped-quotes") << "257 \"/a \"\"b\"\" c\" is current.\r\n"
                                        << 0 << "/a \"b\" c";
        QTest::newRow("multiline") << "257-\"/x y\" is current.\r\n257 That is all.\r\n"
                                   << 0 << "/x y";
        QTest::newRow("utf8") << "257 \"/Bücher\"\r\n" << 0 << "/Bücher";
        // A query that fails names no folder, not the one named before.
        QTest::newRow("refused") << "550 No.\r\n" << 20550 << "";
        QTest::newRow("no-path") << "257 \r\n" << int(FtpResult::ProtocolViolation) << "";
    }
    void currentDirectory()
    {
        QFETCH(QString, answer);
        QFETCH(int, result);
        QFETCH(QString, directory);
        ScriptedServer server("220 Ready.\r\n",
                              LogIn + QStringList{"257 \"/before\"\r\n", "250 Ok.\r\n", answer});
        QVERIFY(server.isListening());
        FtpControl ftp;
        QSignalSpy completions(&ftp, &FtpControl::OperationComplete);
        ftp.setHost(server.host());
        ftp.setUserName(QStringLiteral("anna"));
        ftp.Connect();
        QVERIFY(completions.wait(10000));
        ftp.QueryCurrentDirectory();
        QVERIFY(completions.wait(10000));
        // Without a change of folder in between, the second query would be answered from the
        // first one's reply, not by the server.
        ftp.ChangeDirectory(QStringLiteral("elsewhere"));
        QVERIFY(completions.wait(10000));
        ftp.QueryCurrentDirectory();
        QVERIFY(completions.wait(10000));
        QCOMPARE(server.received.last(), QByteArray("PWD"));
        QCOMPARE(int(ftp.result()), result);
        QCOMPARE(ftp.currentDirectory(), directory);
    }

    // Names go out as UTF-8 (RFC 2640), exactly as given.
    void namesInUtf8()
    {
        ScriptedServer server("220 Ready.\r\n", LogIn + QStringList{"250 Ok.\r\n"});
        QVERIFY(server.isListening());
        FtpControl ftp;
        QSignalSpy completions(&ftp, &FtpControl::OperationComplete);
        ftp.setHost(server.host());
        ftp.setUserName(QStringLiteral("anna"));
        ftp.Connect();
        QVERIFY(completions.wait(10000));
        ftp.ChangeDirectory(QStringLiteral("Bücher und Noten"));
        QVERIFY(completions.wait(10000));
        QCOMPARE(ftp.result(), qint16(0));
        QCOMPARE(server.received.last(), QByteArray("CWD B\xc3\xbc"
                                                    "cher und Noten"));
    }
};

QTEST_GUILESS_MAIN(TestFtpDialogue)
#include "tst_ftpdialogue.moc"
