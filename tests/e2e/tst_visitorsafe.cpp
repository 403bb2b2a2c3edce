#include "faultpublication.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <csignal>

namespace {

const QString kFilm = QStringLiteral("/bilder/film.bin");

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the transfer under way has brought: the largest hidden file in the server's folder, or
// film.bin itself when it is new there.
qint64 bytesUnderWay(const QString &folder, bool temporary)
{
    qint64 largest = 0;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries)
        if (entry.fileName().startsWith(QLatin1Char('.')) == temporary &&
            (temporary || entry.fileName() == QLatin1String("film.bin")))
            largest = std::max(largest, entry.size());
    return largest;
}

bool isPage(const QString &command)
{
    return command.endsWith(QLatin1String(".html")) || command.endsWith(QLatin1String(".htm"));
}

} // namespace

// Visitors never load half a file: a file that replaces a live one is stored under a hidden
// temporary name and renamed into place once whole, and a broken transfer is continued by the next
// run. Through the real program, against pyftpdlib, vsftpd (as root) and the fault server.
class TestVisitorSafe : public QObject
{
    Q_OBJECT

private slots:
    void killedUploadKeepsOldFileAndContinues_data();
    void killedUploadKeepsOldFileAndContinues();
    void refusedRenamesStillPublishPagesLast_data();
    void refusedRenamesStillPublishPagesLast();
};

void TestVisitorSafe::killedUploadKeepsOldFileAndContinues_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("replacing");
    // ProFTPD's answers to REST+STOR (without AllowStoreRestart) and to APPE: the first is
    // continued with APPE, with both refused the file goes whole.
    QTest::addColumn<bool>("refuseStoreRestart");
    QTest::addColumn<bool>("refuseAppend");
    for (const TestFtpServer::Kind kind : TestFtpServer::kinds()) {
        const QByteArray name = TestFtpServer::kindName(kind).toUtf8();
        QTest::newRow(QByteArray(name + ": a changed 4 MB file").constData())
            << int(kind) << qint64(4000000) << true << false << false;
        QTest::newRow(QByteArray(name + ": a changed 20 MB file").constData())
            << int(kind) << qint64(20000000) << true << false << false;
    }
    QTest::newRow("pyftpdlib: a new 20 MB file")
        << int(TestFtpServer::Kind::Pyftpdlib) << qint64(20000000) << false << false << false;
    QTest::newRow("fault server: STOR after REST refused, APPE")
        << int(TestFtpServer::Kind::Pyftpdlib) << qint64(20000000) << true << true << false;
    QTest::newRow("fault server: STOR after REST and APPE refused, sent whole")
        << int(TestFtpServer::Kind::Pyftpdlib) << qint64(4000000) << true << true << true;
}

void TestVisitorSafe::killedUploadKeepsOldFileAndContinues()
{
    QFETCH(int, kind);
    QFETCH(qint64, size);
    QFETCH(bool, replacing);
    QFETCH(bool, refuseStoreRestart);
    QFETCH(bool, refuseAppend);

    FaultPublication publication{QStringLiteral(PARCELUP_BINARY)};
    TestFtpServer::Options &options = publication.serverOptions();
    options.kind = TestFtpServer::Kind(kind);
    options.refuseStoreRestart = refuseStoreRestart;
    options.refuseAppend = refuseAppend;
    const QString site = publication.site();
    const QString live = publication.serverBase() + kFilm;
    WriteSiteFile(site + QStringLiteral("/index.html"), "<p>Start</p>");
    if (replacing)
        WriteSiteFile(site + QStringLiteral("/Bilder/Film.bin"), RandomBytes(size, 1));
    QString error;
    QVERIFY2(publication.startServer({}, &error), qPrintable(error));
    publication.writeSettings();
    const FaultPublication::Run first = publication.run();
    QVERIFY2(first.status == 0, qPrintable(first.transcript()));
    const QByteArray old = contentOf(live);
    WriteSiteFile(site + QStringLiteral("/Bilder/Film.bin"), RandomBytes(size, 2));

    // About four seconds for the whole file: the test kills the program at half of it.
    options.throttleBytesPerSecond = size / 4;
    QVERIFY2(publication.startServer({}, &error), qPrintable(error));
    const std::unique_ptr<QProcess> program = publication.start();
    const QString folder = publication.serverBase() + QStringLiteral("/bilder");
    QVERIFY(QTest::qWaitFor([&] { return bytesUnderWay(folder, replacing) >= size / 2; }, 60000));
    // A new file has no visitors yet: no page links to it before the pages go, last.
    QVERIFY2(!replacing || contentOf(live) == old, "a visitor would load a half-written file");
    // The server goes down with the program, and what the kernel still held for it with it.
    // Killing the program alone lets the kernel hand the server whatever its socket buffers had
    // taken, on loopback at times the whole rest of the file; the next run then rightly sends it
    // again instead of continuing it, and this test would not see a continuation.
    ::kill(static_cast<pid_t>(program->processId()), SIGSTOP);
    publication.stopServer();
    program->kill();
    const FaultPublication::Run killed = publication.finish(*program);
    QCOMPARE(killed.status, -1);
    QVERIFY2(!replacing || contentOf(live) == old,
             "the killed run left a half-written file in place");

    options.throttleBytesPerSecond = 0;
    options.transferLog =
        QDir::cleanPath(publication.serverRoot() + QStringLiteral("/../transfers.log"));
    QVERIFY2(publication.startServer({}, &error), qPrintable(error));
    const FaultPublication::Run next = publication.run();
    const std::optional<QList<TestFtpServer::Upload>> uploads = publication.receivedUploads(&error);
    publication.stopServer();
    QVERIFY2(next.status == 0, qPrintable(next.transcript()));
    QVERIFY2(uploads, qPrintable(error));
    qint64 sent = 0;
    for (const TestFtpServer::Upload &upload : *uploads)
        if (upload.path.contains(QLatin1String("/bilder/")))
            sent += upload.bytes;
    // The refused attempts to continue bring no bytes.
    QVERIFY2(refuseAppend ? sent == size : sent > 0 && sent <= size / 2,
             qPrintable(QString::number(sent)));
    // Byte for byte the site, and no temporary file left (hidden files count on the server).
    QVERIFY2(publication.differences().isEmpty(),
             qPrintable(publication.differences().join(QLatin1Char('\n'))));
}

