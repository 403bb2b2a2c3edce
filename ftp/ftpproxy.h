#pragma once

#include "ftpserveraddress.h"

#include <QNetworkProxy>
#include <QString>
#include <optional>

// The way to the server when a firewall stands in between, from FtpControl's Firewall properties.
//
// SOCKS5 and HTTP CONNECT proxies carry TCP connections: the FTP dialogue and the data connections
// go through them unchanged, and TLS runs end to end with the server. An FTP proxy instead speaks
// FTP itself: the client logs in to the proxy and tells it, in one of three customary ways, which
// server to continue to; data connections then go to the proxy as well.
struct FtpProxy
{
    enum class Kind {
        None = 0,
        Socks5 = 1,
        HttpConnect = 2,
        FtpUserAtHost = 3, // USER user@host
        FtpSite = 4,       // SITE host
        FtpOpen = 5,       // OPEN host
    };

    Kind kind = Kind::None;
    QString host;
    quint16 port = 0; // 0 before resolution: the usual port of the kind
    QString userName;
    QString password;

    [[nodiscard]] bool isTunnel() const
    {
        return kind == Kind::Socks5 || kind == Kind::HttpConnect;
    }
    [[nodiscard]] bool isFtpProxy() const
    {
        return kind == Kind::FtpUserAtHost || kind == Kind::FtpSite || kind == Kind::FtpOpen;
    }

    // For a tunnel, the QNetworkProxy that every socket of the connection uses; NoProxy otherwise.
    [[nodiscard]] QNetworkProxy networkProxy() const;
    // "SOCKS5 proxy 127.0.0.1:1080 as anna", for the transcript; never the password.
    [[nodiscard]] QString description() const;

    [[nodiscard]] static quint16 usualPort(Kind kind);
};

// Checks the Firewall properties and fills in the usual port. Returns nothing and sets error for a
// type outside 0 to 5 or a missing or unusable proxy host.
[[nodiscard]] std::optional<FtpProxy> MakeFtpProxy(qint32 type, const QString &host, quint16 port,
                                                   const QString &userName, const QString &password,
                                                   QString *error);

// How an FTP proxy is told the server: "host", or "host:port" when the port is not 21; an IPv6
// literal in brackets.
[[nodiscard]] QString FtpProxyTarget(const FtpServerAddress &server);
