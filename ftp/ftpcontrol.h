#pragma once

#include "ftptimeouts.h"

#include <QObject>
#include <QString>
#include <memory>

// An event-driven FTP client for one connection at a time (RFC 959, RFC 2428, RFC 2389 FEAT,
// RFC 4217 FTP over TLS).
//
// Security comes from the Host text: "ftpes://" requires AUTH TLS, "ftps://" is implicit TLS,
// "ftp://" is plain FTP, and a bare host uses TLS whenever the server offers it, and always once
// it completed a TLS log-in (see FtpTlsHostStore). Certificates that do not verify against the
// system's authorities are trusted on first use (see FtpCertificateStore). The Firewall properties
// route the connection through a SOCKS5, HTTP CONNECT or FTP proxy (see FtpProxy).
//
// Every request is started by its call and then runs on the event loop of the thread that owns the
// object; it ends with exactly one OperationComplete, which is always delivered from the event loop
// and never from inside the starting call. Only one request may be pending; starting another one
// raises FtpError at once, and so does an argument containing CR or LF. result() and
// currentDirectory() change only when OperationComplete is emitted: while a request is pending they
// still describe the previous one.
//
// The request methods are virtual so that tests of code that drives the component can script its
// answers; the real behaviour lives entirely in this class.
class FtpControl : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString Host READ host WRITE setHost)
    Q_PROPERTY(QString UserName READ userName WRITE setUserName)
    Q_PROPERTY(bool Passive READ passive WRITE setPassive)
    Q_PROPERTY(qint32 FirewallType READ firewallType WRITE setFirewallType)
    Q_PROPERTY(QString FirewallUserName READ firewallUserName WRITE setFirewallUserName)
    Q_PROPERTY(QString FirewallHost READ firewallHost WRITE setFirewallHost)
    Q_PROPERTY(quint16 FirewallPort READ firewallPort WRITE setFirewallPort)
    Q_PROPERTY(qint16 Result READ result)
    Q_PROPERTY(QString CurrentDirectory READ currentDirectory)

public:
    // Which request an OperationComplete ends (its first argument).
    enum class Request {
        Connect = 1,
        QueryCurrentDirectory,
        ChangeDirectory,
        CreateDirectory,
        DeleteFile,
        RemoveDirectory,
        GetFile,
        PutFile,
    };
    Q_ENUM(Request)

    explicit FtpControl(QObject *parent = nullptr);
    ~FtpControl() override;

    // "host", "host:2121", "[::1]:2121", each also as "ftpes://host", "ftps://host" (TLS) or
    // "ftp://host" (plain FTP).
    [[nodiscard]] QString host() const;
    void setHost(const QString &host);
    [[nodiscard]] QString userName() const;
    void setUserName(const QString &userName);
    void setPassword(const QString &password);
    [[nodiscard]] bool passive() const;
    void setPassive(bool passive);

    // 0 none, 1 SOCKS5, 2 HTTP CONNECT, 3 USER user@host, 4 SITE host, 5 OPEN host.
    [[nodiscard]] qint32 firewallType() const;
    void setFirewallType(qint32 type);
    [[nodiscard]] QString firewallUserName() const;
    void setFirewallUserName(const QString &userName);
    void setFirewallPassword(const QString &password);
    [[nodiscard]] QString firewallHost() const;
    void setFirewallHost(const QString &host);
    // 0 means the usual port of the proxy kind.
    [[nodiscard]] quint16 firewallPort() const;
    void setFirewallPort(quint16 port);

    // The file of certificates trusted on first use; empty (the default) means
    // FtpCertificateStore::defaultPath() in the per-user state folder.
    [[nodiscard]] QString certificateStorePath() const;
    void setCertificateStorePath(const QString &path);
    // The file of hosts that completed a TLS log-in (FtpTlsHostStore); empty (the default) means
    // "tls-hosts" in the folder of certificateStorePath().
    [[nodiscard]] QString tlsHostStorePath() const;
    void setTlsHostStorePath(const QString &path);

    // Secrets are write-only for every caller that talks FTP; these two exist so that start-up
    // tests can check what reached the component. They are never logged.
    [[nodiscard]] bool hasPassword(const QString &candidate) const;
    [[nodiscard]] bool hasFirewallPassword(const QString &candidate) const;

    // Outcome of the last completed request: 0 success, see ftpresult.h for the others.
    [[nodiscard]] virtual qint16 result() const;
    // Folder reported by the last QueryCurrentDirectory; empty when that query failed.
    [[nodiscard]] virtual QString currentDirectory() const;
    [[nodiscard]] virtual bool isBusy() const;
    // True between a successful Connect and Disconnect or the loss of the connection.
    [[nodiscard]] virtual bool isConnected() const;

    [[nodiscard]] FtpTimeouts timeouts() const;
    // Takes effect from the next request on.
    void setTimeouts(const FtpTimeouts &timeouts);

    virtual void Connect();
    virtual void QueryCurrentDirectory();
    virtual void ChangeDirectory(const QString &folder);
    virtual void CreateDirectory(const QString &folder);
    virtual void DeleteFile(const QString &fileName);
    virtual void RemoveDirectory(const QString &folder);
    virtual void GetFile(const QString &remoteFileName, const QString &localPath);
    virtual void PutFile(const QString &localPath, const QString &remoteFileName);
    // Sends QUIT and closes the connection; not a request, nothing completes.
    virtual void Disconnect();
    // Ends the pending request (ABOR, data connection closed); it completes with a non-zero result.
    virtual void Abort();

signals:
    // request: which request ended (the Request enum of the implementation); result as result().
    void OperationComplete(int request, int result, const QString &replyText);
    // One line of the control dialogue, ending with CR LF. The password is never part of it.
    void DebugMessage(const QString &text);
    // A sign of life from the server, at most a few times a second: bytes moved on the data
    // connection (bytesSoFar in this transfer), or a line received on the control connection
    // (bytesSoFar -1).
    void Activity(qint64 bytesSoFar);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
