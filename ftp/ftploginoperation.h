#pragma once

#include "ftpoperation.h"
#include "ftpproxy.h"
#include "ftpserveraddress.h"

// Everything Connect needs to know, as the properties were when it was called.
struct FtpLoginSettings
{
    FtpServerAddress server;
    FtpProxy proxy;
    QString userName;
    QString password;
    QString certificateStorePath;
};

// Connect: opens the control connection, reads the greeting, secures the connection, logs in and
// switches to binary transfers (TYPE I) once, so every later transfer copies bytes unchanged.
//
// The steps, each taken only where it applies:
//   FEAT                      a bare host: is "AUTH TLS" offered? Then TLS is used, and a failure
//                             from here on ends the connection; it never falls back to clear text.
//   AUTH TLS, handshake       RFC 4217; "ftps://" hosts have spoken TLS from the first byte.
//   USER/PASS at the proxy    an FTP proxy with a user name of its own;
//   SITE host / OPEN host     an FTP proxy of that kind, told where to continue;
//   USER, PASS                the server's log-in ("USER user@host" through the USER-kind proxy);
//   PBSZ 0, PROT P            with TLS: data connections are encrypted too;
//   TYPE I.
class FtpLoginOperation : public FtpOperation
{
    Q_OBJECT

public:
    FtpLoginOperation(FtpControlConnection &connection, const FtpTimeouts &timeouts,
                      FtpLoginSettings settings);

    void abort() override;

signals:
    // After a successful log-in: the protocol, TLS version, cipher, certificate and route in use.
    void established(const QString &summary);

protected:
    void begin() override;
    void handleReply(const FtpReply &reply) override;
    void handleConnectionFailure(int result, const QString &description) override;

private:
    enum class Step {
        Connecting,
        Greeting,
        Features,
        AuthTls,
        Handshake,
        ProxyUser,
        ProxyPassword,
        ProxyTarget,
        User,
        Password,
        ProtectionBufferSize,
        Protection,
        Type,
    };

    // Where the control connection goes: the server, or an FTP proxy.
    [[nodiscard]] FtpServerAddress endpoint() const;
    void greeted();
    void sendAuthTls();
    void startLogIn();
    void proxyLoggedIn();
    void sendUser(const QString &name);
    void loggedIn();
    void sendType();
    void succeed(const FtpReply &reply);
    void failProxy(const FtpReply &reply);
    void failTls(const QString &why);

    FtpLoginSettings mSettings;
    Step mStep = Step::Connecting;
    bool mTlsOffered = false;
};