void TestVisitorSafe::refusedRenamesStillPublishPagesLast_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("refuseRenameOntoExisting");
    // RNTOs per file in the run after the fault, when the server is healthy again: 0 when files
    // go straight to their names from then on.
    QTest::addColumn<int>("renames");
    for (const TestFtpServer::Kind kind : TestFtpServer::kinds())
        QTest::newRow(qPrintable(TestFtpServer::kindName(kind)))
            << int(kind) << QStringList() << false << 1;
    const int faultServer = int(TestFtpServer::Kind::Pyftpdlib);
    // The first RNTO is refused, the second follows the DELE of the old file.
    QTest::newRow("fault server: RNTO onto an existing file refused")
        << faultServer << QStringList() << true << 2;
    QTest::newRow("fault server: RNFR refused")
        << faultServer << QStringList{"RNFR=reply 502 Command not implemented."} << false << 0;
    QTest::newRow("fault server: temporary name refused")
        << faultServer << QStringList{"STOR#1=reply 553 File name not allowed."} << false << 0;
}

void TestVisitorSafe::refusedRenamesStillPublishPagesLast()
{
    QFETCH(int, kind);
    QFETCH(QStringList, faults);
    QFETCH(bool, refuseRenameOntoExisting);
    QFETCH(int, renames);

    FaultPublication publication{QStringLiteral(PARCELUP_BINARY)};
    publication.serverOptions().kind = TestFtpServer::Kind(kind);
    const QString site = publication.site();
    const QStringList files{"index.html",      "Bilder/Logo.png", "style.css",
                            "seiten/info.htm", "skript.js",       "seiten/bild.gif"};
    const auto writeSite = [&](quint32 seed) {
        for (const QString &file : files)
            WriteSiteFile(site + QLatin1Char('/') + file, RandomBytes(1000 + seed, seed));
    };
    writeSite(1);
    QString error;
    QVERIFY2(publication.startServer({}, &error), qPrintable(error));
    publication.writeSettings();
    QCOMPARE(publication.run().status, 0);

    publication.serverOptions().refuseRenameOntoExisting = refuseRenameOntoExisting;
    publication.recordCommands();
    for (quint32 seed : {2u, 3u}) {
        writeSite(seed);
        // The second run meets a healthy server: what the first found out is remembered.
        QVERIFY2(publication.startServer(seed == 2u ? faults : QStringList(), &error),
                 qPrintable(error));
        const FaultPublication::Run run = publication.run();
        const QStringList commands = publication.receivedCommands();
        publication.stopServer();
        QVERIFY2(run.status == 0, qPrintable(run.transcript()));
        QVERIFY2(publication.differences().isEmpty(),
                 qPrintable(publication.differences().join(QLatin1Char('\n'))));

        const QStringList stored = commands.filter(QRegularExpression(QStringLiteral("^STOR ")));
        const QStringList renamed = commands.filter(QRegularExpression(QStringLiteral("^RNTO ")));
        // What pages use first, the pages after them, the upload log last: in the order in which
        // the real names appear on the server.
        QStringList order;
        for (const QString &command : commands)
            if ((command.startsWith(QLatin1String("STOR ")) ||
                 command.startsWith(QLatin1String("RNTO "))) &&
                !command.contains(QLatin1String(".parcelup-")))
                order << command.section(QLatin1Char(' '), 1);
        qsizetype firstPage = order.size();
        for (qsizetype i = 0; i < order.size(); ++i)
            if (isPage(order.at(i)) && firstPage == order.size())
                firstPage = i;
        for (qsizetype i = firstPage; i < order.size(); ++i)
            QVERIFY2(isPage(order.at(i)) || order.at(i) == QLatin1String("vellumixftplog.log"),
                     qPrintable(commands.join(QLatin1Char('\n'))));
        QVERIFY2(!stored.isEmpty() && stored.last() == QLatin1String("STOR vellumixftplog.log"),
                 qPrintable(commands.join(QLatin1Char('\n'))));
        // The run after a refusal of the temporary name or of renames goes straight away.
        if (renames > 0 || seed == 3u)
            QVERIFY2(renamed.size() == renames * files.size(),
                     qPrintable(commands.join(QLatin1Char('\n'))));
    }
}

QTEST_GUILESS_MAIN(TestVisitorSafe)
#include "tst_visitorsafe.moc"
