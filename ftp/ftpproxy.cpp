#include "ftpproxy.h"

QNetworkProxy FtpProxy::networkProxy() const
{
    switch (kind) {
    case Kind::Socks5:
        return QNetworkProxy(QNetworkProxy::Socks5Proxy, host, port, userName, password);
    case Kind::HttpConnect: {
        // Qt's HttpProxy tunnels TCP connections with CONNECT; the caching kind would not.
        QNetworkProxy proxy(QNetworkProxy::HttpProxy, host, port, userName, password);
        proxy.setCapabilities(QNetworkProxy::TunnelingCapability |
                              QNetworkProxy::HostNameLookupCapability);
        return proxy;
    }
    default:
        return QNetworkProxy(QNetworkProxy::NoProxy);
    }
}

QString FtpProxy::description() const
{
    QString kindName;
    switch (kind) {
    case Kind::None:
        return QStringLiteral("direct connection, no proxy");
    case Kind::Socks5:
        kindName = QStringLiteral("SOCKS5 proxy");
        break;
    case Kind::HttpConnect:
        kindName = QStringLiteral("HTTP CONNECT proxy");
        break;
    case Kind::FtpUserAtHost:
        kindName = QStringLiteral("FTP proxy (USER user@host)");
        break;
    case Kind::FtpSite:
        kindName = QStringLiteral("FTP proxy (SITE host)");
        break;
    case Kind::FtpOpen:
        kindName = QStringLiteral("FTP proxy (OPEN host)");
        break;
    }
    const QString where = host.contains(QLatin1Char(':'))
                              ? QStringLiteral("[%1]:%2").arg(host, QString::number(port))
                              : QStringLiteral("%1:%2").arg(host, QString::number(port));
    QString text = kindName + QLatin1Char(' ') + where;
    if (!userName.isEmpty())
        text += QStringLiteral(" as ") + userName;
    return text;
}

quint16 FtpProxy::usualPort(Kind kind)
{
    switch (kind) {
    case Kind::Socks5:
        return 1080;
    case Kind::HttpConnect:
        return 8080;
    case Kind::None:
    case Kind::FtpUserAtHost:
    case Kind::FtpSite:
    case Kind::FtpOpen:
        break;
    }
    return 21;
}

std::optional<FtpProxy> MakeFtpProxy(qint32 type, const QString &host, quint16 port,
                                     const QString &userName, const QString &password,
                                     QString *error)
{
    FtpProxy proxy;
    if (type < 0 || type > 5) {
        *error = QStringLiteral("Firewall type %1 is unknown (0 to 5).").arg(type);
        return std::nullopt;
    }
    proxy.kind = static_cast<FtpProxy::Kind>(type);
    if (proxy.kind == FtpProxy::Kind::None)
        return proxy;

    // The host alone, an IPv6 literal with or without brackets; a port belongs in FirewallPort.
    QString name = host.trimmed();
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    const auto parsed = ParseFtpServerAddress(
        name.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(name) : name);
    if (name.isEmpty() || !parsed) {
        *error = name.isEmpty() ? QStringLiteral("A firewall type is set, but no firewall host.")
                                : QStringLiteral("\"%1\" is not a firewall host name.").arg(host);
        return std::nullopt;
    }
    proxy.host = parsed->host;
    proxy.port = port != 0 ? port : FtpProxy::usualPort(proxy.kind);
    proxy.userName = userName;
    proxy.password = password;
    return proxy;
}

QString FtpProxyTarget(const FtpServerAddress &server)
{
    QString host = server.host;
    if (host.contains(QLatin1Char(':')))
        host = QStringLiteral("[%1]").arg(host);
    if (server.port != 21)
        host += QLatin1Char(':') + QString::number(server.port);
    return host;
}
