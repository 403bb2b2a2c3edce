#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// Values carried in the text of single-line replies.

// 257 (PWD, MKD): the path between the first pair of double quotes, where "" stands for one
// quote (RFC 959, appendix II). Servers that leave the quotes out send the path as the first word.
[[nodiscard]] std::optional<QString> ParseDirectoryReply(const QString &text);

// 229 (EPSV, RFC 2428): "(|||port|)", with any printable character as the delimiter.
[[nodiscard]] std::optional<quint16> ParseExtendedPassivePort(const QString &text);

// 227 (PASV): "h1,h2,h3,h4,p1,p2", with or without parentheses. Only the port is returned: the
// address a server puts there is often a private or wrong one, and trusting it would let a server
// point our data connection at a third host. The data connection always goes to the control
// connection's peer.
[[nodiscard]] std::optional<quint16> ParsePassivePort(const QString &text);

// 213 (SIZE, RFC 3659): the size in bytes, nothing but digits.
[[nodiscard]] std::optional<qint64> ParseSizeReply(const QString &text);
