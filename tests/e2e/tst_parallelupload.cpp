#include "faultpublication.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <csignal>

namespace {

int countOf(const QStringList &commands, const QString &start)
{
    return static_cast<int>(std::count_if(commands.cbegin(), commands.cend(),
                                          [&](const QString &c) { return c.startsWith(start); }));
}

// The most sessions the server had logged in at once, from its own log.
int mostAtOnce(const QStringList &commands)
{
    static const QRegularExpression loggedIn(QStringLiteral("^# logged in, (\\d+) at once$"));
    int most = 0;
    for (const QString &command : commands)
        most = std::max(most, loggedIn.match(command).captured(1).toInt());
    return most;
}

bool isPageCommand(const QString &command)
{
    return command.startsWith(QLatin1String("STOR ")) && command.endsWith(QLatin1String(".html"));
}

} // namespace

// Uploads over several connections, through the real program: every file arrives, pages after
// every file they use, the host's limit on sessions ends the further log-ins quietly and is
// remembered, and one connection stays exactly one.
class TestParallelUpload : public QObject
{
    Q_OBJECT

private slots:
    void sharesTheFilesWithinTheHostsLimit_data();
    void sharesTheFilesWithinTheHostsLimit();
    void faultOnOneConnection_data();
    void faultOnOneConnection();
};

void TestParallelUpload::sharesTheFilesWithinTheHostsLimit_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<int>("hostLimit");   // sessions the host takes at once; 0: no limit
    QTest::addColumn<QString>("setting"); // FTPConnections
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("logins");      // log-ins tried in the first run
    QTest::addColumn<int>("loginsLater"); // and in the run after it
    QTest::addColumn<bool>("takesPaths"); // false: the server refuses "STOR a/b.html"

    for (const TestFtpServer::Kind kind : TestFtpServer::kinds()) {
        const QByteArray name = TestFtpServer::kindName(kind).toUtf8();
        QTest::newRow(QByteArray(name + ": the default, four").constData())
            << int(kind) << false << 0 << QString() << QStringList() << 4 << 4 << true;
        // The third log-in is refused (pyftpdlib: 530 to PASS, vsftpd: 421 greeting, before any
        // USER); the next run opens only the two that worked.
        const int tried = kind == TestFtpServer::Kind::Vsftpd ? 2 : 3;
        QTest::newRow(QByteArray(name + ": a host that takes two").constData())
            << int(kind) << false << 2 << QString() << QStringList() << tried << 2 << true;
    }
    QTest::newRow("one connection, as before")
        << int(TestFtpServer::Kind::Pyftpdlib) << false << 0 << QStringLiteral("1") << QStringList()
        << 1 << 1 << true;
    QTest::newRow("a host that takes one") << int(TestFtpServer::Kind::Pyftpdlib) << false << 1
                                           << QString() << QStringList() << 2 << 1 << true;
    QTest::newRow("--connections over the setting")
        << int(TestFtpServer::Kind::Pyftpdlib) << false << 0 << QStringLiteral("2")
        << QStringList{QStringLiteral("--connections"), QStringLiteral("3")} << 3 << 3 << true;
    // Every connection then walks into each folder, and the files still arrive.
    QTest::newRow("a server that takes names only, no paths")
        << int(TestFtpServer::Kind::Pyftpdlib) << false << 0 << QString() << QStringList() << 4 << 4
        << false;
    QTest::newRow("explicit TLS on every connection")
        << int(TestFtpServer::Kind::Pyftpdlib) << true << 0 << QString() << QStringList() << 4 << 4
        << true;
}

