#include "ftphostkey.h"

#include <QHostAddress>
#include <QUrl>
#include <arpa/inet.h>

namespace {

QString withoutDecoration(QString host)
{
    host = host.trimmed();
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    while (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    return host;
}

// The resolver takes every form inet_aton() takes as an IPv4 address, so the key does too.
std::optional<QString> ipv4Key(const QString &host)
{
    in_addr address{};
    const QByteArray text = host.toLatin1();
    if (host.contains(QLatin1Char(' ')) || ::inet_aton(text.constData(), &address) == 0)
        return std::nullopt;
    return QHostAddress(ntohl(address.s_addr)).toString();
}

std::optional<QString> ipv6Key(const QString &host)
{
    if (!host.contains(QLatin1Char(':')))
        return std::nullopt;
    QHostAddress address;
    if (!address.setAddress(host) || address.protocol() != QAbstractSocket::IPv6Protocol)
        return std::nullopt;
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    if (mapped)
        return QHostAddress(ipv4).toString();
    address.setScopeId(QString());
    return address.toString().toLower();
}

} // namespace

QString FtpHostKey(const QString &host)
{
    const QString bare = withoutDecoration(host);
    if (const auto key = ipv6Key(bare))
        return *key;
    if (const auto key = ipv4Key(bare))
        return *key;
    const QString ascii = QString::fromLatin1(QUrl::toAce(bare));
    return (ascii.isEmpty() ? bare : ascii).toLower();
}

QStringList FtpHostKeys(const QString &host, const QString &reachedAddress)
{
    QStringList keys{FtpHostKey(host)};
    if (!reachedAddress.isEmpty() && !keys.contains(FtpHostKey(reachedAddress)))
        keys.append(FtpHostKey(reachedAddress));
    return keys;
}
