#include "testftpserver.h"

#include "testprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMultiHash>
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
// The local user vsftpd logs in; created on first use.
const char *const VsftpdUser = "parcelup-test";

bool ensureVsftpdUser(const QString &password, QString *error)
{
    // A shell from /etc/shells, or PAM's pam_shells refuses the log-in; a home folder that
    // exists, because vsftpd changes into it before it goes on to local_root.
    const passwd *account = getpwnam(VsftpdUser);
    if (!account) {
        if (!RunToCompletion(QStringLiteral("useradd"),
                             {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                              QStringLiteral("--home-dir"), QStringLiteral("/"),
                              QStringLiteral("--shell"), QStringLiteral("/bin/sh"),
                              QString::fromLatin1(VsftpdUser)},
                             {}, error))
            return false;
    } else if (!QFileInfo(QString::fromLocal8Bit(account->pw_dir)).isDir()) {
        if (!RunToCompletion(
                QStringLiteral("usermod"),
                {QStringLiteral("--home"), QStringLiteral("/"), QString::fromLatin1(VsftpdUser)},
                {}, error))
            return false;
    }
    return RunToCompletion(QStringLiteral("chpasswd"), {},
                           QByteArray(VsftpdUser) + ':' + password.toUtf8() + '\n', error);
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
    return mOptions.kind == Kind::Vsftpd ? QString::fromLatin1(VsftpdUser) : mOptions.user;
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
    const bool started = mOptions.kind == Kind::Vsftpd ? startVsftpd(error) : startPyftpdlib(error);
    if (!started || !waitUntilAccepting(error)) {
        stop();
        return false;
    }
    return true;
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
    const QString program = QStandardPaths::findExecutable(
        QStringLiteral("vsftpd"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (program.isEmpty()) {
        *error = QStringLiteral("vsftpd is not installed (Debian package vsftpd)");
        return false;
    }
    if (mOptions.delaySeconds > 0 || mOptions.activeMode == ActiveMode::Ignore ||
        mOptions.refuseExtendedPassive || mOptions.tls == Tls::Refused ||
        mOptions.tls == Tls::HangsUp) {
        *error = QStringLiteral("vsftpd cannot delay replies, ignore PORT, refuse EPSV or fake "
                                "AUTH TLS");
        return false;
    }
    if (!ensureVsftpdUser(mOptions.password, error))
        return false;
    if (!handOver(mOptions.root)) {
        *error = QStringLiteral("cannot hand \"%1\" to %2").arg(mOptions.root, user());
        return false;
    }

    mConfigFolder = std::make_unique<QTemporaryDir>();
    const QString emptyFolder = mConfigFolder->filePath(QStringLiteral("empty"));
    QDir().mkpath(emptyFolder);
    const bool ipv6 = mOptions.bindAddress.contains(QLatin1Char(':'));
    mPort = mOptions.port != 0 ? mOptions.port : FreePort(QHostAddress(mOptions.bindAddress));
    if (mPort == 0) {
        *error = QStringLiteral("no free port");
        return false;
    }

    QStringList lines{
        QStringLiteral("listen_port=%1").arg(mPort),
        QStringLiteral("background=NO"),
        QStringLiteral("seccomp_sandbox=NO"),
        // Containers often refuse new namespaces; the tests need no extra isolation.
        QStringLiteral("isolate=NO"),
        QStringLiteral("isolate_network=NO"),
        QStringLiteral("anonymous_enable=NO"),
        QStringLiteral("local_enable=YES"),
        QStringLiteral("write_enable=YES"),
        QStringLiteral("local_umask=022"),
        QStringLiteral("pam_service_name=vsftpd"),
        QStringLiteral("userlist_enable=NO"),
        QStringLiteral("chroot_local_user=YES"),
        QStringLiteral("allow_writeable_chroot=YES"),
        QStringLiteral("local_root=") + mOptions.root,
        QStringLiteral("secure_chroot_dir=") + emptyFolder,
        QStringLiteral("pasv_enable=YES"),
        QStringLiteral("port_enable=") +
            QLatin1String(mOptions.activeMode == ActiveMode::Refuse ? "NO" : "YES"),
        QStringLiteral("connect_from_port_20=NO"),
        QStringLiteral("syslog_enable=NO"),
        QStringLiteral("dirmessage_enable=NO"),
        QStringLiteral("delay_failed_login=0"),
        QStringLiteral("delay_successful_login=0"),
        QStringLiteral("ftpd_banner=Parcelup test server ready."),
    };
    if (ipv6) {
        lines << QStringLiteral("listen=NO") << QStringLiteral("listen_ipv6=YES")
              << QStringLiteral("listen_address6=") + mOptions.bindAddress;
    } else {
        lines << QStringLiteral("listen=YES") << QStringLiteral("listen_ipv6=NO")
              << QStringLiteral("listen_address=") + mOptions.bindAddress
              << QStringLiteral("pasv_address=") + (mOptions.passiveAddress.isEmpty()
                                                        ? mOptions.bindAddress
                                                        : mOptions.passiveAddress);
    }
    if (mOptions.throttleBytesPerSecond > 0)
        lines << QStringLiteral("local_max_rate=%1").arg(mOptions.throttleBytesPerSecond);
    // vsftpd's own log in its own format, with the protocol: 'FTP command: Client "...", "USER x"'.
    if (mOptions.commandLog.isEmpty())
        lines << QStringLiteral("xferlog_enable=NO");
    else
        lines << QStringLiteral("xferlog_enable=YES") << QStringLiteral("xferlog_std_format=NO")
              << QStringLiteral("log_ftp_protocol=YES")
              << QStringLiteral("vsftpd_log_file=") + mOptions.commandLog;
    if (mOptions.tls != Tls::None) {
        const bool forced = mOptions.tls != Tls::Explicit;
        const QString yesOrNo = forced ? QStringLiteral("YES") : QStringLiteral("NO");
        lines << QStringLiteral("ssl_enable=YES")
              << QStringLiteral("rsa_cert_file=") + mOptions.certificate
              << QStringLiteral("rsa_private_key_file=") + mOptions.privateKey
              << QStringLiteral("implicit_ssl=") +
                     QLatin1String(mOptions.tls == Tls::Implicit ? "YES" : "NO")
              << QStringLiteral("force_local_logins_ssl=") + yesOrNo
              << QStringLiteral("force_local_data_ssl=") + yesOrNo
              // Data connections must resume the control connection's session, and uploads
              // must end with a TLS close: a client that only closes TCP fails here. (Downloads
              // cannot be held to the same: Qt answers no close_notify with its own.)
              << QStringLiteral("require_ssl_reuse=YES")
              << QStringLiteral("strict_ssl_read_eof=YES")
              << QStringLiteral("ssl_request_cert=NO")
              // The built-in default names a cipher that current OpenSSL no longer offers.
              << QStringLiteral("ssl_ciphers=HIGH");
    }

    const QString configPath = mConfigFolder->filePath(QStringLiteral("vsftpd.conf"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly) ||
        config.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0) {
        *error = QStringLiteral("cannot write ") + configPath;
        return false;
    }
    config.close();

    mProcess = std::make_unique<QProcess>();
    mProcess->setChildProcessModifier([] { ::setpgid(0, 0); });
    mProcess->setProcessChannelMode(QProcess::ForwardedChannels);
    mProcess->start(program, {configPath});
    if (!mProcess->waitForStarted(StartDeadlineMs)) {
        *error = QStringLiteral("vsftpd did not start: ") + mProcess->errorString();
        return false;
    }
    return true;
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
    const passwd *account = getpwnam(VsftpdUser);
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

std::optional<QStringList> TestFtpServer::receivedCommands(QString *error) const
{
    QDeadlineTimer deadline(StartDeadlineMs);
    while (openSessionsOn(mPort) > 0) {
        if (deadline.hasExpired()) {
            *error = QStringLiteral("a control connection to the server stays open");
            return std::nullopt;
        }
        // The client of the test may be saying goodbye in this very thread.
        QTest::qWait(20);
    }
    QFile log(mOptions.commandLog);
    if (!log.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read the command log \"%1\"").arg(mOptions.commandLog);
        return std::nullopt;
    }
    // vsftpd: '... [pid 7] FTP command: Client "127.0.0.1", "USER parcelup-test"'.
    static const QRegularExpression vsftpdCommand(
        QStringLiteral("FTP command: Client \"[^\"]*\", \"(.*)\"$"));
    QStringList commands;
    while (!log.atEnd()) {
        const QString line = QString::fromUtf8(log.readLine()).trimmed();
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
