#include "faultpublication.h"
#include "testprocess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>
#include <unistd.h>

namespace {

// The faults strike at the N-th command of one dialogue, and each row names the file that meets
// it; over several connections which file that is depends on timing. Faults over several
// connections are the soak's and their own suite's.
const QMap<QString, QString> kOneConnection{
    {QStringLiteral("FTPConnections"), QStringLiteral("1")}};
const QString kSuccess = QStringLiteral("✓ Übertragung fehlerfrei abgeschlossen.");
QString fileFailed(const QString &name)
{
    return QStringLiteral("✗ Die Datei \"%1\" konnte nicht auf den FTP-Server übertragen werden.")
        .arg(name);
}

// A film large enough that a transfer is still under way when a fault strikes in its middle.
constexpr qint64 kFilmSize = 4 * 1000 * 1000;

// The site of the first, healthy publication: nested folders, mixed case, an empty file, binary
// content and one large file.
void writeFirstSite(const QString &site)
{
    const QMap<QString, QByteArray> files{
        {"index.html", "<html>Start</html>\n"},
        {"Style.CSS", "body { margin: 0 }\r\n"},
        {"leer.txt", ""},
        {"Bilder/Logo.png", RandomBytes(70000, 42)},
        {"Bilder/Film.bin", RandomBytes(kFilmSize, 7)},
        {"Bilder/Icons/pfeil.gif", RandomBytes(999, 3)},
        {"seiten/a/b/c/tief.html", "<p>tief</p>"},
        {"seiten/kontakt.html", "<p>Kontakt</p>"},
    };
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        WriteSiteFile(site + QLatin1Char('/') + it.key(), it.value());
}

// What the user changed before the faulted publication: a file and a folder tree deleted, two
// files changed and a new folder with a file. So the faulted run reads the old log, deletes
// (DELE#1 tief.html, DELE#2 style.css, RMD#1 to #3 the folders c, b, a), creates a folder (MKD#1
// neu) and uploads (STOR#1 bilder/film.bin, #2 neu/x.html, #3 index.html, #4 the upload log).
void changeSite(const QString &site)
{
    QFile::remove(site + QStringLiteral("/Style.CSS"));
    QDir(site + QStringLiteral("/seiten/a")).removeRecursively();
    WriteSiteFile(site + QStringLiteral("/index.html"), "<html>Neu</html>\n");
    WriteSiteFile(site + QStringLiteral("/neu/x.html"), "<p>neu</p>");
    WriteSiteFile(site + QStringLiteral("/Bilder/Film.bin"), RandomBytes(kFilmSize, 8));
}

// Faults of this machine rather than of the server.
enum class Local {
    None,
    // The file is made unreadable (mode 000) by a server hook after the scan. As root the program
    // runs without the capability that reads any file, so the mode counts.
    Unreadable,
    // The state folder (change markers, trusted certificates) lies on a file system that is full.
    FullStateFolder,
};

QString withPlaceholders(QString text, const FaultPublication &publication)
{
    return text.replace(QLatin1String("%SITE%"), publication.site())
        .replace(QLatin1String("%KILL%"), publication.killCommand())
        .replace(QLatin1String("%HOST%"), publication.host());
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

// A small file system over the state folder that holds what the folder held and has no room
// left, as root; undone when the object goes.
class FullFileSystem
{
public:
    explicit FullFileSystem(QString folder) : mFolder(std::move(folder)) {}
    ~FullFileSystem()
    {
        if (mMounted) {
            QString ignored;
            (void)RunToCompletion(QStringLiteral("umount"), {QStringLiteral("-l"), mFolder}, {},
                                  &ignored);
        }
    }

    [[nodiscard]] bool mount(QString *error)
    {
        const QString aside = mFolder + QStringLiteral(".before");
        if (!QDir().rename(mFolder, aside) || !QDir().mkpath(mFolder)) {
            *error = QStringLiteral("cannot set the state folder aside");
            return false;
        }
        if (!RunToCompletion(QStringLiteral("mount"),
                             {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                              QStringLiteral("size=1m,mode=0700"), QStringLiteral("tmpfs"),
                              mFolder},
                             {}, error))
            return false;
        mMounted = true;
        // What the earlier run left there, then everything else the file system has room for.
        return RunToCompletion(QStringLiteral("cp"),
                               {QStringLiteral("-a"), aside + QStringLiteral("/."), mFolder}, {},
                               error) &&
               RunToCompletion(
                   QStringLiteral("sh"),
                   {QStringLiteral("-c"),
                    QStringLiteral("cat /dev/zero > '%1/fill' 2>/dev/null; true").arg(mFolder)},
                   {}, error);
    }

    // The user makes room again.
    void makeRoom() { QFile::remove(mFolder + QStringLiteral("/fill")); }

private:
    QString mFolder;
    bool mMounted = false;
};

} // namespace

// Every fault a publication can meet, through the real program: the server refuses, talks
// nonsense, drops or stalls a connection, restarts between two files; a file changes under the
// program; the state folder is full; the program is killed. Each row gives what the user is told
// and how the program exits, and then holds the program to its promise: a run that said
// "success" left no site file missing or stale on the server, and one more ordinary run repairs
// whatever a failed run left, up to a server equal to the site, byte for byte.
class TestFaultInjection : public QObject
{
    Q_OBJECT

private slots:
    // Starts the runs against servers that fall silent: their watchdog takes its minute, which
    // the table's rows use meanwhile.
    void initTestCase();
    void faultIsSurvived_data();
    void faultIsSurvived();
    void nothingIsDoneOnAGuess_data();
    void nothingIsDoneOnAGuess();
    void silentServerTimesOut();
    // Ends silent runs that are left when only some rows were chosen.
    void cleanupTestCase();

private:
    std::vector<std::unique_ptr<FaultPublication>> mSilent;
    std::vector<std::unique_ptr<QProcess>> mSilentPrograms;

