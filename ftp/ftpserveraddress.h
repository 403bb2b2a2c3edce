#pragma once

#include <QString>
#include <optional>

// Where Connect goes, taken from the Host property.
struct FtpServerAddress
{
    // How the control connection is secured. Without a scheme the server decides: TLS whenever it
    // offers it, so that publishing is safe without a new setting, and plain FTP only for servers
    // that know nothing else or refuse AUTH TLS (and never for one that spoke TLS before). A scheme
    // is the user's explicit choice.
    enum class Security {
        Automatic,   // "host": AUTH TLS when FEAT lists it
        ExplicitTls, // "ftpes://host": AUTH TLS after the greeting, required
        ImplicitTls, // "ftps://host": TLS from the first byte, port 990 by default
        Plain,       // "ftp://host": plain FTP, no AUTH TLS, for a server whose TLS is broken
    };

    QString host; // a name or a literal address, IPv6 without brackets
    quint16 port = 21;
    Security security = Security::Automatic;

    bool operator==(const FtpServerAddress &) const = default;
};

// Accepts "host", "host:2121", "[2001:db8::1]:2121", "[::1]", a bare IPv6 address "::1" (port 21),
// each optionally behind "ftp://", "ftpes://" or "ftps://" and followed by one "/". Surrounding
// blanks are ignored. Returns nothing for anything else (a path, a user name, a bad port).
[[nodiscard]] std::optional<FtpServerAddress> ParseFtpServerAddress(const QString &text);
