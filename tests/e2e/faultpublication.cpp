#include "faultpublication.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <filesystem>
#include <sys/stat.h>

namespace {

const QString kUploadLogName = QStringLiteral("vellumixftplog.log");

// The tree below root as relative "/"-separated paths to content; folders end with "/". With
// asPublished, the tree as the program publishes it: names in lower case, hidden names and
// everything that is neither a regular file nor a folder left out, as its scan leaves them out.
QMap<QString, QByteArray> readTree(const QString &root, bool asPublished)
{
    QMap<QString, QByteArray> tree;
    if (!QFileInfo(root).isDir())
        return tree;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QString relative = base.relativeFilePath(path);
        if (asPublished) {
            const QStringList names = relative.split(QLatin1Char('/'));
            if (std::any_of(names.cbegin(), names.cend(),
                            [](const QString &name) { return name.startsWith(QLatin1Char('.')); }))
                continue;
            relative = relative.toLower();
        }
        // lstat-free on purpose: the program follows links, and a pipe must never be opened.
        struct stat info
        {
        };
        if (::stat(QFile::encodeName(path).constData(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            tree.insert(relative + QLatin1Char('/'), QByteArray());
        } else if (S_ISREG(info.st_mode)) {
            QFile file(path);
            // A file the test made unreadable counts as absent, as for the program.
            if (file.open(QIODevice::ReadOnly))
                tree.insert(relative, file.readAll());
            else if (!asPublished)
                tree.insert(relative, QByteArrayLiteral("<unreadable>"));
        } else if (!asPublished) {
            tree.insert(relative, QByteArrayLiteral("<not a regular file>"));
        }
    }
    return tree;
}

QString describe(const QByteArray &content)
{
    return QStringLiteral("%1 bytes").arg(content.size());
}

// The program writes its debug log beside itself. Suites that run it at the same time (ctest -j)
// would write one file together, and a suite that reads that log would read another's run: each
// test process runs its own copy, in a folder of its own, made once.
QString ProgramOfThisProcess(const QString &program)
{
    static QTemporaryDir folder;
    static const QString copy = [&program] {
        const std::filesystem::path from = QFile::encodeName(program).toStdString();
        const std::filesystem::path to =
            QFile::encodeName(folder.filePath(QStringLiteral("parcelup"))).toStdString();
        std::error_code error;
        std::filesystem::create_hard_link(from, to, error);
        if (error)
            std::filesystem::copy_file(from, to, error);
        return error ? program : QFile::decodeName(to.c_str());
    }();
    return copy;
}

} // namespace

QString FaultPublication::Run::transcript() const
{
    QString text = QStringLiteral("exit status %1 after %2 ms%3\n")
                       .arg(status)
                       .arg(milliseconds)
                       .arg(ended ? QString() : QStringLiteral(" (killed or did not end)"));
    // The end of a long run says most.
    const qsizetype from = std::max<qsizetype>(0, lines.size() - 25);
    for (qsizetype i = from; i < lines.size(); ++i)
        text += QStringLiteral("  | ") + lines.at(i) + QLatin1Char('\n');
    if (!errors.isEmpty())
        text += QStringLiteral("  stderr: ") + errors;
    return text;
}

FaultPublication::FaultPublication(const QString &program) : mProgram(ProgramOfThisProcess(program))
{
    for (const QString &folder : {site(), serverRoot(), stateHome(), runtimeDir(),
                                  mWork.filePath(QStringLiteral("config"))})
        QDir().mkpath(folder);
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

FaultPublication::~FaultPublication()
{
    stopServer();
}

QString FaultPublication::killCommand() const
{
    // The program writes nothing there itself; the file appears right after the start.
    return QStringLiteral("while [ ! -s '%1' ]; do sleep 0.01; done; kill -9 $(cat '%1')")
        .arg(pidFile());
}

bool FaultPublication::startServer(const QStringList &faults, QString *error)
{
    stopServer();
    TestFtpServer::Options options = mServerOptions;
    options.root = serverRoot();
    options.port = mPort;
    options.faults = faults;
    if (mRecordCommands) {
        options.commandLog = mWork.filePath(QStringLiteral("commands.log"));
        QFile::remove(options.commandLog);
    }
    // vsftpd enters the root folder as its own user, who must be able to pass through the work
    // folder on the way; the state folder inside stays private.
    if (options.kind == TestFtpServer::Kind::Vsftpd)
        QFile::setPermissions(mWork.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                QFile::ExeOther);
    mServer = std::make_unique<TestFtpServer>();
    if (!mServer->start(options, error)) {
        mServer.reset();
        return false;
    }
    mPort = mServer->port();
    return true;
}

bool FaultPublication::offerTls(QString *error)
{
    mServerOptions.tls = TestFtpServer::Tls::Explicit;
    return TestFtpServer::createSelfSignedCertificate(mWork.path(), QStringLiteral("localhost"),
                                                      &mServerOptions, error);
}

QStringList FaultPublication::receivedCommands() const
{
    // vsftpd writes a log of its own shape, which the server object reads.
    if (mServer && mServer->kind() == TestFtpServer::Kind::Vsftpd) {
        QString error;
        return mServer->receivedCommands(&error).value_or(QStringList{error});
    }
    QFile log(mWork.filePath(QStringLiteral("commands.log")));
    if (!log.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void FaultPublication::stopServer()
{
    mServer.reset();
}

std::optional<QList<TestFtpServer::Upload>> FaultPublication::receivedUploads(QString *error) const
{
    if (!mServer) {
        *error = QStringLiteral("no server is running");
        return std::nullopt;
    }
    return mServer->receivedUploads(error);
}

QString FaultPublication::host() const
{
    return QStringLiteral("127.0.0.1:%1").arg(mPort);
}

void FaultPublication::writeSettings(const QMap<QString, QString> &overrides)
{
    QMap<QString, QString> values{{"FTPLocalBaseDir", site()},
                                  {"FTPRemoteBaseDir", "htdocs"},
                                  {"FTPRemoteURL", "http://www.example.de/"},
                                  {"FTPHost", host()},
                                  // vsftpd serves a system user of its own.
                                  {"FTPLogonName", mServer ? mServer->user() : "tester"},
                                  {"FTPPassword", mServer ? mServer->password() : "secret"},
                                  {"FTPPassive", "1"},
                                  {"FTPDelete", "1"}};
    for (auto it = overrides.cbegin(); it != overrides.cend(); ++it)
        values.insert(it.key(), it.value());
    QFile file(mWork.filePath(QStringLiteral("parcelup.ini")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write the settings");
    file.write("[parcelup]\n");
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        file.write(
            (it.key() + QStringLiteral("=\"") + it.value() + QStringLiteral("\"\n")).toUtf8());
}

FaultPublication::Run FaultPublication::run(const QStringList &extraArguments,
                                            const QStringList &wrapper, int deadlineMs)
{
    const std::unique_ptr<QProcess> process = start(extraArguments, wrapper);
    return finish(*process, deadlineMs);
}

std::unique_ptr<QProcess> FaultPublication::start(const QStringList &extraArguments,
                                                  const QStringList &wrapper)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), stateHome());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), mWork.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));