    // A first, healthy publication, then the user's changes; the server is stopped afterwards.
    void publishFirstState(FaultPublication &publication);
};

void TestFaultInjection::publishFirstState(FaultPublication &publication)
{
    writeFirstSite(publication.site());
    QString error;
    QVERIFY2(publication.startServer({}, &error), qPrintable(error));
    publication.writeSettings(kOneConnection);
    const FaultPublication::Run first = publication.run();
    QVERIFY2(first.status == 0, qPrintable(first.transcript()));
    QVERIFY2(publication.differences().isEmpty(),
             qPrintable(publication.differences().join(QLatin1Char('\n'))));
    publication.stopServer();
    changeSite(publication.site());
}

void TestFaultInjection::faultIsSurvived_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("local");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message"); // the last line; empty when the program was killed

    const auto row = [](const char *name, const QStringList &faults, int status,
                        const QString &message, Local local = Local::None) {
        QTest::newRow(name) << faults << int(local) << status << message;
    };
    const QString x = fileFailed(QStringLiteral("x.html"));

    // The server says no.
    row("login-refused-421", {"USER#1=reply 421 Too many users, try again later."}, 1,
        QStringLiteral("✗ Die Verbindung zum FTP-Server \"%HOST%\" konnte nicht hergestellt "
                       "werden."));
    // "Not now" is tried again in the same run; a final no is not.
    row("upload-refused-451", {"STOR#2=reply 451 Local error in processing."}, 0, kSuccess);
    row("upload-over-quota-552", {"STOR#3=reply 552 Exceeded storage allocation."}, 1,
        fileFailed(QStringLiteral("index.html")));
    row("folder-creation-refused-550", {"MKD#1=reply 550 Permission denied."}, 1,
        QStringLiteral("✗ Der Ordner \"neu\" konnte auf dem FTP-Server nicht angelegt werden."));
    row("folder-change-refused-550", {"CWD neu=reply 550 Permission denied."}, 1,
        QStringLiteral("✗ Es konnte nicht in den Ordner \"neu\" gewechselt werden."));
    // Every climb refused: the walks stay where they are, and no folder may be created there.
    row("folder-climb-refused-450", {"CWD ..=reply 450 Folder busy."}, 1,
        QStringLiteral("✗ Es konnte nicht in den Ordner \"..\" gewechselt werden."));
    row("old-log-refused-451", {"RETR#1=reply 451 Local error in processing."}, 0, kSuccess);
    row("deletion-refused-450", {"DELE#1=reply 450 File busy."}, 0, kSuccess);
    row("folder-removal-refused-450", {"RMD#2=reply 450 Folder busy."}, 0, kSuccess);

