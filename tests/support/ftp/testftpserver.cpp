#include "testftpserver.h"

#include "testprocess.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMultiHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <csignal>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr int StartDeadlineMs = 20000;
// The local user vsftpd logs in; tests/servers/start-vsftpd.sh creates it on first use and sets
// its password on every start. One account per password, so that suites running at the same time
// with different passwords never reset each other's account between start-up and log-in.
QString vsftpdAccount(const QString &password)
{
    const QByteArray digest =
        QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Sha1).toHex().left(8);
    return QStringLiteral("parcelup-t-") + QString::fromLatin1(digest);
}

// The processes below root, read from /proc. vsftpd runs each session in processes of their own
// session, so neither killing the listener nor its process group ends them.
QList<pid_t> descendantsOf(pid_t root)
{
    QMultiHash<pid_t, pid_t> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold blanks and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            children.insert(fields.at(1).toInt(), pid);
    }
    QList<pid_t> found;
    QList<pid_t> pending{root};
    while (!pending.isEmpty()) {
        const QList<pid_t> direct = children.values(pending.takeFirst());
        found += direct;
        pending += direct;
    }
    return found;
}

// A free port below the range the kernel hands out for outgoing connections and for listeners on
// port 0. Servers here may start again on the port they had (a restart fault, a renewed
// certificate, the next run of a fault case); a port from that range could meanwhile have become
// the local end of any connection on this machine, and the restart would fail with "address in
// use". 0 when none is found: the kernel then picks one as before.
quint16 portBelowEphemeralRange(const QString &address)
{
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    int ephemeralStart = 32768;
    if (range.open(QIODevice::ReadOnly))
        ephemeralStart = range.readAll().simplified().split(' ').value(0).toInt();
    const int lowest = std::max(1024, ephemeralStart / 2);
    if (ephemeralStart <= lowest)
        return 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        const auto port = quint16(QRandomGenerator::global()->bounded(lowest, ephemeralStart));
        QTcpServer probe;
        if (probe.listen(QHostAddress(address), port))
            return port;
    }
    return 0;
}

} // namespace

TestFtpServer::TestFtpServer() = default;

TestFtpServer::~TestFtpServer()
{
    stop();
}

bool TestFtpServer::vsftpdAvailable()
{
    return geteuid() == 0;
}

QString TestFtpServer::user() const
{
    return mOptions.kind == Kind::Vsftpd ? vsftpdAccount(mOptions.password) : mOptions.user;
}

QString TestFtpServer::host() const
{
    if (mOptions.bindAddress.contains(QLatin1Char(':')))
        return QStringLiteral("[%1]:%2").arg(mOptions.bindAddress).arg(mPort);
    return QStringLiteral("%1:%2").arg(mOptions.bindAddress).arg(mPort);
}

qint64 TestFtpServer::pid() const
{
    return mProcess ? mProcess->processId() : 0;
}

bool TestFtpServer::start(const Options &options, QString *error)
{
    stop();
    mOptions = options;
    if (mOptions.root.isEmpty() || !QFileInfo(mOptions.root).isDir()) {
        *error = QStringLiteral("the root folder \"%1\" does not exist").arg(mOptions.root);
        return false;
    }
    const bool choosePort = mOptions.port == 0;
    for (int attempt = 1;; ++attempt) {
        if (choosePort)
            mOptions.port = portBelowEphemeralRange(mOptions.bindAddress);
        const bool started =
            mOptions.kind == Kind::Vsftpd ? startVsftpd(error) : startPyftpdlib(error);
        if (started && waitUntilAccepting(error))
            return true;
        stop();
        // Another test's server may have taken the port between the probe and the start.
        if (!choosePort || attempt == 3)
            return false;
    }
}

