#pragma once

#include <QHostAddress>
#include <QString>
#include <optional>

// Arguments that tell the server where to connect in active mode.

// EPRT (RFC 2428): "|1|192.0.2.1|port|" or "|2|2001:db8::1|port|"; works for both families.
[[nodiscard]] QString ExtendedPortArgument(const QHostAddress &address, quint16 port);

// PORT (RFC 959): "h1,h2,h3,h4,p1,p2"; IPv4 only, so nothing for an IPv6 address.
[[nodiscard]] std::optional<QString> PortArgument(const QHostAddress &address, quint16 port);
