#pragma once

#include "ftpfeatures.h"
#include "ftpsentbyteswatcher.h"
#include "ftptimeouts.h"
#include "ftptlsrefusal.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

// An event-driven FTP client for one connection at a time (RFC 959, RFC 2428, RFC 2389 FEAT,
// RFC 3659 SIZE and REST, RFC 4217 FTP over TLS).
//
// Security comes from the Host text: "ftpes://" requires AUTH TLS, "ftps://" is implicit TLS,
// "ftp://" is plain FTP, and a bare host uses TLS whenever the server offers it, and always once
// it completed a TLS log-in (see FtpTlsHostStore). Certificates that do not verify against the
// system's authorities are trusted on first use (see FtpCertificateStore); when a server presents
// another one later, Connect ends with FtpResult::CertificateChanged and tlsRefusal() tells what
// the user needs to judge it, and setAcceptedCertificate() lets the next Connect take exactly the
// one they accepted. The Firewall properties route the connection through a SOCKS5, HTTP CONNECT or
// FTP proxy (see FtpProxy).
//
// Every request is started by its call and then runs on the event loop of the thread that owns the
// object; it ends with exactly one OperationComplete, which is always delivered from the event loop
// and never from inside the starting call. Only one request may be pending; starting another one
// raises FtpError at once, and so does an argument containing CR or LF. result() and the other
// outcomes (currentDirectory(), fileSize(), features(), refusedCommand()) change only when
// OperationComplete is emitted: while a request is pending they still describe the previous one.
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
        PutFile, // PutFileFrom as well
        RenameFile,
        QueryFileSize,
        QueryFeatures,
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

    // The SHA-256 fingerprint (hex, lower or upper case) of a certificate the user accepted: a
    // server presenting it at the next Connect is trusted in place of the certificate trusted
    // before, and it is stored instead (when trust is remembered). Any other certificate that
    // differs from the stored one is still refused. Empty (the default) accepts none.
    void setAcceptedCertificate(const QByteArray &fingerprint);
    // False: Connect writes nothing, neither a certificate nor a host that completed a TLS log-in;
    // what it trusts anew it trusts for that connection only. For a preview, which changes
    // nothing, a trust decision included. True by default.
    void setTrustRemembered(bool remembered);

    // Why the last Connect was refused over TLS (result FtpResult::TlsFailure or
    // FtpResult::CertificateChanged); empty after any other outcome. Changes only when
    // OperationComplete is emitted, like result().
    [[nodiscard]] virtual std::optional<FtpTlsRefusal> tlsRefusal() const;
    // After a successful Connect while trust is not remembered: the certificate trusted for this
    // connection only, because it was new or accepted. Empty otherwise.
    [[nodiscard]] virtual std::optional<FtpCertificateSummary> certificateTrustedForNow() const;

    // Secrets are write-only for every caller that talks FTP; these two exist so that start-up
    // tests can check what reached the component. They are never logged.
    [[nodiscard]] bool hasPassword(const QString &candidate) const;
    [[nodiscard]] bool hasFirewallPassword(const QString &candidate) const;

    // Outcome of the last completed request: 0 success, see ftpresult.h for the others.
    [[nodiscard]] virtual qint16 result() const;
    // Folder reported by the last QueryCurrentDirectory; empty when that query failed.
    [[nodiscard]] virtual QString currentDirectory() const;
    // What QueryCurrentDirectory would answer without sending PWD: the folder the server named
    // last, when nothing since can have changed it and no request is under way; nothing otherwise.
    // A caller that asks before every file saves itself a request and a pass of the event loop.
    [[nodiscard]] virtual std::optional<QString> knownCurrentDirectory() const;
    // Size in bytes reported by the last QueryFileSize, or -1 when it failed.
    [[nodiscard]] virtual qint64 fileSize() const;
    // What the server of this connection listed in its answer to FEAT, once that was asked (at
    // log-in or by QueryFeatures); nothing before, or without a connection.
    [[nodiscard]] virtual std::optional<FtpFeatures> features() const;
    // When the last request ended with the server's refusal (ReplyBase + code): the verb of the
    // command refused. For requests of several commands it tells which step failed: "RNFR" (the
    // server renames nothing) or "RNTO" (it does not take the new name, typically because a file
    // has it already); "REST", "STOR" or "APPE" for an upload from an offset. Empty otherwise.
    [[nodiscard]] virtual QString refusedCommand() const;
    [[nodiscard]] virtual bool isBusy() const;
    // The number of the request started last, counting from 1 on this object; the request's
    // OperationComplete carries it.
    [[nodiscard]] quint64 requestNumber() const;
    // True between a successful Connect and Disconnect or the loss of the connection.
    [[nodiscard]] virtual bool isConnected() const;

    // GetFile gives a download up, with FtpResult::DownloadTooLarge, as soon as it goes beyond
    // this many bytes, so that a huge or endless file costs neither the disk nor the time to
    // fetch it all; 0 (the default) means no limit. Takes effect from the next request on.
    [[nodiscard]] qint64 downloadLimit() const;
    void setDownloadLimit(qint64 bytes);

    [[nodiscard]] FtpTimeouts timeouts() const;
    // Takes effect from the next request on.
    void setTimeouts(const FtpTimeouts &timeouts);

    // A component for one more connection to the server this one is logged in to, to work
    // beside it: the same properties (the password too), stores and trust. It is never less safe
    // than this connection: after a log-in over TLS it requires TLS of the same kind, and the
    // certificate this server presented is the only one it takes in place of the one trusted;
    // after a plain log-in chosen by the host setting or forced by the server, it does not try TLS
    // either. Before any log-in: the same properties, decided anew.
    [[nodiscard]] virtual std::unique_ptr<FtpControl> makeFurtherConnection() const;

    virtual void Connect();
    virtual void QueryCurrentDirectory();
    virtual void ChangeDirectory(const QString &folder);
    virtual void CreateDirectory(const QString &folder);
    virtual void DeleteFile(const QString &fileName);
    virtual void RemoveDirectory(const QString &folder);
    virtual void GetFile(const QString &remoteFileName, const QString &localPath);
    // watchSent, when given, sees the file's bytes as they are sent (see FtpSentBytesWatcher).
    virtual void PutFile(const QString &localPath, const QString &remoteFileName,
                         FtpSentBytesWatcher watchSent = {});
    // Continues an upload the server holds the first offset bytes of: sends the local file from
    // byte offset on, with REST and STOR or, where the server refuses that, APPE (see
    // FtpTransferOperation). The server's file must be exactly offset bytes long (QueryFileSize
    // tells); with APPE a longer one would keep its surplus in the middle. Offset 0 is PutFile.
    // An offset below 0 or beyond the local file's end raises FtpError (InvalidArgument).
    // watchSent sees only the bytes sent, from offset on.
    virtual void PutFileFrom(const QString &localPath, const QString &remoteFileName, qint64 offset,
                             FtpSentBytesWatcher watchSent = {});
    // RNFR from, RNTO to (RFC 959). A refusal of either completes with ReplyBase + its code, and
    // refusedCommand() says which; a refused RNFR sends no RNTO. Whether a file of the new name is
    // replaced is the server's choice: most do, some refuse RNTO then.
    virtual void RenameFile(const QString &from, const QString &to);
    // SIZE (RFC 3659) of a file in the current folder: fileSize() on success. The log-in chose
    // binary transfers (TYPE I), so the size is the byte count a transfer moves. A missing file
    // is usually refused with 550, a server without SIZE answers 500 or 502.
    virtual void QueryFileSize(const QString &fileName);
    // Makes features() known: completes at once, without a round trip, when FEAT was sent at
    // log-in (a bare host asks for AUTH TLS), otherwise sends FEAT. A server that does not know
    // FEAT completes with its refusal, and features() lists nothing.
    virtual void QueryFeatures();
    // Sends QUIT and closes the connection; not a request, nothing completes.
    virtual void Disconnect();
    // Ends the pending request (ABOR, data connection closed); it completes with a non-zero result.
    virtual void Abort();

protected:
    // For a subclass that scripts requests of its own: counts a request as started and returns
    // its number, which its OperationComplete must carry.
    quint64 beginRequestNumber();

signals:
    // request: which request ended (the Request enum of the implementation); result as result().
    // requestNumber: the number requestNumber() gave the request when it was started, so that a
    // caller waiting for several requests, or on several components, knows which one ended.
    void OperationComplete(int request, int result, const QString &replyText,
                           quint64 requestNumber);
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