bool TestFtpServer::startPyftpdlib(QString *error)
{
    // Faults are the misbehaving server's: the same server with a fault layer.
    const QString script = mOptions.faults.isEmpty()
                               ? QStringLiteral("/tests/servers/ftpserver.py")
                               : QStringLiteral("/tests/servers/faultyftpserver.py");
    QStringList arguments{TestSourceDirectory() + script,
                          QStringLiteral("--root"),
                          mOptions.root,
                          QStringLiteral("--user"),
                          mOptions.user,
                          QStringLiteral("--password"),
                          mOptions.password,
                          QStringLiteral("--bind"),
                          mOptions.bindAddress,
                          QStringLiteral("--port"),
                          QString::number(mOptions.port)};
    if (mOptions.throttleBytesPerSecond > 0)
        arguments << QStringLiteral("--throttle")
                  << QString::number(mOptions.throttleBytesPerSecond);
    if (mOptions.delaySeconds > 0)
        arguments << QStringLiteral("--delay") << QString::number(mOptions.delaySeconds);
    if (mOptions.activeMode == ActiveMode::Refuse)
        arguments << QStringLiteral("--active") << QStringLiteral("refuse");
    if (mOptions.activeMode == ActiveMode::Ignore)
        arguments << QStringLiteral("--active") << QStringLiteral("ignore");
    if (mOptions.refuseExtendedPassive)
        arguments << QStringLiteral("--refuse-epsv");
    if (!mOptions.passiveAddress.isEmpty())
        arguments << QStringLiteral("--pasv-address") << mOptions.passiveAddress;
    if (mOptions.ignoreCase)
        arguments << QStringLiteral("--ignore-case");
    switch (mOptions.tls) {
    case Tls::None:
        break;
    case Tls::Implicit:
        *error = QStringLiteral("pyftpdlib does not speak implicit TLS");
        return false;
    case Tls::Explicit:
    case Tls::Forced:
        arguments << QStringLiteral("--tls") << mOptions.certificate << mOptions.privateKey;
        if (mOptions.tls == Tls::Forced)
            arguments << QStringLiteral("--tls-required");
        break;
    case Tls::Refused:
        arguments << QStringLiteral("--fake-auth") << QStringLiteral("refuse");
        break;
    case Tls::HangsUp:
        arguments << QStringLiteral("--fake-auth") << QStringLiteral("hang-up");
        break;
    }
    if (!mOptions.commandLog.isEmpty())
        arguments << QStringLiteral("--command-log") << mOptions.commandLog;
    if (!mOptions.transferLog.isEmpty())
        arguments << QStringLiteral("--transfer-log") << mOptions.transferLog;
    if (mOptions.refuseRenameOntoExisting)
        arguments << QStringLiteral("--refuse-rename-onto-existing");
    if (mOptions.refusePaths)
        arguments << QStringLiteral("--refuse-paths");
    if (mOptions.refuseStoreRestart)
        arguments << QStringLiteral("--refuse-store-restart");
    if (mOptions.refuseAppend)
        arguments << QStringLiteral("--refuse-append");
    if (mOptions.maxLogins > 0)
        arguments << QStringLiteral("--max-logins") << QString::number(mOptions.maxLogins);
    for (const QString &fault : std::as_const(mOptions.faults))
        arguments << QStringLiteral("--fault") << fault;

    mProcess = StartPortReportingHelper(arguments, &mPort, error);
    return mPort != 0;
}

bool TestFtpServer::startVsftpd(QString *error)
{
    if (!vsftpdAvailable()) {
        *error = QStringLiteral("vsftpd needs to be started as root");
        return false;
    }
    if (mOptions.delaySeconds > 0 || mOptions.activeMode == ActiveMode::Ignore ||
        mOptions.refuseExtendedPassive || mOptions.tls == Tls::Refused ||
        mOptions.tls == Tls::HangsUp || mOptions.refuseRenameOntoExisting ||
        mOptions.refuseStoreRestart || mOptions.refuseAppend || mOptions.ignoreCase) {
        *error = QStringLiteral("vsftpd cannot delay replies, ignore PORT, refuse EPSV, fake "
                                "AUTH TLS, refuse renames and continued uploads or ignore case");
        return false;
    }

    // The launcher the scripts use too writes the configuration, sets up the local user, hands the
    // root folder to it, reports the port vsftpd bound and then becomes vsftpd. The configuration
    // stays in a folder of this object's, removed with it: vsftpd reads it as long as it runs.
    mConfigFolder = std::make_unique<QTemporaryDir>();
    QStringList arguments{TestSourceDirectory() + QStringLiteral("/tests/servers/start-vsftpd.sh"),
                          QStringLiteral("--root"),
                          mOptions.root,
                          QStringLiteral("--user"),
                          vsftpdAccount(mOptions.password),
                          QStringLiteral("--password"),
                          mOptions.password,
                          QStringLiteral("--bind"),
                          mOptions.bindAddress,
                          QStringLiteral("--port"),
                          QString::number(mOptions.port),
                          QStringLiteral("--work"),
                          mConfigFolder->path()};
    if (mOptions.activeMode == ActiveMode::Refuse)
        arguments << QStringLiteral("--active") << QStringLiteral("refuse");
    if (!mOptions.passiveAddress.isEmpty())
        arguments << QStringLiteral("--pasv-address") << mOptions.passiveAddress;
    if (mOptions.throttleBytesPerSecond > 0)
        arguments << QStringLiteral("--throttle")
                  << QString::number(mOptions.throttleBytesPerSecond);
    if (!mOptions.commandLog.isEmpty())
        arguments << QStringLiteral("--command-log") << mOptions.commandLog;
    if (!mOptions.transferLog.isEmpty())
        arguments << QStringLiteral("--transfer-log") << mOptions.transferLog;
    if (mOptions.tls != Tls::None)
        arguments << QStringLiteral("--tls") << mOptions.certificate << mOptions.privateKey;
    if (mOptions.tls == Tls::Forced)
        arguments << QStringLiteral("--tls-required");
    if (mOptions.tls == Tls::Implicit)
        arguments << QStringLiteral("--tls-implicit");
    if (mOptions.maxLogins > 0)
        arguments << QStringLiteral("--config")
                  << QStringLiteral("max_per_ip=%1").arg(mOptions.maxLogins);

    mProcess = StartPortReportingServer(QStringLiteral("/bin/bash"), arguments, &mPort, error);
    return mPort != 0;
}

