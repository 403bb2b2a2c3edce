#include "ftpharness.h"
#include "ftpresult.h"

#include <QDir>
#include <QElapsedTimer>

// Transfers that do not run to their end: the user aborts, the program disconnects, or the
// server dies. Each ends with exactly one OperationComplete and a non-zero Result, soon, and a
// failed download leaves no file behind.
class TestFtpInterruption : public QObject
{
    Q_OBJECT

    static constexpr qint64 BigFile = 50'000'000;
    static constexpr qint64 Throttle = 2'000'000;

    static void addRows(bool bothModes)
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("passive");
        QTest::addColumn<bool>("upload");
        for (const auto kind : TestFtpServer::kinds()) {
            for (const bool passive : {true, false}) {
                if (!passive && !bothModes)
                    continue;
                for (const bool upload : {true, false}) {
                    QTest::addRow("%s-%s-%s", qPrintable(TestFtpServer::kindName(kind)),
                                  passive ? "passive" : "active", upload ? "stor" : "retr")
                        << int(kind) << passive << upload;
                }
            }
        }
    }

    // Starts a throttled transfer of a big file and returns once bytes are moving.
    static void startSlowTransfer(FtpHarness &h, int kind, bool passive, bool upload)
    {
        QVERIFY(WriteTestFile(upload ? h.localPath(QStringLiteral("big"))
                                     : h.serverPath(QStringLiteral("big")),
                              BigFile));
        TestFtpServer::Options options = ServerOptions(kind);
        options.throttleBytesPerSecond = Throttle;
        START_FTP_SERVER(h, options);
        QCOMPARE(h.connectAndWait(passive), 0);
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), 0);

        if (upload)
            h.ftp.PutFile(h.localPath(QStringLiteral("big")), QStringLiteral("big"));
        else
            h.ftp.GetFile(QStringLiteral("big"), h.localPath(QStringLiteral("copy")));
        QVERIFY(h.activity.wait(20000));
        QVERIFY(h.ftp.isBusy());
    }

    static QStringList localEntries(const FtpHarness &h)
    {
        return QDir(h.localFolder.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

private slots:
    void abortTransfer_data() { addRows(true); }
    void abortTransfer()
    {
        QFETCH(int, kind);
        QFETCH(bool, passive);
        QFETCH(bool, upload);
        FtpHarness h;
        startSlowTransfer(h, kind, passive, upload);
        if (QTest::currentTestFailed())
            return;

        const qsizetype before = h.completions.size();
        QElapsedTimer clock;
        clock.start();
        h.ftp.Abort();
        // Still the previous request's result until the aborted one completes.
        QCOMPARE(h.ftp.result(), qint16(0));
        QCOMPARE(h.completions.size(), before);
        QCOMPARE(h.waitForCompletion(20000), int(FtpResult::Aborted));
        QVERIFY2(clock.elapsed() < 10000, QByteArray::number(clock.elapsed()));
        QCOMPARE(h.ftp.result(), qint16(FtpResult::Aborted));
        if (!upload)
            QCOMPARE(localEntries(h), QStringList());

        // Usable, with its answers in step, or closed: either way the next request tells.
        const bool connected = h.ftp.isConnected();
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), connected ? 0 : int(FtpResult::NotConnected));
        if (connected) {
            QCOMPARE(h.ftp.currentDirectory(), QStringLiteral("/"));
            h.ftp.ChangeDirectory(QStringLiteral("no-such-folder"));
            QCOMPARE(h.waitForCompletion(), 20550);
        }
        QCOMPARE(h.completions.size(), before + (connected ? 3 : 2));
    }

    // The server stops answering, so ABOR gets no reply: the abort still ends the request soon,
    // and the connection, whose dialogue is out of step, is closed.
    void abortWhileServerStopped_data() { addRows(false); }
    void abortWhileServerStopped()
    {
        QFETCH(int, kind);
        QFETCH(bool, passive);
        QFETCH(bool, upload);
        FtpHarness h;
        FtpTimeouts timeouts;
        timeouts.afterAbort = std::chrono::milliseconds(1000);
        h.ftp.setTimeouts(timeouts);
        startSlowTransfer(h, kind, passive, upload);
        if (QTest::currentTestFailed())
            return;

        QVERIFY(h.server.suspend());
        const qsizetype before = h.completions.size();
        h.ftp.Abort();
        QCOMPARE(h.waitForCompletion(10000), int(FtpResult::Aborted));
        QCOMPARE(h.completions.size(), before + 1);
        QVERIFY(!h.ftp.isConnected());
        if (!upload)
            QCOMPARE(localEntries(h), QStringList());
    }

    void disconnectDuringTransfer_data() { addRows(false); }
    void disconnectDuringTransfer()
    {
        QFETCH(int, kind);
        QFETCH(bool, passive);
        QFETCH(bool, upload);
        FtpHarness h;
        startSlowTransfer(h, kind, passive, upload);
        if (QTest::currentTestFailed())
            return;

        const qsizetype before = h.completions.size();
        h.ftp.Disconnect();
        QCOMPARE(h.completions.size(), before);
        QCOMPARE(h.waitForCompletion(), int(FtpResult::Aborted));
        QVERIFY(!h.ftp.isConnected());
        QTRY_VERIFY(h.debug.contains(QStringLiteral("QUIT\r\n")));
        if (!upload)
            QCOMPARE(localEntries(h), QStringList());
        // Nothing else completes: the next request's completion is the next one.
        h.ftp.QueryCurrentDirectory();
        QCOMPARE(h.waitForCompletion(), int(FtpResult::NotConnected));
        QCOMPARE(h.completions.size(), before + 2);
    }

    void serverKilled_data() { addRows(true); }
    void serverKilled()
    {
        QFETCH(int, kind);
        QFETCH(bool, passive);
        QFETCH(bool, upload);
        FtpHarness h;
        startSlowTransfer(h, kind, passive, upload);
        if (QTest::currentTestFailed())
            return;

        const qsizetype before = h.completions.size();
        h.server.stop();
        const int result = h.waitForCompletion(30000);
        QVERIFY2(result > 0, QByteArray::number(result));
        QCOMPARE(h.completions.size(), before + 1);
        QVERIFY(!h.ftp.isConnected());
        if (!upload)
            QCOMPARE(localEntries(h), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestFtpInterruption)
#include "tst_ftpinterruption.moc"
