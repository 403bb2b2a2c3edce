#include "faultsoak.h"

#include "faultpublication.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <unistd.h>

namespace {

// Folders a random site draws from; "" is the site folder itself.
const QStringList kFolders{"", "Bilder", "bilder2/icons", "seiten", "seiten/a", "seiten/a/b"};

int between(QRandomGenerator &random, int low, int high)
{
    return low + static_cast<int>(random.bounded(static_cast<quint32>(high - low + 1)));
}

template <typename T> const T &oneOf(QRandomGenerator &random, const QList<T> &choices)
{
    return choices.at(between(random, 0, static_cast<int>(choices.size()) - 1));
}

// Mostly small files, and one large enough that a fault can strike in the middle of its transfer.
void writeRandomSite(QRandomGenerator &random, const QString &site)
{
    const int count = between(random, 5, 12);
    for (int i = 0; i < count; ++i) {
        const QString folder = oneOf(random, kFolders);
        const QString name = QStringLiteral("%1datei%2.%3")
                                 .arg(random.bounded(3) == 0 ? QStringLiteral("Gross") : QString())
                                 .arg(i)
                                 .arg(oneOf(random, QStringList{"html", "css", "png", "txt"}));
        const qint64 size = random.bounded(5) == 0 ? 0 : between(random, 1, 30000);
        WriteSiteFile(site + QLatin1Char('/') + folder + QLatin1Char('/') + name,
                      RandomBytes(size, random.generate()));
    }
    WriteSiteFile(site + QStringLiteral("/film.bin"),
                  RandomBytes(between(random, 300000, 2000000), random.generate()));
}

QStringList siteFiles(const QString &site)
{
    QStringList files;
    QDirIterator it(site, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!path.endsWith(QLatin1String(".log")))
            files << path;
    }
    files.sort();
    return files;
}

// What a user does between two publications: files deleted, changed and added, now and then a
// whole folder gone.
void changeSiteRandomly(QRandomGenerator &random, const QString &site)
{
    for (const QString &path : siteFiles(site)) {
        const quint32 roll = random.bounded(10);
        if (roll < 2)
            QFile::remove(path);
        else if (roll < 5)
            WriteSiteFile(path,
                          RandomBytes(QFileInfo(path).size() + between(random, -100, 100) + 100,
                                      random.generate()));
    }
    for (int i = between(random, 0, 3); i > 0; --i)
        WriteSiteFile(site + QStringLiteral("/%1/neu%2.html")
                                 .arg(oneOf(random, QStringList{"", "neu", "seiten/neu/tief"}))
                                 .arg(random.generate() % 1000),
                      RandomBytes(between(random, 0, 20000), random.generate()));
    if (random.bounded(3) == 0)
        QDir(site + QLatin1Char('/') + oneOf(random, kFolders.mid(1))).removeRecursively();
    // A small site can lose every file above; a site folder without a single file is what the
    // mass-deletion guard stops for, rightly, and its own test covers that. A user's site keeps
    // at least its start page.
    if (siteFiles(site).isEmpty())
        WriteSiteFile(site + QStringLiteral("/index.html"), QByteArrayLiteral("<p>Start</p>"));
}

// A fault at a random point of the faulted run. N is drawn up to about as many occurrences as
// the run has; one beyond them does not strike, and the run counts as unfaulted.
struct DrawnFault
{
    QStringList texts; // one fault, or one that strikes twice in a row
    bool kills = false;
    bool unreadable = false;     // a file made unreadable: the program runs without root's reading
    bool mayLeaveBehind = false; // a deletion refused for good, which no run tries again
    QString grownFile;           // a site file the fault appends to during the run
    bool passes = false;         // a fault that may pass: the run tries again and succeeds
};