bool TestFtpServer::waitUntilAccepting(QString *error)
{
    return WaitUntilAccepting(*mProcess, mOptions.bindAddress, mPort, error);
}

bool WaitUntilAccepting(const QProcess &process, const QString &address, quint16 port,
                        QString *error)
{
    QDeadlineTimer deadline(StartDeadlineMs);
    while (!deadline.hasExpired()) {
        if (process.state() != QProcess::Running) {
            *error =
                QStringLiteral("the server exited at once (exit code %1)").arg(process.exitCode());
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress(address), port);
        if (probe.waitForConnected(1000)) {
            probe.abort();
            return true;
        }
        // Refused at once while the server is still setting up: try again shortly.
        QThread::msleep(20);
    }
    *error =
        QStringLiteral("the server did not accept connections within %1 ms").arg(StartDeadlineMs);
    return false;
}

void StopProcessTree(qint64 processIdentifier)
{
    const auto processId = static_cast<pid_t>(processIdentifier);
    if (processId <= 0)
        return;
    // Stopped first, so it cannot start another session while its tree is collected.
    ::kill(processId, SIGSTOP);
    for (const pid_t descendant : descendantsOf(processId))
        ::kill(descendant, SIGKILL);
    ::kill(-processId, SIGKILL);
    ::kill(processId, SIGKILL);
}

void TestFtpServer::stop()
{
    if (!mProcess)
        return;
    StopProcessTree(mProcess->processId());
    mProcess->waitForFinished(10000);
    mProcess.reset();
    mConfigFolder.reset();
}

bool TestFtpServer::suspend()
{
    if (!mProcess)
        return false;
    const auto processId = static_cast<pid_t>(mProcess->processId());
    if (::kill(processId, SIGSTOP) != 0)
        return false;
    for (const pid_t descendant : descendantsOf(processId))
        ::kill(descendant, SIGSTOP);
    return true;
}

void TestFtpServer::resume()
{
    if (!mProcess)
        return;
    const auto processId = static_cast<pid_t>(mProcess->processId());
    for (const pid_t descendant : descendantsOf(processId))
        ::kill(descendant, SIGCONT);
    ::kill(processId, SIGCONT);
}

bool TestFtpServer::handOver(const QString &path) const
{
    if (mOptions.kind != Kind::Vsftpd)
        return true;
    const passwd *account = getpwnam(vsftpdAccount(mOptions.password).toLocal8Bit().constData());
    if (!account)
        return false;
    QString ignored;
    return RunToCompletion(QStringLiteral("chown"),
                           {QStringLiteral("-R"),
                            QStringLiteral("%1:%2").arg(account->pw_uid).arg(account->pw_gid),
                            path},
                           {}, &ignored);
}