    // The server talks nonsense.
    row("upload-answered-with-garbage", {"STOR#2=garbage"}, 0, kSuccess);
    row("folder-change-answered-with-overlong-line", {"CWD#3=overlong"}, 0, kSuccess);
    row("log-in-answered-with-garbage", {"PASS#1=garbage"}, 1,
        QStringLiteral("✗ Die Verbindung zum FTP-Server \"%HOST%\" konnte nicht hergestellt "
                       "werden."));
    row("replies-split-across-packets", {"PASS#1=split", "CWD=split", "STOR#2=split"}, 0, kSuccess);
    row("replies-delayed", {"CWD=delay 150", "DELE=delay 300", "STOR=delay 300"}, 0, kSuccess);

    // Connections break: the run logs in again and goes on in the same run.
    row("upload-dropped-mid-file", {"STOR#1=drop-after 1000000"}, 0, kSuccess);
    row("old-log-download-dropped", {"RETR#1=drop-after 10"}, 0, kSuccess);
    row("upload-preliminary-reply-then-close", {"STOR#2=preliminary-close"}, 0, kSuccess);
    row("download-preliminary-reply-then-close", {"RETR#1=preliminary-close"}, 0, kSuccess);
    row("data-port-refuses", {"EPSV#2=closed-port"}, 0, kSuccess);
    // No data port free for a moment: vsftpd's answers when its passive range is used up.
    row("data-ports-used-up",
        {"EPSV#2=reply 500 OOPS: vsf_sysutil_bind", "PASV#1=reply 500 OOPS: priv_sock_get_int"}, 0,
        kSuccess);
    row("final-reply-late", {"STOR#2=stall-final 3"}, 0, kSuccess);
    row("server-restarted-between-files", {"STOR#2=restart"}, 0, kSuccess);
    // Five tries in a row after pauses of 1 to 16 s, and the fault is always there.
    row("upload-put-off-every-time", {"STOR=reply 451 Local error in processing."}, 1,
        fileFailed(QStringLiteral("film.bin")));
    row("server-restarted-after-last-file", {"STOR#4=restart"}, 0, kSuccess);

    // The local side.
    row("file-vanishes-before-upload", {"USER#1=run rm -f '%SITE%/neu/x.html'"}, 1, x);
    row("file-unreadable-before-upload", {"USER#1=run chmod 000 '%SITE%/index.html'"}, 1,
        fileFailed(QStringLiteral("index.html")), Local::Unreadable);
    row("file-replaced-by-pipe", {"USER#1=run rm '%SITE%/index.html'; mkfifo '%SITE%/index.html'"},
        1, fileFailed(QStringLiteral("index.html")));
    row("file-grows-during-upload",
        {"STOR#1=run-after 100000 head -c 5000 /dev/urandom >> '%SITE%/Bilder/Film.bin'"}, 0,
        kSuccess);
    row("file-grows-after-its-last-byte",
        {QStringLiteral("STOR#1=run-after %1 head -c 5000 /dev/urandom >> '%SITE%/Bilder/Film.bin'")
             .arg(kFilmSize)},
        0, kSuccess);
    row("state-folder-full", {}, 0, kSuccess, Local::FullStateFolder);
    row("killed-mid-upload", {"STOR#1=run-after 1000000 %KILL%"}, -1, QString());
    row("killed-during-clean-up", {"DELE#2=run %KILL%"}, -1, QString());
    row("killed-between-files", {"STOR#3=run %KILL%"}, -1, QString());
}