    QStringList arguments{QStringLiteral("--no-window"), QStringLiteral("--settings"),
                          mWork.filePath(QStringLiteral("parcelup.ini"))};
    arguments += extraArguments;
    QString program = mProgram;
    if (!wrapper.isEmpty()) {
        arguments = wrapper.mid(1) + QStringList{mProgram} + arguments;
        program = wrapper.first();
    }

    QFile::remove(pidFile());
    mLive.clear();
    const QMap<QString, QByteArray> onServerNow = onServer();
    for (const QString &path : expectedOnServer().keys())
        if (!path.endsWith(QLatin1Char('/')) && onServerNow.contains(path))
            mLive << path;
    mStartedAt = QDateTime::currentMSecsSinceEpoch();
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    process->start(program, arguments);
    if (process->waitForStarted()) {
        // Through a wrapper that execs the program, the process id is the program's.
        QFile pid(pidFile());
        if (pid.open(QIODevice::WriteOnly))
            pid.write(QByteArray::number(process->processId()));
    }
    return process;
}

FaultPublication::Run FaultPublication::finish(QProcess &process, int deadlineMs)
{
    Run result;
    if (process.state() == QProcess::NotRunning && process.error() == QProcess::FailedToStart) {
        result.errors = process.errorString();
        return result;
    }
    if (!process.waitForFinished(deadlineMs)) {
        process.kill();
        process.waitForFinished();
    } else {
        result.ended = process.exitStatus() == QProcess::NormalExit;
        result.status = result.ended ? process.exitCode() : -1;
    }
    QFile::remove(pidFile());
    result.milliseconds = QDateTime::currentMSecsSinceEpoch() - mStartedAt;
    result.lines = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    if (!result.lines.isEmpty() && result.lines.last().isEmpty())
        result.lines.removeLast();
    result.errors = QString::fromUtf8(process.readAllStandardError());
    const QMap<QString, QByteArray> left = onServer();
    for (const QString &path : std::as_const(mLive))
        if (!left.contains(path))
            result.lost << path;
    return result;
}

QMap<QString, QByteArray> FaultPublication::expectedOnServer() const
{
    return readTree(site(), true);
}

QMap<QString, QByteArray> FaultPublication::onServer() const
{
    return readTree(serverBase(), false);
}

QStringList FaultPublication::differences() const
{
    const QMap<QString, QByteArray> expected = expectedOnServer();
    const QMap<QString, QByteArray> actual = onServer();
    QStringList found;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!actual.contains(it.key()))
            found << QStringLiteral("missing %1").arg(it.key());
        else if (actual.value(it.key()) != it.value())
            found << QStringLiteral("stale %1 (%2 on the server, %3 in the site)")
                         .arg(it.key(), describe(actual.value(it.key())), describe(it.value()));
    }
    for (auto it = actual.cbegin(); it != actual.cend(); ++it) {
        if (!expected.contains(it.key()))
            found << QStringLiteral("left over %1").arg(it.key());
    }
    return found;
}

QStringList FaultPublication::missingOrStale() const
{
    QStringList found;
    for (const QString &difference : differences()) {
        if (!difference.startsWith(QLatin1String("left over ")) &&
            !difference.contains(kUploadLogName))
            found << difference;
    }
    return found;
}

QString FaultPublication::repair()
{
    QString error;
    if (!startServer({}, &error))
        return QStringLiteral("the server did not start again: ") + error;
    const Run repaired = run();
    stopServer();
    if (repaired.status != 0)
        return QStringLiteral("the repair run did not succeed:\n") + repaired.transcript();
    if (!repaired.lost.isEmpty())
        return QStringLiteral("the repair run lost live files: ") +
               repaired.lost.join(QStringLiteral("; "));
    const QStringList left = differences();
    if (!left.isEmpty())
        return QStringLiteral("after the repair run the server differs from the site: ") +
               left.join(QStringLiteral("; ")) + QLatin1Char('\n') + repaired.transcript();
    return QString();
}

QByteArray RandomBytes(qint64 size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    for (qint64 i = size / 4 * 4; i < size; ++i)
        bytes[i] = static_cast<char>(generator.generate() & 0xff);
    return bytes;
}

void WriteSiteFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) < 0)
        qFatal("cannot write %s", qPrintable(path));
}