namespace {

// Control connections the server still holds open: sockets on its port, seen from its side, that
// are established or that the client has closed and the server has not yet read to the end.
int openSessionsOn(quint16 port)
{
    int count = 0;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        // "  0: 0100007F:0015 0100007F:D431 01 ...": local address, remote address, state.
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray &line : lines) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() < 4 || (fields.at(3) != "01" && fields.at(3) != "08"))
                continue;
            const QByteArray local = fields.at(1);
            bool ok = false;
            if (local.mid(local.lastIndexOf(':') + 1).toUInt(&ok, 16) == port && ok)
                ++count;
        }
    }
    return count;
}

} // namespace

// The lines of a log the server writes, once it has closed every control connection, so that
// nothing a client did is still unwritten.
bool TestFtpServer::waitUntilIdle(QString *error) const
{
    QDeadlineTimer deadline(StartDeadlineMs);
    while (openSessionsOn(mPort) > 0) {
        if (deadline.hasExpired()) {
            *error = QStringLiteral("a control connection to the server stays open");
            return false;
        }
        // The client of the test may be saying goodbye in this very thread.
        QTest::qWait(20);
    }
    return true;
}

std::optional<QStringList> TestFtpServer::logLines(const QString &path, QString *error) const
{
    if (!waitUntilIdle(error))
        return std::nullopt;
    QFile log(path);
    if (!log.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read the server's log \"%1\"").arg(path);
        return std::nullopt;
    }
    QStringList lines;
    while (!log.atEnd())
        lines.append(QString::fromUtf8(log.readLine()).trimmed());
    return lines;
}

std::optional<QList<TestFtpServer::Upload>> TestFtpServer::receivedUploads(QString *error) const
{
    const auto lines = logLines(mOptions.transferLog, error);
    if (!lines)
        return std::nullopt;
    // After the 24 characters of the time: seconds, client, bytes, name, type, action,
    // direction ("i" for uploads), access, user, service, authentication, user id, completion.
    QList<Upload> uploads;
    for (const QString &line : *lines) {
        const QStringList fields = line.mid(24).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() != 13 || fields.at(6) != QLatin1String("i"))
            continue;
        uploads.append(
            Upload{fields.at(3), fields.at(2).toLongLong(), fields.at(12) == QLatin1String("c")});
    }
    return uploads;
}

std::optional<QStringList> TestFtpServer::receivedCommands(QString *error) const
{
    const auto lines = logLines(mOptions.commandLog, error);
    if (!lines)
        return std::nullopt;
    // vsftpd: '... [pid 7] FTP command: Client "127.0.0.1", "USER parcelup-t-1a2b3c4d"'.
    static const QRegularExpression vsftpdCommand(
        QStringLiteral("FTP command: Client \"[^\"]*\", \"(.*)\"$"));
    QStringList commands;
    for (const QString &line : *lines) {
        if (mOptions.kind == Kind::Vsftpd) {
            const QRegularExpressionMatch match = vsftpdCommand.match(line);
            if (match.hasMatch())
                commands.append(match.captured(1));
        } else if (!line.isEmpty() && !line.startsWith(QLatin1Char('#'))) {
            commands.append(line);
        }
    }
    return commands;
}

bool TestFtpServer::createSelfSignedCertificate(const QString &folder, const QString &commonName,
                                                Options *options, QString *error)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (program.isEmpty()) {
        *error = QStringLiteral("openssl is not installed (Debian package openssl)");
        return false;
    }
    options->certificate = folder + QStringLiteral("/cert.pem");
    options->privateKey = folder + QStringLiteral("/key.pem");
    return RunToCompletion(
        program,
        {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
         QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
         QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
         QStringLiteral("/CN=") + commonName, QStringLiteral("-keyout"), options->privateKey,
         QStringLiteral("-out"), options->certificate},
        {}, error);
}

QList<TestFtpServer::Kind> TestFtpServer::kinds()
{
    QList<Kind> result{Kind::Pyftpdlib};
    if (vsftpdAvailable())
        result.append(Kind::Vsftpd);
    return result;
}

QString TestFtpServer::kindName(Kind kind)
{
    return kind == Kind::Vsftpd ? QStringLiteral("vsftpd") : QStringLiteral("pyftpdlib");
}

void TestFtpServer::addKindRows()
{
    QTest::addColumn<int>("kind");
    for (const Kind kind : kinds())
        QTest::newRow(qPrintable(kindName(kind))) << static_cast<int>(kind);
}
