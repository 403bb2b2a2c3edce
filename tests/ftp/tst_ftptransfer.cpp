#include "ftperror.h"
#include "ftpharness.h"
#include "ftpresult.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <sys/stat.h>

// PutFile and GetFile against real servers: byte-exact copies in both modes, and what a download
// does to the local file system, on success and on failure.
class TestFtpTransfer : public QObject
{
    Q_OBJECT

    static constexpr qint64 FileSize = 3'000'000;
    static constexpr qint64 ContinuedAt = 1'234'567;

    static QStringList folderEntries(const QString &folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                      QDir::NoDotAndDotDot);
    }

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("passive");
        QTest::addColumn<qint64>("size");
        for (const auto kind : TestFtpServer::kinds()) {
            for (const bool passive : {true, false}) {
                for (const qint64 size : {qint64(0), qint64(1), qint64(50'000'000)}) {
                    QTest::addRow("%s-%s-%lld", qPrintable(TestFtpServer::kindName(kind)),
                                  passive ? "passive" : "active", size)
                        << int(kind) << passive << size;
                }
            }
        }
    }
    void roundTrip()
    {
        QFETCH(int, kind);
        QFETCH(bool, passive);
        QFETCH(qint64, size);

        FtpHarness h;
        START_FTP_SERVER(h, ServerOptions(kind));
        QCOMPARE(h.connectAndWait(passive), 0);
        const QString original = h.localPath(QStringLiteral("original.bin"));
        QVERIFY(WriteTestFile(original, size, 7));
        const QByteArray expected = Sha256OfFile(original);

        // The caller's watcher sees exactly the bytes that reached the server, in order.
        QCryptographicHash seen(QCryptographicHash::Sha256);
        h.ftp.PutFile(original, QStringLiteral("stored.bin"),
                      [&seen](QByteArrayView piece) { seen.addData(piece); });
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(h.completions.last().at(0).toInt(), int(FtpControl::Request::PutFile));
        QCOMPARE(QFileInfo(h.serverPath(QStringLiteral("stored.bin"))).size(), size);
        QCOMPARE(Sha256OfFile(h.serverPath(QStringLiteral("stored.bin"))), expected);
        QCOMPARE(seen.result().toHex(), expected);

        const QString copy = h.localPath(QStringLiteral("copy.bin"));
        h.ftp.GetFile(QStringLiteral("stored.bin"), copy);
        QCOMPARE(h.waitForCompletion(), 0);
        QCOMPARE(h.completions.last().at(0).toInt(), int(FtpControl::Request::GetFile));
        QCOMPARE(QFileInfo(copy).size(), size);
        QCOMPARE(Sha256OfFile(copy), expected);
        QCOMPARE(folderEntries(h.localFolder.path()),
                 (QStringList{QStringLiteral("copy.bin"), QStringLiteral("original.bin")}));

        if (size > 0)
            QVERIFY(!h.activity.isEmpty());
        QCOMPARE(h.completions.size(), 3);
    }

    // An upload continued from an offset, in plain FTP and over TLS: the server receives only the
    // rest and holds the file byte for byte afterwards, by REST and STOR, or by APPE where the
    // server refuses REST, lists no REST STREAM, or refuses the STOR after REST. A server that
    // refuses to continue at all (ProFTPD's default) keeps its part, and APPE is named refused.
    void putFileFrom_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("mode");  // "passive", "active" or "tls" (passive)
        QTest::addColumn<QString>("fault"); // "no-store-restart", "no-continuing" or a --fault
        QTest::addColumn<QString>("sent");  // the upload's commands as the server saw them
        QTest::addColumn<int>("expected");
        // Rows without a fault run on every kind of server, the others on the fault server.
        const struct
        {
            const char *row, *mode, *fault, *sent;
            int expected;
        } cases[] = {
            {"passive", "passive", "", "REST STOR", 0},
            {"active", "active", "", "REST STOR", 0},
            {"tls", "tls", "", "REST STOR", 0},
            {"rest-refused", "passive", "REST=reply 502 Not implemented.", "REST APPE", 0},
            {"rest-unlisted", "passive", "FEAT=reply 211 No features.", "APPE", 0},
            {"stor-after-rest-refused", "passive", "no-store-restart", "REST STOR APPE", 0},
            {"tls-stor-after-rest-refused", "tls", "no-store-restart", "REST STOR APPE", 0},
            {"continuing-refused", "passive", "no-continuing", "REST STOR APPE", 20451},
        };
        for (const auto kind : TestFtpServer::kinds()) {
            for (const auto &c : cases) {
                if (*c.fault && kind != TestFtpServer::Kind::Pyftpdlib)
                    continue;
                QTest::addRow("%s-%s", qPrintable(TestFtpServer::kindName(kind)), c.row)
                    << int(kind) << c.mode << c.fault << c.sent << c.expected;
            }
        }
    }
    void putFileFrom()
    {
        QFETCH(int, kind);
        QFETCH(QString, mode);
        QFETCH(QString, fault);
        QFETCH(QString, sent);
        QFETCH(int, expected);

        FtpHarness h;
        const QString local = h.localPath(QStringLiteral("local.bin"));
        QVERIFY(WriteTestFile(local, FileSize, 5));
        const QString remote = h.serverPath(QStringLiteral("part.bin"));
        QVERIFY(QFile::copy(local, remote));
        QVERIFY(QFile::resize(remote, ContinuedAt));
        const QByteArray part = Sha256OfFile(remote);
        TestFtpServer::Options options = ServerOptions(kind);
        options.commandLog = h.localPath(QStringLiteral("commands.log"));
        options.transferLog = h.localPath(QStringLiteral("transfers.log"));
        options.refuseStoreRestart = fault.startsWith(QLatin1String("no-"));
        options.refuseAppend = fault == QLatin1String("no-continuing");
        if (fault.contains(QLatin1Char('=')))
            options.faults = QStringList{fault};
        QString error;
        if (mode == QLatin1String("tls")) {
            options.tls = TestFtpServer::Tls::Forced;
            QVERIFY2(TestFtpServer::createSelfSignedCertificate(
                         h.userState.path(), QStringLiteral("ftp.test"), &options, &error),
                     qPrintable(error));
        }
        START_FTP_SERVER(h, options);
        QCOMPARE(h.connectAndWait(mode != QLatin1String("active")), 0);

        h.ftp.PutFileFrom(local, QStringLiteral("part.bin"), ContinuedAt);
        QCOMPARE(h.waitForCompletion(), expected);
        QCOMPARE(h.ftp.refusedCommand(), expected ? QStringLiteral("APPE") : QString());
        QCOMPARE(Sha256OfFile(remote), expected ? part : Sha256OfFile(local));

        h.ftp.Disconnect();
        const auto commands = h.server.receivedCommands(&error);
        QVERIFY2(commands, qPrintable(error));
        static const QRegularExpression upload(QStringLiteral("^(REST|STOR|APPE) "));
        QString verbs = commands->filter(upload).join(QLatin1Char(' '));
        verbs.replace(QStringLiteral("REST %1").arg(ContinuedAt), QStringLiteral("REST"));
        QCOMPARE(verbs.remove(QStringLiteral(" part.bin")), sent);
        const auto uploads = h.server.receivedUploads(&error);
        QVERIFY2(uploads, qPrintable(error));
        const TestFtpServer::Upload rest{QStringLiteral("/part.bin"), FileSize - ContinuedAt, true};
        QCOMPARE(*uploads, expected ? QList<TestFtpServer::Upload>{} : QList{rest});
    }

    // The download replaces the target by renaming a new file over it: an existing file is
    // replaced, a symbolic link planted at the target is replaced as a link and not followed.
    void getReplacesTarget_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("plantLink");
        for (const auto kind : TestFtpServer::kinds()) {
            const QString name = TestFtpServer::kindName(kind);
            QTest::addRow("%s-existing-file", qPrintable(name)) << int(kind) << false;
            QTest::addRow("%s-planted-link", qPrintable(name)) << int(kind) << true;
        }
    }
    void getReplacesTarget()
    {
        QFETCH(int, kind);
        QFETCH(bool, plantLink);
        FtpHarness h;
        QVERIFY(WriteTestFile(h.serverPath(QStringLiteral("remote.log")), 5000, 3));
        START_FTP_SERVER(h, ServerOptions(kind));
        QCOMPARE(h.connectAndWait(), 0);

        QTemporaryDir elsewhere;
        const QString victim = elsewhere.filePath(QStringLiteral("victim"));
        QVERIFY(WriteTestFile(victim, 123, 9));
        const QByteArray victimHash = Sha256OfFile(victim);
        const QString target = h.localPath(QStringLiteral("vellumixftplog.log"));
        if (plantLink)
            QVERIFY(QFile::link(victim, target));
        else
            QVERIFY(WriteTestFile(target, 77, 11));

        h.ftp.GetFile(QStringLiteral("remote.log"), target);
        QCOMPARE(h.waitForCompletion(), 0);
        QVERIFY(!QFileInfo(target).isSymLink());
        QCOMPARE(Sha256OfFile(target), Sha256OfFile(h.serverPath(QStringLiteral("remote.log"))));
        QCOMPARE(Sha256OfFile(victim), victimHash);
        QCOMPARE(folderEntries(h.localFolder.path()),
                 QStringList{QStringLiteral("vellumixftplog.log")});
    }

    // A failed download leaves the local folder as it was: no partial file, the target untouched.
    void getFailureLeavesNothing_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("targetExists");
        for (const auto kind : TestFtpServer::kinds()) {
            const QString name = TestFtpServer::kindName(kind);
            QTest::addRow("%s-no-target", qPrintable(name)) << int(kind) << false;
            QTest::addRow("%s-existing-target", qPrintable(name)) << int(kind) << true;
        }
    }
    void getFailureLeavesNothing()
    {
        QFETCH(int, kind);
        QFETCH(bool, targetExists);
        FtpHarness h;
        START_FTP_SERVER(h, ServerOptions(kind));
        QCOMPARE(h.connectAndWait(), 0);
        const QString target = h.localPath(QStringLiteral("target"));
        if (targetExists)
            QVERIFY(WriteTestFile(target, 50, 5));
        const QByteArray before = Sha256OfFile(target);

        h.ftp.GetFile(QStringLiteral("not-on-the-server"), target);
        QCOMPARE(h.waitForCompletion(), 20550);
        QCOMPARE(folderEntries(h.localFolder.path()),
                 targetExists ? QStringList{QStringLiteral("target")} : QStringList{});
        QCOMPARE(Sha256OfFile(target), before);

        // The connection is still fine.
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
    }

    void getIntoMissingFolder()
    {
        FtpHarness h;
        QVERIFY(WriteTestFile(h.serverPath(QStringLiteral("remote")), 10));
        START_FTP_SERVER(h, ServerOptions(int(TestFtpServer::Kind::Pyftpdlib)));
        QCOMPARE(h.connectAndWait(), 0);
        h.ftp.GetFile(QStringLiteral("remote"), h.localPath(QStringLiteral("no/such/folder/file")));
        QCOMPARE(h.waitForCompletion(), int(FtpResult::LocalFileUnwritable));
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
    }

    void putRefusedByServer_data() { TestFtpServer::addKindRows(); }
    void putRefusedByServer()
    {
        QFETCH(int, kind);
        FtpHarness h;
        START_FTP_SERVER(h, ServerOptions(kind));
        QCOMPARE(h.connectAndWait(false), 0);
        QVERIFY(WriteTestFile(h.localPath(QStringLiteral("f")), 1000));
        // A folder of that name is in the way.
        h.ftp.CreateDirectory(QStringLiteral("taken"));
        QCOMPARE(h.waitForCompletion(), 0);
        h.ftp.PutFile(h.localPath(QStringLiteral("f")), QStringLiteral("taken"));
        const int result = h.waitForCompletion();
        QVERIFY2(result > 20000 + 399 && result < 20600, QByteArray::number(result));
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);
    }

    // A named pipe put in the place of a file to upload: opening it for reading would wait for a
    // writer forever, so PutFile refuses it at once.
    void putFileRefusesWhatIsNotAFile()
    {
        FtpHarness h;
        START_FTP_SERVER(h, ServerOptions(int(TestFtpServer::Kind::Pyftpdlib)));
        QCOMPARE(h.connectAndWait(), 0);
        const QString pipe = h.localPath(QStringLiteral("pipe.html"));
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        QElapsedTimer clock;
        clock.start();
        int refusal = 0;
        try {
            h.ftp.PutFile(pipe, QStringLiteral("pipe.html"));
        } catch (const FtpError &error) {
            refusal = error.number();
        }
        QCOMPARE(refusal, int(FtpResult::LocalFileUnreadable));
        QVERIFY(clock.elapsed() < 5000);
        QVERIFY(!h.ftp.isBusy());
        QVERIFY(!QFile::exists(h.serverPath(QStringLiteral("pipe.html"))));
    }

    // Activity while a throttled download runs: reports of the data connection keep coming, never
    // closer together than the meter allows, with growing counts. (The pacing itself is tested
    // with the meter alone; here the server's own burstiness decides the gaps.) The server's
    // replies are signs of life of their own, reported with -1.
    void activityDuringTransfer()
    {
        constexpr qint64 size = 4'000'000;
        FtpHarness h;
        QVERIFY(WriteTestFile(h.serverPath(QStringLiteral("remote")), size));
        TestFtpServer::Options options = ServerOptions(int(TestFtpServer::Kind::Pyftpdlib));
        options.throttleBytesPerSecond = 1'000'000;
        START_FTP_SERVER(h, options);
        QCOMPARE(h.connectAndWait(), 0);

        QList<qint64> times;
        QElapsedTimer clock;
        clock.start();
        QList<qint64> counts;
        connect(&h.ftp, &FtpControl::Activity, this, [&](qint64 bytes) {
            if (bytes < 0)
                return;
            times.append(clock.elapsed());
            counts.append(bytes);
        });
        h.ftp.GetFile(QStringLiteral("remote"), h.localPath(QStringLiteral("copy")));
        QCOMPARE(h.waitForCompletion(), 0);

        QVERIFY2(times.size() >= 3, QByteArray::number(times.size()));
        for (qsizetype i = 1; i < times.size(); ++i)
            QVERIFY2(times.at(i) - times.at(i - 1) >= 200,
                     QByteArray::number(times.at(i) - times.at(i - 1)));
        for (qsizetype i = 1; i < counts.size(); ++i)
            QVERIFY(counts.at(i) > counts.at(i - 1));
        QVERIFY(counts.last() <= size);
        // The 150 and 226 replies were reported too.
        QVERIFY(h.activity.contains(QVariantList{qint64(-1)}));
    }
};

QTEST_GUILESS_MAIN(TestFtpTransfer)
#include "tst_ftptransfer.moc"