DrawnFault drawFault(QRandomGenerator &random, const FaultPublication &publication)
{
    static const QList<std::pair<QString, int>> verbs{
        {"USER", 1}, {"PASS", 1}, {"CWD", 12}, {"MKD", 2},  {"RETR", 1}, {"STOR", 8},
        {"DELE", 4}, {"RMD", 2},  {"EPSV", 8}, {"TYPE", 2}, {"PWD", 12}};
    const auto &[verb, most] = oneOf(random, verbs);
    const int occurrence = between(random, 1, most);
    const bool transfer = verb == QLatin1String("STOR") || verb == QLatin1String("RETR");
    const QStringList files = siteFiles(publication.site());
    const QString file = files.isEmpty() ? QStringLiteral("/nothing") : oneOf(random, files);

    DrawnFault drawn;
    QString action;
    switch (random.bounded(transfer ? 13 : 9)) {
    case 0: {
        const int code =
            oneOf(random, QList<int>{421, 425, 426, 450, 451, 452, 500, 501, 530, 550, 552, 553});
        action = QStringLiteral("reply %1 Fault injected.").arg(code);
        // A server that says for good that a file or folder cannot be deleted, or that its
        // folder does not exist, is believed: the entry is not kept for another try.
        drawn.mayLeaveBehind =
            code >= 500 && (verb == QLatin1String("DELE") || verb == QLatin1String("RMD") ||
                            verb == QLatin1String("CWD"));
        break;
    }
    case 1:
        action = QStringLiteral("garbage");
        break;
    case 2:
        action = QStringLiteral("overlong");
        break;
    case 3:
        action = QStringLiteral("split");
        break;
    case 4:
        action = QStringLiteral("delay %1").arg(between(random, 50, 800));
        break;
    case 5:
        action = QStringLiteral("restart");
        break;
    case 6:
        action = QStringLiteral("run ") + publication.killCommand();
        drawn.kills = true;
        break;
    case 7: {
        // The local side between the scan and the upload.
        const int what = between(random, 0, 2);
        if (what == 0) {
            action = QStringLiteral("run rm -f '%1'").arg(file);
        } else if (what == 1) {
            action = QStringLiteral("run chmod 000 '%1'").arg(file);
            drawn.unreadable = true;
        } else {
            action = QStringLiteral("run head -c %1 /dev/urandom >> '%2'")
                         .arg(between(random, 1, 5000))
                         .arg(file);
            drawn.grownFile = file;
        }
        break;
    }
    case 8:
        // A data port where nothing listens; other commands get a reply that is barely late.
        action = verb == QLatin1String("EPSV") ? QStringLiteral("closed-port")
                                               : QStringLiteral("delay 20");
        break;
    case 9:
        action = QStringLiteral("drop-after %1").arg(between(random, 0, 400000));
        break;
    case 10:
        action = QStringLiteral("stall-final %1").arg(between(random, 1, 2));
        break;
    case 11:
        action = QStringLiteral("preliminary-close");
        break;
    default:
        if (random.bounded(2) == 0) {
            action = QStringLiteral("run-after %1 %2")
                         .arg(between(random, 0, 400000))
                         .arg(publication.killCommand());
            drawn.kills = true;
        } else {
            action = QStringLiteral("run-after %1 head -c 3000 /dev/urandom >> '%2'")
                         .arg(between(random, 0, 400000))
                         .arg(file);
            drawn.grownFile = file;
        }
        break;
    }
    drawn.texts << QStringLiteral("%1#%2=%3").arg(verb).arg(occurrence).arg(action);
    // Everything the server or the network does short of a final no (5xx) is tried again in the
    // same run, except at the run's first log-in (which USER, PASS and TYPE may be).
    static const QStringList passing{"garbage",     "overlong",    "split",
                                     "delay",       "restart",     "drop-after",
                                     "stall-final", "closed-port", "preliminary-close"};
    const QString name = action.section(QLatin1Char(' '), 0, 0);
    const bool login = verb == QLatin1String("USER") || verb == QLatin1String("PASS") ||
                       verb == QLatin1String("TYPE");
    drawn.passes = !login && (passing.contains(name) || (name == QLatin1String("reply") &&
                                                         action.section(u' ', 1, 1) < "500"));
    // Now and then the fault strikes the next occurrence too: one more try gets the same answer.
    if (random.bounded(4) == 0)
        drawn.texts << QStringLiteral("%1#%2=%3").arg(verb).arg(occurrence + 1).arg(action);
    return drawn;
}

// Where in the commands the fault struck: the index of its command, or -1.
qsizetype strikeIndex(const QString &fault, const QStringList &commands)
{
    const QString verb = fault.section(QLatin1Char('#'), 0, 0);
    const int occurrence =
        fault.section(QLatin1Char('#'), 1).section(QLatin1Char('='), 0, 0).toInt();
    int seen = 0;
    for (qsizetype i = 0; i < commands.size(); ++i) {
        if (commands.at(i).section(QLatin1Char(' '), 0, 0).toUpper() == verb &&
            ++seen == occurrence)
            return i;
    }
    return -1;
}

