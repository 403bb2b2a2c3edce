#include "ftpcontrolconnection.h"

#include "ftphostkey.h"
#include "ftpresult.h"

#include <QNetworkProxy>
#include <QSslCipher>
#include <QSslSocket>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Longer lines than this are not replies but a broken or hostile server.
constexpr qint64 MaximumLineLength = 64 * 1024;
// How long QUIT waits for its answer before the connection is closed anyway.
constexpr int QuitGraceMs = 3000;
// Sent after ABOR to find the end of the old dialogue: PWD always succeeds once logged in, and
// 257 is not among the answers to a transfer, to ABOR or to a data-port command.
const QString MarkerCommand = QStringLiteral("PWD");
constexpr int MarkerReplyCode = 257;

QStringView verbOf(const QString &line)
{
    return QStringView(line).left(line.indexOf(QLatin1Char(' ')));
}

// The commands this client sends that leave the server's current folder as it is. Any other
// command, including one added later, makes the connection forget the folder it knows.
bool keepsCurrentDirectory(const QString &line)
{
    static const QStringList verbs{
        QStringLiteral("PWD"),  QStringLiteral("MKD"),  QStringLiteral("DELE"),
        QStringLiteral("EPSV"), QStringLiteral("PASV"), QStringLiteral("EPRT"),
        QStringLiteral("PORT"), QStringLiteral("STOR"), QStringLiteral("RETR"),
        QStringLiteral("TYPE"), QStringLiteral("NOOP"), QStringLiteral("SIZE"),
        QStringLiteral("FEAT"), QStringLiteral("REST"), QStringLiteral("APPE")};
    const QStringView verb = verbOf(line);
    // A rename moves the current folder itself when it names that folder or one above it; a
    // name in the current folder, or a path down from it, cannot.
    if (verb == QLatin1String("RNFR") || verb == QLatin1String("RNTO")) {
        const QStringView path = QStringView(line).mid(verb.size() + 1);
        if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
            return false;
        for (const QStringView name : path.split(QLatin1Char('/'))) {
            if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
                return false;
        }
        return true;
    }
    for (const QString &known : verbs) {
        if (verb == known)
            return true;
    }
    return false;
}

int resultForSocketError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        return FtpResult::NameLookupFailed;
    case QAbstractSocket::ConnectionRefusedError:
        return FtpResult::ConnectionRefused;
    case QAbstractSocket::SocketTimeoutError:
        return FtpResult::Timeout;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        return FtpResult::TlsFailure;
    case QAbstractSocket::ProxyAuthenticationRequiredError:
    case QAbstractSocket::ProxyConnectionRefusedError:
    case QAbstractSocket::ProxyConnectionClosedError:
    case QAbstractSocket::ProxyConnectionTimeoutError:
    case QAbstractSocket::ProxyNotFoundError:
    case QAbstractSocket::ProxyProtocolError:
        return FtpResult::ProxyFailure;
    default:
        return FtpResult::ConnectionLost;
    }
}

QString protocolName(QSsl::SslProtocol protocol)
{
    switch (protocol) {
    case QSsl::TlsV1_2:
        return QStringLiteral("TLSv1.2");
    case QSsl::TlsV1_3:
        return QStringLiteral("TLSv1.3");
    default:
        return QStringLiteral("TLS (protocol %1)").arg(int(protocol));
    }
}

} // namespace

// The TLS settings of control and data connections alike. Session persistence lets the data
// connections resume the control connection's session; servers such as vsftpd with
// require_ssl_reuse refuse a data connection that does not, because otherwise anybody who guessed
// the data port could connect first. Qt's secure protocols are TLS 1.2 and newer.
QSslConfiguration FtpTlsConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::SecureProtocols);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    configuration.setSslOption(QSsl::SslOptionDisableSessionPersistence, false);
    configuration.setSslOption(QSsl::SslOptionDisableSessionTickets, false);
    return configuration;
}

FtpControlConnection::FtpControlConnection(QObject *parent) : QObject(parent)
{
    mQuitGrace.setSingleShot(true);
    mQuitGrace.setInterval(QuitGraceMs);
    connect(&mQuitGrace, &QTimer::timeout, this, &FtpControlConnection::finishQuit);
}

FtpControlConnection::~FtpControlConnection()
{
    if (mSocket) {
        mSocket->disconnect(this);
        mSocket->abort();
    }
}

