#include "ftpserveraddress.h"

#include <QHostAddress>

namespace {

std::optional<quint16> parsePort(const QString &digits)
{
    if (digits.isEmpty() || digits.size() > 5)
        return std::nullopt;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const int port = digits.toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

// A host name may hold letters of any script (the resolver turns them into their ASCII form), but
// nothing that would make it a URL with more parts or a second line.
bool isPlausibleHostName(const QString &host)
{
    if (host.isEmpty())
        return false;
    for (const QChar c : host) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return false;
        if (QStringLiteral("/\\?#@[]:%\"'").contains(c))
            return false;
    }
    return true;
}

bool isIpv6Literal(const QString &text)
{
    QHostAddress address;
    return address.setAddress(text) && address.protocol() == QAbstractSocket::IPv6Protocol;
}

} // namespace

std::optional<FtpServerAddress> ParseFtpServerAddress(const QString &text)
{
    QString rest = text.trimmed();
    FtpServerAddress address;

    const struct
    {
        QLatin1StringView prefix;
        FtpServerAddress::Security security;
        quint16 defaultPort;
    } schemes[] = {
        {QLatin1StringView("ftp://"), FtpServerAddress::Security::Plain, 21},
        {QLatin1StringView("ftpes://"), FtpServerAddress::Security::ExplicitTls, 21},
        {QLatin1StringView("ftps://"), FtpServerAddress::Security::ImplicitTls, 990},
    };
    for (const auto &scheme : schemes) {
        if (rest.startsWith(scheme.prefix, Qt::CaseInsensitive)) {
            rest.remove(0, scheme.prefix.size());
            address.security = scheme.security;
            address.port = scheme.defaultPort;
            break;
        }
    }
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);

    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        const QString literal = rest.mid(1, close - 1);
        if (!isIpv6Literal(literal))
            return std::nullopt;
        address.host = literal;
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                return std::nullopt;
            const auto port = parsePort(after.mid(1));
            if (!port)
                return std::nullopt;
            address.port = *port;
        }
        return address;
    }

    const qsizetype colons = rest.count(QLatin1Char(':'));
    if (colons > 1) {
        // Without brackets a colon cannot separate a port from an IPv6 address, so the whole text
        // is the address.
        if (!isIpv6Literal(rest))
            return std::nullopt;
        address.host = rest;
        return address;
    }
    if (colons == 1) {
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        const auto port = parsePort(rest.mid(colon + 1));
        if (!port)
            return std::nullopt;
        address.port = *port;
        rest.truncate(colon);
    }
    if (!isPlausibleHostName(rest))
        return std::nullopt;
    address.host = rest;
    return address;
}
