#pragma once

#include "ftpcertificatecheck.h"
#include "ftpreply.h"
#include "ftpreplyparser.h"
#include "ftpserveraddress.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QObject>
#include <QSslConfiguration>
#include <QTimer>
#include <memory>
#include <optional>

class QSslSocket;
class QTcpSocket;

// What a data connection needs to know to reach the server the way the control connection does.
struct FtpDataRoute
{
    // Passive connections go to this address, the control connection's peer, whatever a PASV
    // reply named ...
    QHostAddress address;
    // ... or, through a SOCKS5 or HTTP proxy, to the server's name through the same proxy.
    QString host;
    QNetworkProxy proxy{QNetworkProxy::NoProxy};
    // PROT P is in force: every data connection is TLS too, resuming the control connection's
    // session and presenting the same certificate.
    bool tls = false;
    // Only with TLS: even an empty configuration loads the TLS library.
    std::optional<QSslConfiguration> tlsConfiguration;
    QString peerVerifyName;
    QByteArray controlFingerprint;

    [[nodiscard]] bool isProxied() const { return proxy.type() != QNetworkProxy::NoProxy; }
};

// TLS settings shared by the control and the data connections.
[[nodiscard]] QSslConfiguration FtpTlsConfiguration();

// The control connection: one socket that carries commands out and replies in. It knows the
// dialogue's framing (lines, multi-line replies, UTF-8), not what the commands mean; the
// operations above it decide that.
//
// Every line sent and every reply line received is reported through dialogue(), so the owner can
// keep a transcript. A command carrying a secret is reported as "<verb> [protected]".
//
// TLS (RFC 4217): "AUTH TLS" switches the running connection to TLS (startTls()); "ftps://" hosts
// speak TLS from the first byte. The server's certificate is judged by FtpCertificateCheck.
class FtpControlConnection : public QObject
{
    Q_OBJECT

public:
    // What this server refused on this connection, so a transfer does not ask again each time.
    struct DataModeMemory
    {
        bool extendedPassiveRefused = false; // EPSV refused: use PASV
        bool extendedActiveRefused = false;  // EPRT refused: use PORT
        bool activeUnusable = false;         // active mode failed: passive for the rest
        bool restartRefused = false;         // REST refused: continue uploads with APPE
    };

    explicit FtpControlConnection(QObject *parent = nullptr);
    ~FtpControlConnection() override;

    // Resolves and connects, through the proxy when one is given (SOCKS5 or HTTP CONNECT); emits
    // opened() or failed(). With implicit TLS opened() comes after the handshake. The greeting
    // arrives as the first reply. Certificates that do not verify are judged as trust allows.
    void open(const FtpServerAddress &address, const QNetworkProxy &proxy,
              const FtpCertificateCheck::Trust &trust);
    [[nodiscard]] bool isOpen() const;
    // The keys under which the state files know the other end (FtpHostKeys): its host as given
    // to open() and, once connected without a SOCKS5 or HTTP proxy in between, the address it was
    // reached at. Kept after the connection ended.
    [[nodiscard]] QStringList endpointHosts() const;

    // After the server agreed to AUTH TLS: the handshake on the running connection. Emits
    // secured() or failed() with FtpResult::TlsFailure.
    void startTls();
    [[nodiscard]] bool isEncrypted() const;
    // PROT P was accepted: data connections are encrypted from now on.
    void setDataProtected(bool isProtected) { mDataProtected = isProtected; }
    // "TLSv1.3, cipher ..., certificate SHA-256 ... (how it was trusted)", or empty without TLS.
    [[nodiscard]] QString securityDescription() const;
    // How the server's certificate was judged in the last handshake, if there was one.
    [[nodiscard]] const std::optional<FtpCertificateCheck::Decision> &certificateDecision() const
    {
        return mCertificate;
    }
    [[nodiscard]] FtpDataRoute dataRoute() const;

    void send(const QString &command);
    void sendSecret(const QString &verb, const QString &secret);

    // The current folder as the server last named it in a 257 reply to PWD, while no command
    // that can change it has been sent since: every command not known to leave the current folder
    // alone forgets it (CWD, CDUP, RMD, ABOR, a new log-in, anything unknown), and so do the
    // owner's forgetDirectory() and the end of the connection. Lets a repeated PWD be answered
    // without a round trip.
    struct KnownDirectory
    {
        QString directory;
        QString replyText; // the 257 reply that named it
    };
    void rememberDirectory(const QString &directory, const QString &replyText);
    void forgetDirectory() { mKnownDirectory.reset(); }
    [[nodiscard]] const std::optional<KnownDirectory> &knownDirectory() const
    {
        return mKnownDirectory;
    }