void TestParallelUpload::sharesTheFilesWithinTheHostsLimit()
{
    QFETCH(int, kind);
    QFETCH(bool, tls);
    QFETCH(int, hostLimit);
    QFETCH(QString, setting);
    QFETCH(QStringList, arguments);
    QFETCH(int, logins);
    QFETCH(int, loginsLater);
    QFETCH(bool, takesPaths);

    FaultPublication publication{QStringLiteral(PARCELUP_BINARY)};
    TestFtpServer::Options &options = publication.serverOptions();
    options.kind = TestFtpServer::Kind(kind);
    options.maxLogins = hostLimit;
    options.refusePaths = !takesPaths;
    // pyftpdlib answers 20 ms late, as a typical host does, each session on its own; so the
    // further log-ins happen while files are still waiting. vsftpd on loopback may well be done
    // with all files before the last log-in: there the log-ins are at most those asked for.
    const bool far = options.kind == TestFtpServer::Kind::Pyftpdlib;
    if (far)
        options.delaySeconds = 0.02;
    publication.recordCommands();
    QString error;
    if (tls)
        QVERIFY2(publication.offerTls(&error), qPrintable(error));
    const QString site = publication.site();
    const QStringList folders{QString(), QStringLiteral("/Bilder"), QStringLiteral("/seiten/a"),
                              QStringLiteral("/seiten/a/b")};
    for (int i = 0; i < 40; ++i) {
        const QString extension = i % 3 == 0 ? QStringLiteral("html") : QStringLiteral("png");
        WriteSiteFile(site + folders.at(i % folders.size()) +
                          QStringLiteral("/datei%1.%2").arg(i).arg(extension),
                      RandomBytes(1000 + i * 997, i));
    }
    QVERIFY2(publication.startServer({}, &error), qPrintable(error));
    QMap<QString, QString> overrides;
    if (!setting.isNull())
        overrides.insert(QStringLiteral("FTPConnections"), setting);
    publication.writeSettings(overrides);

    const FaultPublication::Run first = publication.run(arguments);
    QVERIFY2(first.status == 0, qPrintable(first.transcript()));
    QVERIFY2(publication.differences().isEmpty(),
             qPrintable(publication.differences().join(QLatin1Char('\n'))));
    QStringList commands = publication.receivedCommands();
    const int tried = countOf(commands, QStringLiteral("USER "));
    QVERIFY2(far ? tried == logins : tried >= std::min(logins, 2) && tried <= logins,
             qPrintable(QString::number(tried)));
    if (tls)
        QCOMPARE(countOf(commands, QStringLiteral("AUTH TLS")), logins);
    // The shared files go by their path from the base folder, not by a walk into each folder.
    if (takesPaths && logins > 1)
        QVERIFY(!commands.filter(QRegularExpression(QStringLiteral("^STOR [^ ]+/"))).isEmpty());
    // At work side by side, by the server's word.
    if (far)
        QCOMPARE(mostAtOnce(commands), hostLimit > 0 ? std::min(hostLimit, logins) : logins);
    // No page before the last file that pages use: its STOR may still be under way, so the
    // check is on the commands as the server received them, which is the stronger order.
    const qsizetype firstPage =
        std::find_if(commands.cbegin(), commands.cend(), isPageCommand) - commands.cbegin();
    for (qsizetype i = firstPage; i < commands.size(); ++i)
        QVERIFY2(!commands.at(i).endsWith(QLatin1String(".png")), qPrintable(commands.at(i)));

    // The next run, with every file changed, is held to what the host took.
    for (int i = 0; i < 40; ++i)
        WriteSiteFile(site + folders.at(i % folders.size()) +
                          QStringLiteral("/datei%1.%2")
                              .arg(i)
                              .arg(i % 3 == 0 ? QStringLiteral("html") : QStringLiteral("png")),
                      RandomBytes(2000 + i, i + 100));
    QVERIFY2(publication.startServer({}, &error), qPrintable(error));
    const FaultPublication::Run later = publication.run(arguments);
    commands = publication.receivedCommands();
    publication.stopServer();
    QVERIFY2(later.status == 0, qPrintable(later.transcript()));
    QVERIFY2(publication.differences().isEmpty(),
             qPrintable(publication.differences().join(QLatin1Char('\n'))));
    const int triedLater = countOf(commands, QStringLiteral("USER "));
    QVERIFY2(far ? triedLater == loginsLater : triedLater <= loginsLater,
             qPrintable(QString::number(triedLater)));
}

void TestParallelUpload::faultOnOneConnection_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("status");
    // The sixth transfer breaks off: once the others have ended, the run logs in again and sends
    // that file and the rest.
    QTest::newRow("a connection dropped in the middle of an upload")
        << QStringLiteral("STOR#6=drop-after 500") << 0;
    // Ctrl+C while four transfers are under way: every connection stops at once.
    QTest::newRow("Ctrl+C with four transfers under way") << QString() << 2;
}

void TestParallelUpload::faultOnOneConnection()
{
    QFETCH(QString, fault);
    QFETCH(int, status);

    FaultPublication publication{QStringLiteral(PARCELUP_BINARY)};
    publication.recordCommands();
    // Slow transfers, so that several are under way at once; the server reads 64 KiB at a time,
    // so the files are larger than that.
    publication.serverOptions().throttleBytesPerSecond = 100000;
    for (int i = 0; i < 16; ++i)
        WriteSiteFile(publication.site() + QStringLiteral("/bilder/bild%1.png").arg(i),
                      RandomBytes(300000, i));
    QString error;
    QVERIFY2(publication.startServer(fault.isEmpty() ? QStringList() : QStringList{fault}, &error),
             qPrintable(error));
    publication.writeSettings();
    const std::unique_ptr<QProcess> program = publication.start();
    if (fault.isEmpty()) {
        QVERIFY(QTest::qWaitFor(
            [&] { return countOf(publication.receivedCommands(), QStringLiteral("STOR ")) >= 4; },
            30000));
        ::kill(pid_t(program->processId()), SIGINT);
    }
    const FaultPublication::Run faulted = publication.finish(*program);
    QVERIFY2(faulted.status == status, qPrintable(faulted.transcript()));
    if (!fault.isEmpty()) {
        const QStringList stored =
            publication.receivedCommands().filter(QRegularExpression(QStringLiteral("^STOR ")));
        QVERIFY(stored.size() >= 6);
        QVERIFY2(stored.lastIndexOf(stored.at(5)) > 5, qPrintable(stored.join(u'\n')));
        QVERIFY2(publication.missingOrStale().isEmpty(),
                 qPrintable(publication.missingOrStale().join(u'\n')));
    }
    publication.stopServer();
    publication.serverOptions().throttleBytesPerSecond = 0;
    const QString broken = publication.repair();
    QVERIFY2(broken.isEmpty(), qPrintable(broken));
}

QTEST_GUILESS_MAIN(TestParallelUpload)
#include "tst_parallelupload.moc"