// Whether the run sent the file at or after the command the fault struck at: only then must a
// success have published the file as the fault left it. A file changed after its upload, or one
// the run did not send because it was unchanged when the run looked, is the next run's work.
bool sentAfterStrike(const QString &fault, const QStringList &commands, const QString &file)
{
    const qsizetype from = strikeIndex(fault, commands);
    if (from < 0)
        return false;
    // Stored under its name, or renamed into place; by name, or by its path from the base folder.
    const QString name = QFileInfo(file).fileName().toLower();
    for (qsizetype i = from; i < commands.size(); ++i) {
        const QString &command = commands.at(i);
        if ((command.startsWith(QLatin1String("STOR ")) ||
             command.startsWith(QLatin1String("RNTO "))) &&
            command.mid(5).section(QLatin1Char('/'), -1) == name)
            return true;
    }
    return false;
}

} // namespace

SoakRun RunSoakCase(const QString &program, quint32 seed)
{
    SoakRun outcome;
    outcome.seed = seed;
    QRandomGenerator random(seed);
    FaultPublication publication{program};
    publication.recordCommands();
    // Now and then a server that does not tell case apart, as on a Windows host.
    if (random.bounded(4) == 0)
        publication.ignoreCase();

    writeRandomSite(random, publication.site());
    QString error;
    if (!publication.startServer({}, &error)) {
        outcome.failure = QStringLiteral("the server did not start: ") + error;
        return outcome;
    }
    publication.writeSettings();
    const FaultPublication::Run first = publication.run();
    publication.stopServer();
    if (first.status != 0 || !publication.differences().isEmpty()) {
        outcome.failure = QStringLiteral("the first, healthy publication failed:\n") +
                          first.transcript() + publication.differences().join(QLatin1Char('\n'));
        return outcome;
    }
    changeSiteRandomly(random, publication.site());

    const DrawnFault fault = drawFault(random, publication);
    outcome.fault = fault.texts.join(QStringLiteral(", "));
    if (!publication.startServer(fault.texts, &error)) {
        outcome.failure = QStringLiteral("the faulty server did not start: ") + error;
        return outcome;
    }
    QStringList wrapper;
    if (fault.unreadable && ::geteuid() == 0)
        wrapper = {QStandardPaths::findExecutable(QStringLiteral("setpriv")),
                   QStringLiteral("--bounding-set=-dac_override,-dac_read_search")};
    const FaultPublication::Run faulted = publication.run({}, wrapper);
    const QStringList commands = publication.receivedCommands();
    outcome.struck = strikeIndex(fault.texts.first(), commands) >= 0;
    publication.stopServer();
    outcome.status = faulted.status;

    const QString faultedRun = QStringLiteral("the faulted run:\n") + faulted.transcript();
    if (!(faulted.status == 0 || faulted.status == 1 || (fault.kills && faulted.status == -1))) {
        outcome.failure = QStringLiteral("unexpected exit status; ") + faultedRun;
        return outcome;
    }
    if (fault.passes && faulted.status != 0) {
        outcome.failure = QStringLiteral("a fault that passes ended the run; ") + faultedRun;
        return outcome;
    }
    if (faulted.status != -1 && !faulted.errors.isEmpty()) {
        outcome.failure = QStringLiteral("the program wrote to stderr; ") + faultedRun;
        return outcome;
    }
    if (!faulted.lost.isEmpty()) {
        outcome.failure = QStringLiteral("live files lost: ") +
                          faulted.lost.join(QStringLiteral("; ")) + QLatin1Char('\n') + faultedRun;
        return outcome;
    }
    QStringList falseSuccess = faulted.status == 0 ? publication.missingOrStale() : QStringList();
    if (!fault.grownFile.isEmpty() &&
        !sentAfterStrike(fault.texts.first(), commands, fault.grownFile)) {
        const QString grown = QDir(publication.site()).relativeFilePath(fault.grownFile).toLower();
        falseSuccess.removeIf([&](const QString &difference) {
            return difference.startsWith(QStringLiteral("stale %1 ").arg(grown));
        });
    }
    if (!falseSuccess.isEmpty()) {
        outcome.failure = QStringLiteral("success reported, but on the server: ") +
                          falseSuccess.join(QStringLiteral("; ")) + QLatin1Char('\n') + faultedRun;
        return outcome;
    }

    // The user makes unreadable files readable again; the next ordinary run does the rest.
    for (const QString &path : siteFiles(publication.site()))
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    QString broken = publication.repair();
    if (fault.mayLeaveBehind && broken.startsWith(QLatin1String("after the repair run"))) {
        // What the server refused to delete for good may stay; nothing else may differ.
        const QStringList differences = publication.differences();
        if (std::all_of(differences.cbegin(), differences.cend(), [](const QString &difference) {
                return difference.startsWith(QLatin1String("left over "));
            }))
            broken.clear();
    }
    if (!broken.isEmpty())
        outcome.failure = broken + QLatin1Char('\n') + faultedRun;
    return outcome;
}
