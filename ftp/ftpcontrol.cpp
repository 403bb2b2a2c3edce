#include "ftpcontrol.h"

#include "ftperror.h"
#include "ftpresult.h"

struct FtpControl::Private
{
    QString host;
    QString userName;
    QString password;
    bool passive = false;
    qint32 firewallType = 0;
    QString firewallUserName;
    QString firewallPassword;
    QString firewallHost;
    quint16 firewallPort = 0;
    qint16 result = FtpResult::Success;
    QString currentDirectory;
};

FtpControl::FtpControl(QObject *parent) : QObject(parent), d(std::make_unique<Private>()) {}

FtpControl::~FtpControl() = default;

QString FtpControl::host() const
{
    return d->host;
}
void FtpControl::setHost(const QString &host)
{
    d->host = host;
}
QString FtpControl::userName() const
{
    return d->userName;
}
void FtpControl::setUserName(const QString &userName)
{
    d->userName = userName;
}
void FtpControl::setPassword(const QString &password)
{
    d->password = password;
}
bool FtpControl::passive() const
{
    return d->passive;
}
void FtpControl::setPassive(bool passive)
{
    d->passive = passive;
}
qint32 FtpControl::firewallType() const
{
    return d->firewallType;
}
void FtpControl::setFirewallType(qint32 type)
{
    d->firewallType = type;
}
QString FtpControl::firewallUserName() const
{
    return d->firewallUserName;
}
void FtpControl::setFirewallUserName(const QString &userName)
{
    d->firewallUserName = userName;
}
void FtpControl::setFirewallPassword(const QString &password)
{
    d->firewallPassword = password;
}
QString FtpControl::firewallHost() const
{
    return d->firewallHost;
}
void FtpControl::setFirewallHost(const QString &host)
{
    d->firewallHost = host;
}
quint16 FtpControl::firewallPort() const
{
    return d->firewallPort;
}
void FtpControl::setFirewallPort(quint16 port)
{
    d->firewallPort = port;
}

bool FtpControl::hasPassword(const QString &candidate) const
{
    return d->password == candidate;
}
bool FtpControl::hasFirewallPassword(const QString &candidate) const
{
    return d->firewallPassword == candidate;
}

qint16 FtpControl::result() const
{
    return d->result;
}
QString FtpControl::currentDirectory() const
{
    return d->currentDirectory;
}
bool FtpControl::isBusy() const
{
    return false;
}

namespace {
[[noreturn]] void notYetConnected()
{
    throw FtpError(FtpResult::NotConnected, QStringLiteral("Es besteht keine Verbindung."));
}
} // namespace

void FtpControl::Connect()
{
    notYetConnected();
}
void FtpControl::QueryCurrentDirectory()
{
    notYetConnected();
}
void FtpControl::ChangeDirectory(const QString &)
{
    notYetConnected();
}
void FtpControl::CreateDirectory(const QString &)
{
    notYetConnected();
}
void FtpControl::DeleteFile(const QString &)
{
    notYetConnected();
}
void FtpControl::RemoveDirectory(const QString &)
{
    notYetConnected();
}
void FtpControl::GetFile(const QString &, const QString &)
{
    notYetConnected();
}
void FtpControl::PutFile(const QString &, const QString &)
{
    notYetConnected();
}
void FtpControl::Disconnect() {}
void FtpControl::Abort() {}