std::unique_ptr<QTcpSocket> FtpControlConnection::createSocket(bool tlsCapable) const
{
    std::unique_ptr<QTcpSocket> socket;
    if (tlsCapable) {
        auto secure = std::make_unique<QSslSocket>();
        secure->setSslConfiguration(FtpTlsConfiguration());
        secure->setPeerVerifyName(mAddress.host);
        socket = std::move(secure);
    } else {
        socket = std::make_unique<QTcpSocket>();
    }
    // Proxies are chosen explicitly by the component's settings, never picked up from the
    // environment behind the user's back.
    socket->setProxy(mProxy);
    return socket;
}

void FtpControlConnection::watchSocket()
{
    if (QSslSocket *secure = secureSocket()) {
        connect(secure, &QSslSocket::sslErrors, this, &FtpControlConnection::judgeCertificate);
        connect(secure, &QSslSocket::encrypted, this, &FtpControlConnection::handshakeDone);
    }
    connect(mSocket.get(), &QTcpSocket::readyRead, this, &FtpControlConnection::readLines);
    connect(mSocket.get(), &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) {
                if (mQuitting) {
                    finishQuit();
                    return;
                }
                int result = resultForSocketError(error);
                // Whatever ends a handshake half-way (a server that hangs up, a proxy that cuts
                // in) is a TLS failure: the connection was never secure.
                const QSslSocket *secure = secureSocket();
                if (mTcpConnected && secure && secure->mode() != QSslSocket::UnencryptedMode &&
                    !secure->isEncrypted())
                    result = FtpResult::TlsFailure;
                // A refused certificate says more than OpenSSL's "handshake failed".
                if (mCertificate && !mCertificate->accepted())
                    fail(FtpResult::TlsFailure, mCertificate->explanation);
                else if (result == FtpResult::TlsFailure)
                    fail(result, tr("TLS handshake failed: %1").arg(mSocket->errorString()));
                else if (result == FtpResult::ProxyFailure)
                    fail(result, tr("Proxy: %1").arg(mSocket->errorString()));
                else
                    fail(result, mSocket->errorString());
            });
    connect(mSocket.get(), &QTcpSocket::disconnected, this, [this] {
        if (mQuitting) {
            finishQuit();
            return;
        }
        fail(FtpResult::ConnectionLost, tr("The server closed the connection."));
    });
}

void FtpControlConnection::open(const FtpServerAddress &address, const QNetworkProxy &proxy,
                                const FtpCertificateCheck::Trust &trust)
{
    mAddress = address;
    mProxy = proxy;
    mTrust = trust;
    const bool implicitTls = address.security == FtpServerAddress::Security::ImplicitTls;
    // With implicit TLS the socket speaks TLS from the first byte, and through a SOCKS5 or HTTP
    // proxy only Qt's own socket can carry the tunnel on into TLS. Otherwise the connection
    // starts as a plain socket and moves to a TLS socket when the server agrees to AUTH TLS
    // (startTls): a publication in plain FTP never loads the TLS library, which costs a few
    // megabytes and a few dozen milliseconds.
    mSocket = createSocket(implicitTls || proxy.type() != QNetworkProxy::NoProxy);
    if (!implicitTls)
        connect(mSocket.get(), &QTcpSocket::connected, this, &FtpControlConnection::opened);
    connect(mSocket.get(), &QTcpSocket::connected, this, [this] {
        mTcpConnected = true;
        // Through a tunnel the peer is the proxy, which says nothing about the server.
        if (mProxy.type() == QNetworkProxy::NoProxy)
            mReachedAddress = mSocket->peerAddress().toString();
    });
    watchSocket();
    // Qt resolves the name and tries each of its addresses in turn, IPv6 and IPv4; through a
    // proxy, the proxy resolves it.
    if (implicitTls)
        secureSocket()->connectToHostEncrypted(address.host, address.port, address.host);
    else
        mSocket->connectToHost(address.host, address.port);
}

QStringList FtpControlConnection::endpointHosts() const
{
    return FtpHostKeys(mAddress.host, mReachedAddress);
}

QSslSocket *FtpControlConnection::secureSocket() const
{
    return qobject_cast<QSslSocket *>(mSocket.get());
}

bool FtpControlConnection::isOpen() const
{
    return mSocket && !mFailed && !mQuitting && mSocket->state() == QAbstractSocket::ConnectedState;
}

void FtpControlConnection::startTls()
{
    if (!isOpen())
        return;
    // Whatever arrived after the server's consent was sent in clear text but would be read as if
    // it came through TLS: someone in between may have added it (the STARTTLS injection).
    if (mSocket->bytesAvailable() > 0) {
        fail(FtpResult::TlsFailure, tr("The server sent more text after agreeing to TLS."));
        return;
    }
    if (!secureSocket() && !moveToTlsSocket())
        return;
    mUpgrading = true;
    secureSocket()->startClientEncryption();
}

