#include "testproxy.h"

#include "testftpserver.h"
#include "testprocess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <pwd.h>
#include <unistd.h>

namespace {

constexpr int StartDeadlineMs = 20000;

QString findDaemon(const QString &name)
{
    return QStandardPaths::findExecutable(
        name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin")});
}

// danted's "username" method checks the system's accounts.
bool ensureSystemUser(const QString &name, const QString &password, QString *error)
{
    if (!getpwnam(name.toLocal8Bit().constData()) &&
        !RunToCompletion(QStringLiteral("useradd"),
                         {QStringLiteral("--system"), QStringLiteral("--no-create-home"),
                          QStringLiteral("--shell"), QStringLiteral("/usr/sbin/nologin"), name},
                         {}, error))
        return false;
    return RunToCompletion(QStringLiteral("chpasswd"), {},
                           (name + QLatin1Char(':') + password).toUtf8() + '\n', error);
}

} // namespace

TestProxy::~TestProxy()
{
    stop();
}

bool TestProxy::daemonsAvailable()
{
    return geteuid() == 0;
}

bool TestProxy::writeConfig(const QString &name, const QStringList &lines, QString *path,
                            QString *error)
{
    *path = mFolder->filePath(name);
    QFile file(*path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0) {
        *error = QStringLiteral("cannot write ") + *path;
        return false;
    }
    return true;
}

bool TestProxy::start(Kind kind, const QString &userName, const QString &password, QString *error)
{
    stop();
    mFolder = std::make_unique<QTemporaryDir>();
    bool started = false;
    switch (kind) {
    case Kind::Socks5:
        started = startDante(userName, password, error);
        break;
    case Kind::Http:
        started = startTinyproxy(userName, password, error);
        break;
    case Kind::FtpUserAtHost:
    case Kind::FtpSite:
    case Kind::FtpOpen:
        return startRelay(kind, userName, password, error);
    case Kind::RelaySocks5:
    case Kind::RelayHttp:
        return startTunnelRelay(error);
    }
    if (!started || !WaitUntilAccepting(*mProcess, QStringLiteral("127.0.0.1"), mPort, error)) {
        stop();
        return false;
    }
    return true;
}

bool TestProxy::startDante(const QString &userName, const QString &password, QString *error)
{
    const QString program = findDaemon(QStringLiteral("danted"));
    if (program.isEmpty()) {
        *error = QStringLiteral("danted is not installed (Debian package dante-server)");
        return false;
    }
    if (!daemonsAvailable()) {
        *error = QStringLiteral("danted needs to be started as root");
        return false;
    }
    if (!userName.isEmpty() && !ensureSystemUser(userName, password, error))
        return false;
    mPort = FreePort();
    QString config;
    if (!writeConfig(
            QStringLiteral("danted.conf"),
            {QStringLiteral("logoutput: stderr"),
             QStringLiteral("internal: 127.0.0.1 port = %1").arg(mPort),
             QStringLiteral("external: 127.0.0.1"), QStringLiteral("clientmethod: none"),
             QStringLiteral("socksmethod: ") +
                 (userName.isEmpty() ? QStringLiteral("none") : QStringLiteral("username")),
             QStringLiteral("user.privileged: root"), QStringLiteral("user.unprivileged: nobody"),
             QStringLiteral("client pass {"), QStringLiteral("    from: 127.0.0.0/8 to: 0.0.0.0/0"),
             QStringLiteral("}"),
             // Only connections to this machine: the tests never leave it.
             QStringLiteral("socks pass {"),
             QStringLiteral("    from: 127.0.0.0/8 to: 127.0.0.0/8"),
             QStringLiteral("    command: connect"), QStringLiteral("}")},
            &config, error))
        return false;
    mProcess = std::make_unique<QProcess>();
    mProcess->setChildProcessModifier([] { ::setpgid(0, 0); });
    mProcess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mProcess->setStandardOutputFile(QProcess::nullDevice());
    mProcess->start(program, {QStringLiteral("-f"), config, QStringLiteral("-p"),
                              mFolder->filePath(QStringLiteral("danted.pid"))});
    if (!mProcess->waitForStarted(StartDeadlineMs)) {
        *error = QStringLiteral("danted did not start: ") + mProcess->errorString();
        return false;
    }
    return true;
}

bool TestProxy::startTinyproxy(const QString &userName, const QString &password, QString *error)
{
    const QString program = findDaemon(QStringLiteral("tinyproxy"));
    if (program.isEmpty()) {
        *error = QStringLiteral("tinyproxy is not installed (Debian package tinyproxy)");
        return false;
    }
    if (!daemonsAvailable()) {
        *error = QStringLiteral("tinyproxy is started as root by the tests");
        return false;
    }
    mPort = FreePort();
    QStringList lines{QStringLiteral("Port %1").arg(mPort), QStringLiteral("Listen 127.0.0.1"),
                      QStringLiteral("User nobody"), QStringLiteral("Group nogroup"),
                      QStringLiteral("Timeout 600"), QStringLiteral("MaxClients 50"),
                      QStringLiteral("LogLevel Error"), QStringLiteral("Allow 127.0.0.1"),
                      // Without ConnectPort lines tinyproxy lets CONNECT reach every port, which
                      // FTP needs: 21 or the test server's port, and the passive data ports.
                      QStringLiteral("DisableViaHeader Yes")};
    if (!userName.isEmpty())
        lines << QStringLiteral("BasicAuth %1 %2").arg(userName, password);
    QString config;
    if (!writeConfig(QStringLiteral("tinyproxy.conf"), lines, &config, error))
        return false;
    mProcess = std::make_unique<QProcess>();
    mProcess->setChildProcessModifier([] { ::setpgid(0, 0); });
    mProcess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mProcess->setStandardOutputFile(QProcess::nullDevice());
    mProcess->start(program, {QStringLiteral("-d"), QStringLiteral("-c"), config});
    if (!mProcess->waitForStarted(StartDeadlineMs)) {
        *error = QStringLiteral("tinyproxy did not start: ") + mProcess->errorString();
        return false;
    }
    return true;
}

bool TestProxy::startRelay(Kind kind, const QString &userName, const QString &password,
                           QString *error)
{
    const QString kindName = kind == Kind::FtpUserAtHost ? QStringLiteral("user")
                             : kind == Kind::FtpSite     ? QStringLiteral("site")
                                                         : QStringLiteral("open");
    QStringList arguments{TestSourceDirectory() + QStringLiteral("/tests/servers/ftpproxyrelay.py"),
                          QStringLiteral("--kind"), kindName, QStringLiteral("--log"),
                          mFolder->filePath(QStringLiteral("commands.log"))};
    if (!userName.isEmpty())
        arguments << QStringLiteral("--proxy-user") << userName
                  << QStringLiteral("--proxy-password") << password;
    mProcess = StartPortReportingHelper(arguments, &mPort, error);
    return mPort != 0;
}

bool TestProxy::startTunnelRelay(QString *error)
{
    // Long enough that a server reads the end of the TLS handshake on a data connection only after
    // a quick client has sent a whole test file, short enough for a quick test.
    constexpr int holdMs = 50;
    mProcess = StartPortReportingHelper(
        {TestSourceDirectory() + QStringLiteral("/tests/servers/tunnelrelay.py"),
         QStringLiteral("--log"), mFolder->filePath(QStringLiteral("tunnels.log")),
         QStringLiteral("--hold-ms"), QString::number(holdMs)},
        &mPort, error);
    return mPort != 0;
}

void TestProxy::stop()
{
    if (!mProcess)
        return;
    StopProcessTree(mProcess->processId());
    mProcess->waitForFinished(10000);
    mProcess.reset();
}

QStringList TestProxy::receivedCommands() const
{
    if (!mFolder)
        return {};
    QFile log(mFolder->filePath(QStringLiteral("commands.log")));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QList<TestProxy::TunnelEnd> TestProxy::tunnelEnds() const
{
    QList<TunnelEnd> ends;
    if (!mFolder)
        return ends;
    QFile log(mFolder->filePath(QStringLiteral("tunnels.log")));
    if (!log.open(QIODevice::ReadOnly))
        return ends;
    QList<QByteArray> lines = log.readAll().split('\n');
    lines.removeLast(); // after the last line end: nothing, or a line the relay is still writing
    for (const QByteArray &line : std::as_const(lines)) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 4)
            continue;
        ends.append({static_cast<quint16>(fields[0].toUInt()), fields[1].toLongLong(),
                     fields[2].toLongLong(), QString::fromLatin1(fields[3])});
    }
    return ends;
}
