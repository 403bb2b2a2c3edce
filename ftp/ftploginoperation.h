#pragma once

#include "ftpcertificatecheck.h"
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
    // The certificates trusted on first use, and what else may be trusted and remembered.
    FtpCertificateCheck::Trust trust;
    // FtpTlsHostStore: the hosts that completed a TLS log-in. Written only when trust.remember.
    QString tlsHostStorePath;
};

// Connect: opens the control connection, reads the greeting, secures the connection, logs in and
// switches to binary transfers (TYPE I) once, so every later transfer copies bytes unchanged.
//
// The steps, each taken only where it applies:
//   FEAT                      a bare host: is "AUTH TLS" offered? (The answer is kept on the
//                             connection for later requests: see FtpControl::QueryFeatures.)
//   AUTH TLS, handshake       RFC 4217; "ftps://" hosts have spoken TLS from the first byte.
//                             A bare host whose server offers no TLS or refuses AUTH TLS (4xx,
//                             5xx: the server's own refusal) goes on in plain FTP, unless it
//                             completed a TLS log-in before (FtpTlsHostStore): then, as after a
//                             failed handshake, the connection ends before USER. "ftp://" hosts
//                             skip both steps: plain FTP is the user's choice.
//   USER/PASS at the proxy    an FTP proxy with a user name of its own;
//   SITE host / OPEN host     an FTP proxy of that kind, told where to continue;
//   USER, PASS                the server's log-in ("USER user@host" through the USER-kind proxy);
//   PBSZ 0, PROT P            with TLS: data connections are encrypted too;
//   TYPE I.
class FtpLoginOperation : public FtpOperation
{
    Q_OBJECT

public:
    // Public only for the step trace, which prints the names.
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
    Q_ENUM(Step)

    FtpLoginOperation(FtpControlConnection &connection, const FtpTimeouts &timeouts,
                      FtpLoginSettings settings);

    void abort() override;

signals:
    // After a successful log-in: the protocol, TLS version, cipher, certificate and route in use.
    void established(const QString &summary);
    // Before the log-in ends with FtpResult::TlsFailure or FtpResult::CertificateChanged: why.
    void refused(const FtpTlsRefusal &refusal);
    // After a successful log-in over TLS with a certificate trusted for this connection only.
    void trustedForNow(const FtpCertificateSummary &certificate);

protected:
    void begin() override;
    void handleReply(const FtpReply &reply) override;
    void handleConnectionFailure(int result, const QString &description) override;

private:
    // The one place the log-in's step changes; it writes the step trace.
    void setStep(Step next);

    // Where the control connection goes: the server, or an FTP proxy.
    [[nodiscard]] FtpServerAddress endpoint() const;
    // How the log-in came to be in plain FTP, for the summary.
    enum class PlainReason {
        NotOffered, // no AUTH TLS in FEAT
        Refused,    // AUTH TLS answered 4xx or 5xx
        Chosen,     // "ftp://"
    };

    void greeted();
    void sendAuthTls();
    // A bare host without TLS: on in plain FTP, or ended when this endpoint spoke TLS before.
    void continueInPlain(PlainReason reason, const QString &why);
    // "host port N" of the endpoint, for the transcript.
    [[nodiscard]] QString endpointName() const;
    // Empty when the endpoint never completed a TLS log-in; otherwise that it did (or may have,
    // when the list cannot be read), for the transcript.
    [[nodiscard]] QString tlsHistory() const;
    // How the user forgets the endpoint, or chooses plain FTP on purpose.
    [[nodiscard]] QString forgettingHint() const;
    [[nodiscard]] QString plainSummary() const;
    // After a log-in over TLS: the endpoint is remembered; says so when it is new.
    [[nodiscard]] QString rememberTls();
    void startLogIn();
    void proxyLoggedIn();
    void sendUser(const QString &name);
    void loggedIn();
    void sendType();
    void succeed(const FtpReply &reply);
    void failProxy(const FtpReply &reply);
    // Ends the log-in, closing the connection: once TLS was asked for, it is not used in clear
    // text.
    void failTls(FtpTlsRefusal::Reason reason, const QString &why);
    // The refusal of a connection that failed during the handshake, by what the certificate
    // check found.
    [[nodiscard]] FtpTlsRefusal::Reason handshakeRefusal() const;

    FtpLoginSettings mSettings;
    Step mStep = Step::Connecting;
    bool mTlsOffered = false;
    PlainReason mPlainReason = PlainReason::NotOffered;
    QString mAuthRefusal; // the server's reply to AUTH TLS when it refused
};