    // After a transfer was given up while the server may still answer for it: sends ABOR and a
    // marker command, swallows every reply up to the marker's and then emits synchronised(). The
    // server may answer an aborted transfer with one reply or two, or not at all, so counting
    // replies cannot tell where the old dialogue ends; the marker's reply can.
    void synchronise();
    [[nodiscard]] bool isSynchronising() const { return mSynchronising; }
    // The first final reply that the last synchronise() swallowed: the answer to the command that
    // was still outstanding when it began, if one was.
    [[nodiscard]] const std::optional<FtpReply> &firstSwallowedReply() const
    {
        return mFirstSwallowed;
    }

    // Says goodbye (QUIT) and closes once the server answered or closed, or after a short grace.
    // Emits closed() at the end.
    void quit();
    // Drops the connection at once. Emits nothing.
    void close();

    // The server's answer to FEAT, once it was asked on this connection (at log-in or later).
    void rememberFeatures(const FtpReply &reply) { mFeaturesReply = reply; }
    [[nodiscard]] const std::optional<FtpReply> &featuresReply() const { return mFeaturesReply; }

    // The verb of the command sent last ("RNTO"). The dialogue is one command at a time, so a
    // final reply answers it; a request of several commands tells by it which one was refused.
    [[nodiscard]] const QString &lastVerb() const { return mLastVerb; }

    [[nodiscard]] QHostAddress localAddress() const;
    [[nodiscard]] QHostAddress peerAddress() const;
    [[nodiscard]] DataModeMemory &dataModes() { return mDataModes; }

signals:
    void opened();
    // Every complete reply, preliminary ones included, except those swallowed by synchronise().
    void replyReceived(const FtpReply &reply);
    // One line of the dialogue, without line end.
    void dialogue(const QString &line);
    // The server sent a line: a sign of life, whatever it says and whoever waits for it.
    void lineReceived();
    // The connection broke or could not be made; an FtpResult code. Emitted once; the connection
    // is closed afterwards.
    void failed(int result, const QString &description);
    void synchronised();
    void closed();
    // The TLS handshake that startTls() began has succeeded.
    void secured();

private:
    // The one place that decides what kind of socket carries the dialogue: a plain one or one
    // that can speak TLS, through the proxy if there is one.
    [[nodiscard]] std::unique_ptr<QTcpSocket> createSocket(bool tlsCapable) const;
    void watchSocket();
    // The socket as a TLS socket, or null while the connection is plain.
    [[nodiscard]] QSslSocket *secureSocket() const;
    // The plain connection continues in a TLS socket (see open()). False when that failed; the
    // connection has then failed too.
    [[nodiscard]] bool moveToTlsSocket();
    void judgeCertificate(const QList<QSslError> &errors);
    void handshakeDone();

    void readLines();
    void handleReply(const FtpReply &reply);
    void fail(int result, const QString &description);
    void writeLine(const QString &line, const QString &shownAs);
    void finishQuit();

    std::unique_ptr<QTcpSocket> mSocket;
    FtpServerAddress mAddress;
    QNetworkProxy mProxy{QNetworkProxy::NoProxy};
    FtpCertificateCheck::Trust mTrust;
    QString mReachedAddress;
    std::optional<FtpCertificateCheck::Decision> mCertificate;
    bool mDataProtected = false;
    bool mUpgrading = false;
    bool mTcpConnected = false;
    FtpReplyParser mParser;
    QByteArray mLineBuffer;
    DataModeMemory mDataModes;
    std::optional<KnownDirectory> mKnownDirectory;
    // The secret just sent with sendSecret, until its reply is complete: a server that repeats
    // the command in its answer ("530 PASS geheim refused") must not put it into the transcript.
    QString mSecretAwaitingReply;
    std::optional<FtpReply> mFeaturesReply;
    QString mLastVerb;
    QTimer mQuitGrace;
    bool mFailed = false;
    bool mSynchronising = false;
    std::optional<FtpReply> mFirstSwallowed;
    bool mQuitting = false;
};
