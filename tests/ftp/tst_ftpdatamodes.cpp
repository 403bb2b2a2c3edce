#include "ftpharness.h"
#include "ftpresult.h"

// How the data connection is opened when the server or the network does not play along: EPSV
// refused, a PASV reply naming an unreachable address, active mode refused or blocked. Each
// fallback is remembered for the rest of the connection.
class TestFtpDataModes : public QObject
{
    Q_OBJECT

    // Commands sent, in order, without the line ends.
    static QStringList commands(const QStringList &transcript, const QString &verb)
    {
        QStringList found;
        for (const QString &line : transcript) {
            if (line.startsWith(verb))
                found.append(line.trimmed());
        }
        return found;
    }

    static void uploadAndDownload(FtpHarness &h, int round)
    {
        const QString local = h.localPath(QStringLiteral("up%1").arg(round));
        QVERIFY(WriteTestFile(local, 300'000, quint32(round)));
        h.ftp.PutFile(local, QStringLiteral("stored%1").arg(round));
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(Sha256OfFile(h.serverPath(QStringLiteral("stored%1").arg(round))),
                 Sha256OfFile(local));
        const QString copy = h.localPath(QStringLiteral("down%1").arg(round));
        h.ftp.GetFile(QStringLiteral("stored%1").arg(round), copy);
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(Sha256OfFile(copy), Sha256OfFile(local));
    }

private slots:
    void defaults()
    {
        FtpControl ftp;
        QVERIFY(!ftp.passive());
        QCOMPARE(ftp.timeouts().activeDataConnection, std::chrono::milliseconds(10'000));
    }

    void activeRefused_data() { TestFtpServer::addKindRows(); }
    void activeRefused()
    {
        QFETCH(int, kind);
        FtpHarness h;
        TestFtpServer::Options options = ServerOptions(kind);
        options.activeMode = TestFtpServer::ActiveMode::Refuse;
        START_FTP_SERVER(h, options);
        QCOMPARE(h.connectAndWait(false), 0);

        uploadAndDownload(h, 1);
        uploadAndDownload(h, 2);
        QTRY_VERIFY(h.debug.last().startsWith(QStringLiteral("226")));

        // EPRT, then PORT, once; then passive mode for all four transfers.
        QCOMPARE(commands(h.debug, QStringLiteral("EPRT ")).size(), 1);
        QCOMPARE(commands(h.debug, QStringLiteral("PORT ")).size(), 1);
        QCOMPARE(commands(h.debug, QStringLiteral("EPSV")).size(), 4);
        QCOMPARE(commands(h.debug, QStringLiteral("# Active mode failed")).size(), 1);
    }

    // The server agrees to PORT and EPRT, but its connection never arrives (a firewall drops it).
    void activeNeverConnects_data()
    {
        QTest::addColumn<bool>("uploadFirst");
        QTest::newRow("upload-first") << true;
        QTest::newRow("download-first") << false;
    }
    void activeNeverConnects()
    {
        QFETCH(bool, uploadFirst);
        FtpHarness h;
        QVERIFY(WriteTestFile(h.serverPath(QStringLiteral("stored1")), 300'000, 1));
        TestFtpServer::Options options = ServerOptions(int(TestFtpServer::Kind::Pyftpdlib));
        options.activeMode = TestFtpServer::ActiveMode::Ignore;
        START_FTP_SERVER(h, options);
        FtpTimeouts timeouts;
        timeouts.activeDataConnection = std::chrono::milliseconds(1000);
        h.ftp.setTimeouts(timeouts);
        QCOMPARE(h.connectAndWait(false), 0);

        if (uploadFirst) {
            uploadAndDownload(h, 1);
        } else {
            h.ftp.GetFile(QStringLiteral("stored1"), h.localPath(QStringLiteral("first")));
            QCOMPARE(h.waitForCompletion(), 0);
            QCOMPARE(Sha256OfFile(h.localPath(QStringLiteral("first"))),
                     Sha256OfFile(h.serverPath(QStringLiteral("stored1"))));
        }
        uploadAndDownload(h, 2);

        QCOMPARE(commands(h.debug, QStringLiteral("EPRT ")).size(), 1);
        QCOMPARE(commands(h.debug, QStringLiteral("ABOR")).size(), 1);
        QCOMPARE(commands(h.debug, QStringLiteral("# Active mode failed")).size(), 1);
    }

    // EPSV refused: PASV from then on, and its address (here an unreachable one) is not used.
    void extendedPassiveRefused()
    {
        FtpHarness h;
        TestFtpServer::Options options = ServerOptions(int(TestFtpServer::Kind::Pyftpdlib));
        options.refuseExtendedPassive = true;
        options.passiveAddress = QStringLiteral("192.0.2.1");
        START_FTP_SERVER(h, options);
        QCOMPARE(h.connectAndWait(true), 0);

        uploadAndDownload(h, 1);
        uploadAndDownload(h, 2);
        QCOMPARE(commands(h.debug, QStringLiteral("EPSV")).size(), 1);
        QCOMPARE(commands(h.debug, QStringLiteral("PASV")).size(), 4);
        QCOMPARE(
            commands(h.debug, QStringLiteral("227 ")).first().contains(QStringLiteral("192,0,2,1")),
            true);
    }
};

QTEST_GUILESS_MAIN(TestFtpDataModes)
#include "tst_ftpdatamodes.moc"
