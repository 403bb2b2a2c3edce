#include "ftpportargument.h"

namespace {

// An IPv4 address that arrives IPv4-mapped (::ffff:a.b.c.d) on a dual-stack socket.
std::optional<quint32> ipv4Of(const QHostAddress &address)
{
    bool isIpv4 = false;
    const quint32 value = address.toIPv4Address(&isIpv4);
    if (!isIpv4)
        return std::nullopt;
    return value;
}

} // namespace

QString ExtendedPortArgument(const QHostAddress &address, quint16 port)
{
    if (const auto ipv4 = ipv4Of(address)) {
        return QStringLiteral("|1|%1|%2|")
            .arg(QHostAddress(*ipv4).toString(), QString::number(port));
    }
    // The scope of a link-local address means nothing to the server.
    QHostAddress plain(address);
    plain.setScopeId(QString());
    return QStringLiteral("|2|%1|%2|").arg(plain.toString(), QString::number(port));
}

std::optional<QString> PortArgument(const QHostAddress &address, quint16 port)
{
    const auto ipv4 = ipv4Of(address);
    if (!ipv4)
        return std::nullopt;
    const quint32 a = *ipv4;
    return QStringLiteral("%1,%2,%3,%4,%5,%6")
        .arg(a >> 24)
        .arg((a >> 16) & 0xff)
        .arg((a >> 8) & 0xff)
        .arg(a & 0xff)
        .arg(port >> 8)
        .arg(port & 0xff);
}