bool FtpControlConnection::moveToTlsSocket()
{
    // The new socket takes a copy of the descriptor, and the plain socket lets go of its own: the
    // connection itself stays as it is. Nothing is lost in between: the server waits for our
    // handshake, and whatever the plain socket had read already was refused by the caller.
    const int copy = ::fcntl(int(mSocket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        fail(FtpResult::TlsFailure,
             tr("TLS handshake failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    std::unique_ptr<QTcpSocket> secure = createSocket(true);
    if (!secure->setSocketDescriptor(copy)) {
        ::close(copy);
        fail(FtpResult::TlsFailure, tr("TLS handshake failed: %1").arg(secure->errorString()));
        return false;
    }
    QTcpSocket *plain = mSocket.release();
    plain->disconnect(this);
    plain->abort();
    // The plain socket may be emitting the signal that led here.
    plain->deleteLater();
    mSocket = std::move(secure);
    watchSocket();
    return true;
}

bool FtpControlConnection::isEncrypted() const
{
    const QSslSocket *secure = secureSocket();
    return secure && secure->isEncrypted();
}

void FtpControlConnection::judgeCertificate(const QList<QSslError> &errors)
{
    // Ask once per handshake; the decision stores a first-use fingerprint.
    mCertificate = FtpCertificateCheck(endpointHosts(), mAddress.port, mTrust)
                       .decide(secureSocket()->peerCertificate(), errors);
    emit dialogue(QStringLiteral("# ") + mCertificate->explanation);
    if (mCertificate->accepted())
        secureSocket()->ignoreSslErrors();
}

void FtpControlConnection::handshakeDone()
{
    if (!mCertificate) {
        mCertificate = FtpCertificateCheck(endpointHosts(), mAddress.port, mTrust)
                           .decide(secureSocket()->peerCertificate(), {});
        emit dialogue(QStringLiteral("# ") + mCertificate->explanation);
    }
    if (mUpgrading) {
        mUpgrading = false;
        emit secured();
    } else {
        emit opened();
    }
    // Replies that came with the last handshake message are waiting already.
    readLines();
}

QString FtpControlConnection::securityDescription() const
{
    if (!isEncrypted())
        return QString();
    const QSslSocket *secure = secureSocket();
    QString text = protocolName(secure->sessionProtocol()) + QStringLiteral(", cipher ") +
                   secure->sessionCipher().name();
    if (mCertificate) {
        text += QStringLiteral(", server certificate SHA-256 ") +
                FtpCertificateCheck::readable(mCertificate->fingerprint);
        switch (mCertificate->verdict) {
        case FtpCertificateCheck::Verdict::Verified:
            text += QStringLiteral(" (verified by the system's authorities)");
            break;
        case FtpCertificateCheck::Verdict::FirstUse:
            text += mCertificate->stored
                        ? QStringLiteral(" (trusted on first use, now stored)")
                        : QStringLiteral(" (trusted on first use for this connection only)");
            break;
        case FtpCertificateCheck::Verdict::Accepted:
            text += QStringLiteral(" (accepted by the user in place of SHA-256 %1, %2)")
                        .arg(FtpCertificateCheck::readable(mCertificate->trustedFingerprint),
                             mCertificate->stored ? QStringLiteral("now stored")
                                                  : QStringLiteral("for this connection only"));
            break;
        case FtpCertificateCheck::Verdict::Known:
            text += QStringLiteral(" (trusted on first use earlier)");
            break;
        case FtpCertificateCheck::Verdict::Changed:
        case FtpCertificateCheck::Verdict::Unusable:
            break;
        }
    }
    return text;
}

FtpDataRoute FtpControlConnection::dataRoute() const
{
    FtpDataRoute route;
    route.address = peerAddress();
    route.host = mAddress.host;
    route.proxy = mProxy;
    route.tls = mDataProtected && isEncrypted();
    if (route.tls) {
        // Carries the session (ticket) the data connections resume.
        route.tlsConfiguration = secureSocket()->sslConfiguration();
        route.peerVerifyName = mAddress.host;
        route.controlFingerprint = mCertificate ? mCertificate->fingerprint : QByteArray();
    }
    return route;
}

void FtpControlConnection::send(const QString &command)
{
    writeLine(command, command);
}

void FtpControlConnection::sendSecret(const QString &verb, const QString &secret)
{
    writeLine(verb + QLatin1Char(' ') + secret, verb + QStringLiteral(" [protected]"));
    mSecretAwaitingReply = secret;
}

void FtpControlConnection::rememberDirectory(const QString &directory, const QString &replyText)
{
    mKnownDirectory = KnownDirectory{directory, replyText};
}

void FtpControlConnection::writeLine(const QString &line, const QString &shownAs)
{
    if (!isOpen())
        return;
    if (!keepsCurrentDirectory(line))
        mKnownDirectory.reset();
    mLastVerb = verbOf(line).toString();
    emit dialogue(shownAs);
    // Names go out as UTF-8 (RFC 2640); the callers have refused line breaks already.
    mSocket->write((line + QStringLiteral("\r\n")).toUtf8());
    // Out now, not on the event loop's next pass: the reply cannot come before the command has
    // left, and a pass per command is a tenth of what a small file costs us on a near server.
    mSocket->flush();
}

void FtpControlConnection::synchronise()
{
    if (!isOpen())
        return;
    mSynchronising = true;
    mFirstSwallowed.reset();
    send(QStringLiteral("ABOR"));
    send(MarkerCommand);
}

void FtpControlConnection::quit()
{
    if (!isOpen()) {
        close();
        emit closed();
        return;
    }
    send(QStringLiteral("QUIT"));
    mQuitting = true;
    mQuitGrace.start();
}

void FtpControlConnection::finishQuit()
{
    if (!mQuitting)
        return;
    mQuitting = false;
    mQuitGrace.stop();
    if (mSocket) {
        mSocket->disconnect(this);
        mSocket->disconnectFromHost();
    }
    mFailed = true; // nothing more is sent or reported
    emit closed();
}

void FtpControlConnection::close()
{
    mKnownDirectory.reset();
    mQuitGrace.stop();
    mQuitting = false;
    mFailed = true;
    if (mSocket) {
        mSocket->disconnect(this);
        mSocket->abort();
    }
}

QHostAddress FtpControlConnection::localAddress() const
{
    return mSocket ? mSocket->localAddress() : QHostAddress();
}

QHostAddress FtpControlConnection::peerAddress() const
{
    return mSocket ? mSocket->peerAddress() : QHostAddress();
}

void FtpControlConnection::readLines()
{
    // One buffer for all lines: reading a line into a new array would allocate the longest
    // allowed line for every reply (and as that is beyond malloc's mapping threshold, map and
    // unmap it from the kernel each time).
    constexpr qint64 bufferSize = MaximumLineLength + 3; // the line, CR LF and a terminating NUL
    if (mLineBuffer.size() < bufferSize)
        mLineBuffer.resize(bufferSize);
    // A reply handler may close the connection; stop reading as soon as it did.
    while (mSocket && !mFailed && mSocket->canReadLine()) {
        const qint64 length = mSocket->readLine(mLineBuffer.data(), bufferSize);
        QByteArrayView raw(mLineBuffer.constData(), std::max<qint64>(length, 0));
        if (!raw.endsWith('\n')) {
            fail(FtpResult::ProtocolViolation, tr("The server sent an overlong line."));
            return;
        }
        while (raw.endsWith('\n') || raw.endsWith('\r'))
            raw.chop(1);
        const QString line = QString::fromUtf8(raw);
        // Only the answer to the secret is searched for it: masking it in every line would mangle
        // the transcript wherever the secret happens to be a common word, and the words around the
        // mask would give it away.
        if (mSecretAwaitingReply.isEmpty())
            emit dialogue(line);
        else
            emit dialogue(
                QString(line).replace(mSecretAwaitingReply, QStringLiteral("[protected]")));
        emit lineReceived();

        switch (mParser.addLine(line)) {
        case FtpReplyParser::Outcome::NeedMoreLines:
            break;
        case FtpReplyParser::Outcome::ReplyComplete: {
            const FtpReply reply = mParser.takeReply();
            if (!reply.isPreliminary())
                mSecretAwaitingReply.clear();
            handleReply(reply);
            break;
        }
        case FtpReplyParser::Outcome::Malformed:
            fail(FtpResult::ProtocolViolation, tr("The server sent something that is no reply."));
            return;
        }
    }
    if (mSocket && !mFailed && mSocket->bytesAvailable() > MaximumLineLength)
        fail(FtpResult::ProtocolViolation, tr("The server sent an overlong line."));
}

void FtpControlConnection::handleReply(const FtpReply &reply)
{
    if (mQuitting) {
        if (!reply.isPreliminary())
            finishQuit();
        return;
    }
    if (mSynchronising) {
        if (!mFirstSwallowed && !reply.isPreliminary())
            mFirstSwallowed = reply;
        if (reply.code == MarkerReplyCode) {
            mSynchronising = false;
            emit synchronised();
        }
        return;
    }
    emit replyReceived(reply);
}

void FtpControlConnection::fail(int result, const QString &description)
{
    if (mFailed)
        return;
    close();
    emit failed(result, description);
}