void TestFaultInjection::faultIsSurvived()
{
    QFETCH(QStringList, faults);
    QFETCH(int, local);
    QFETCH(int, status);
    QFETCH(QString, message);

    FaultPublication publication{QStringLiteral(PARCELUP_BINARY)};
    publishFirstState(publication);
    if (QTest::currentTestFailed())
        return;

    for (QString &fault : faults)
        fault = withPlaceholders(fault, publication);
    QString error;
    QVERIFY2(publication.startServer(faults, &error), qPrintable(error));

    QStringList wrapper;
    std::optional<FullFileSystem> fullFileSystem;
    if (Local(local) == Local::Unreadable && runningAsRoot()) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        QVERIFY2(!setpriv.isEmpty(), "setpriv (util-linux) is needed to read files as a user");
        wrapper = {setpriv, QStringLiteral("--bounding-set=-dac_override,-dac_read_search")};
    }
    if (Local(local) == Local::FullStateFolder) {
        if (!runningAsRoot()) {
            // In CI, which runs as root, this row always runs.
            if (qEnvironmentVariableIsSet("CI"))
                QFAIL("a full file system for the state folder needs root to mount it");
            QSKIP("a full file system for the state folder needs root to mount it");
        }
        fullFileSystem.emplace(publication.stateHome());
        QVERIFY2(fullFileSystem->mount(&error), qPrintable(error));
    }

    const FaultPublication::Run faulted = publication.run({}, wrapper);
    publication.stopServer();
    QVERIFY2(faulted.status == status, qPrintable(faulted.transcript()));
    if (!message.isEmpty())
        QVERIFY2(faulted.lastLine() == withPlaceholders(message, publication),
                 qPrintable(faulted.transcript()));
    // An unexpected error (status 4) is never the answer to a fault of the network or the files.
    if (status != -1)
        QVERIFY2(faulted.errors.isEmpty(), qPrintable(faulted.transcript()));
    QVERIFY2(faulted.lost.isEmpty(), qPrintable(faulted.lost.join(QLatin1Char('\n'))));
    // No false success: a run that says so has published every site file as it is now.
    if (faulted.status == 0)
        QVERIFY2(publication.missingOrStale().isEmpty(),
                 qPrintable(publication.missingOrStale().join(QLatin1Char('\n'))));

    // The user puts things right, as far as they are the user's: the file readable again, room
    // on the disk. The next ordinary run does the rest.
    if (Local(local) == Local::Unreadable)
        QFile::setPermissions(publication.site() + QStringLiteral("/index.html"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    if (fullFileSystem)
        fullFileSystem->makeRoom();
    const QString broken = publication.repair();
    QVERIFY2(broken.isEmpty(), qPrintable(broken));
}

namespace {

// What the rule that nothing is stored or deleted on a guess is held to, each from its own start.
enum class Guess {
    // Faults while the user's changes go up: a deleted page, and a new one two folders deep.
    Faults,
    // The last run went to another remote folder; this one, without an upload log, holds a page
    // by the name of one the user deleted since, placed there by other means.
    NewDestination,
    // 25 of 30 pages deleted: skipped by the deletion guard, then allowed with the option.
    MassDeletion,
    // The first publication over TLS to an empty base folder, whose server answers the download
    // of the old log with 550 and closes its data connection during the TLS handshake (ProFTPD).
    TlsLogRefused,
};

} // namespace

void TestFaultInjection::nothingIsDoneOnAGuess_data()
{
    QTest::addColumn<int>("scenario");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    const auto row = [](const char *name, Guess scenario, const QStringList &faults, int status,
                        const QString &message) {
        QTest::newRow(name) << int(scenario) << faults << status << message;
    };
    const QString htdocs =
        QStringLiteral("✗ Es konnte nicht in den Ordner \"htdocs\" gewechselt werden.");
    // The 4th folder query comes before index.html, after x.html went into neu/tief; the one
    // answered before it named seiten, where kontakt.html was deleted.
    row("folder-query-refused-once", Guess::Faults, {"PWD#4=reply 550 Not now."}, 0, kSuccess);
    row("folder-query-refused-twice", Guess::Faults,
        {"PWD#4=reply 550 Not now.", "PWD#5=reply 550 Not now."}, 1, htdocs);
    row("every-folder-query-refused", Guess::Faults, {"PWD=reply 502 Not implemented."}, 1, htdocs);
    row("new-destination-without-log", Guess::NewDestination, {}, 0, kSuccess);
    row("mass-deletion-allowed-later", Guess::MassDeletion, {}, 0, kSuccess);
    row("old-log-refused-during-tls-handshake", Guess::TlsLogRefused,
        {"RETR=reply-closing-data 550 No such file or directory."}, 0, kSuccess);
}

void TestFaultInjection::nothingIsDoneOnAGuess()
{
    QFETCH(int, scenario);
    QFETCH(QStringList, faults);
    QFETCH(int, status);
    QFETCH(QString, message);
    FaultPublication publication{QStringLiteral(PARCELUP_BINARY)};
    const QString site = publication.site();
    QString error;
    const auto publish = [&](QMap<QString, QString> settings) {
        QVERIFY2(publication.startServer({}, &error), qPrintable(error));
        settings.insert(kOneConnection);
        publication.writeSettings(settings);
        const FaultPublication::Run first = publication.run();
        QVERIFY2(first.status == 0, qPrintable(first.transcript()));
    };
    QMap<QString, QString> settings = kOneConnection;
    switch (Guess(scenario)) {
    case Guess::Faults:
        writeFirstSite(site);
        publish({});
        QFile::remove(site + QStringLiteral("/seiten/kontakt.html"));
        WriteSiteFile(site + QStringLiteral("/neu/tief/x.html"), "<p>tief</p>");
        WriteSiteFile(site + QStringLiteral("/index.html"), "<html>Neu</html>\n");
        break;
    case Guess::NewDestination:
        writeFirstSite(site);
        publish({{"FTPRemoteBaseDir", "alt"}});
        changeSite(site);
        WriteSiteFile(publication.serverBase() + QStringLiteral("/style.css"), "von Hand");
        break;
    case Guess::MassDeletion:
        for (int i = 0; i < 30; ++i)
            WriteSiteFile(site + QStringLiteral("/seite%1.html").arg(i), "<p>Seite</p>");
        publish({});
        for (int i = 5; i < 30; ++i)
            QFile::remove(site + QStringLiteral("/seite%1.html").arg(i));
        QCOMPARE(publication.run().status, 5);
        break;
    case Guess::TlsLogRefused:
        writeFirstSite(site);
        QDir().mkpath(publication.serverBase());
        QVERIFY2(publication.offerTls(&error), qPrintable(error));
        settings.insert(QStringLiteral("FTPHost"), QStringLiteral("ftpes://127.0.0.1"));
        break;
    }
    if (QTest::currentTestFailed())
        return;
    publication.stopServer();
    QVERIFY2(publication.startServer(faults, &error), qPrintable(error));
    if (settings.contains(QStringLiteral("FTPHost")))
        settings[QStringLiteral("FTPHost")] += QStringLiteral(":%1").arg(publication.port());
    publication.writeSettings(settings);
    const FaultPublication::Run run =
        publication.run(Guess(scenario) == Guess::MassDeletion ? QStringList{"--allow-mass-delete"}
                                                               : QStringList{});
    publication.stopServer();
    QVERIFY2(run.status == status && run.lastLine() == withPlaceholders(message, publication) &&
                 run.errors.isEmpty(),
             qPrintable(run.transcript()));
    QVERIFY2(run.lost.isEmpty(), qPrintable(run.lost.join(QLatin1Char('\n'))));
    if (Guess(scenario) == Guess::NewDestination) {
        QFile handMade(publication.serverBase() + QStringLiteral("/style.css"));
        QVERIFY(handMade.open(QIODevice::ReadOnly) && handMade.readAll() == "von Hand");
        return;
    }
    // A run that succeeded left the server as the site is, the upload log included.
    if (run.status == 0)
        QVERIFY2(publication.differences().isEmpty(),
                 qPrintable(publication.differences().join(QLatin1Char('\n'))));
    const QString broken = publication.repair();
    QVERIFY2(broken.isEmpty(), qPrintable(broken));
}

namespace {

// Two servers that fall silent for good: one never sends the final reply of the last upload, the
// other announces a data port that never accepts. The transfer given up by the watchdog is
// reported as the file that could not be sent, when the component says so.
const QList<QStringList> kSilentFaults{{"STOR#4=stall-final forever"}, {"EPSV#2=dead-port"}};

} // namespace

void TestFaultInjection::initTestCase()
{
    for (const QStringList &fault : kSilentFaults) {
        auto &publication = mSilent.emplace_back(
            std::make_unique<FaultPublication>(QStringLiteral(PARCELUP_BINARY)));
        publishFirstState(*publication);
        if (QTest::currentTestFailed())
            return;
        QString error;
        QVERIFY2(publication->startServer(fault, &error), qPrintable(error));
        mSilentPrograms.push_back(publication->start());
    }
}

void TestFaultInjection::silentServerTimesOut()
{
    // After the time-out the run logs in again and finishes.
    const QString retried = QStringLiteral("Verbindung unterbrochen – neuer Versuch in 1 s");
    QCOMPARE(mSilentPrograms.size(), size_t(kSilentFaults.size()));
    for (size_t i = 0; i < mSilent.size(); ++i) {
        FaultPublication &publication = *mSilent.at(i);
        const FaultPublication::Run run = publication.finish(*mSilentPrograms.at(i));
        publication.stopServer();
        QVERIFY2(run.status == 0 && run.lines.contains(retried), qPrintable(run.transcript()));
        const QString broken = publication.repair();
        QVERIFY2(broken.isEmpty(), qPrintable(broken));
    }
}

void TestFaultInjection::cleanupTestCase()
{
    for (const std::unique_ptr<QProcess> &program : mSilentPrograms) {
        if (program->state() != QProcess::NotRunning) {
            program->kill();
            program->waitForFinished();
        }
    }
}

QTEST_GUILESS_MAIN(TestFaultInjection)
#include "tst_faultinjection.moc"
