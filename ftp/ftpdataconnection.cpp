#include "ftpdataconnection.h"

#include "ftpcertificatecheck.h"
#include "ftpresult.h"

#include <QNetworkProxy>
#include <QSslSocket>
#include <unistd.h>

void FtpDataConnection::Listener::incomingConnection(qintptr descriptor)
{
    std::unique_ptr<QTcpSocket> socket =
        mTls ? std::make_unique<QSslSocket>(this) : std::make_unique<QTcpSocket>(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        // The accepted connection belongs to nobody yet: without this it stays open, and the
        // descriptor is lost, until the program ends.
        ::close(int(descriptor));
        return;
    }
    addPendingConnection(socket.release());
}

FtpDataConnection::FtpDataConnection(FtpDataRoute route, QObject *parent)
    : QObject(parent), mRoute(std::move(route))
{}

FtpDataConnection::~FtpDataConnection()
{
    abort();
}

QTcpSocket *FtpDataConnection::socket() const
{
    return mEstablished ? mSocket.get() : nullptr;
}

std::unique_ptr<QTcpSocket> FtpDataConnection::createSocket() const
{
    std::unique_ptr<QTcpSocket> socket;
    if (mRoute.tls) {
        auto secure = std::make_unique<QSslSocket>();
        secure->setSslConfiguration(*mRoute.tlsConfiguration);
        secure->setPeerVerifyName(mRoute.peerVerifyName);
        socket = std::move(secure);
    } else {
        socket = std::make_unique<QTcpSocket>();
    }
    socket->setProxy(mRoute.proxy);
    return socket;
}

QSslSocket *FtpDataConnection::secureSocket() const
{
    return qobject_cast<QSslSocket *>(mSocket.get());
}

void FtpDataConnection::watchSocket()
{
    if (QSslSocket *secure = secureSocket()) {
        connect(secure, &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
            // The certificate the control connection accepted is the one expected here; a
            // server that presents another one on the data connection is not the server we
            // logged in to.
            const QSslCertificate presented = secureSocket()->peerCertificate();
            if (!presented.isNull() && !mRoute.controlFingerprint.isEmpty() &&
                FtpCertificateCheck::fingerprintOf(presented) == mRoute.controlFingerprint) {
                secureSocket()->ignoreSslErrors();
                return;
            }
            Q_UNUSED(errors);
            mCertificateRefused = true;
        });
        connect(secure, &QSslSocket::encrypted, this, [this] {
            mReady = true;
            emit ready();
        });
    }
    connect(mSocket.get(), &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) {
                // Once the bytes flow, the transfer stream judges errors; before that, nothing
                // else would notice them.
                if (mReady)
                    return;
                int result = FtpResult::DataConnectionFailed;
                QString description = mSocket->errorString();
                if (mCertificateRefused) {
                    result = FtpResult::TlsFailure;
                    description = tr("The data connection presented another certificate than the "
                                     "control connection.");
                } else if (error == QAbstractSocket::SslHandshakeFailedError ||
                           error == QAbstractSocket::SslInternalError) {
                    result = FtpResult::TlsFailure;
                    description =
                        tr("TLS handshake on the data connection failed: %1").arg(description);
                } else if (mEstablished && error == QAbstractSocket::RemoteHostClosedError) {
                    description = tr("The server closed the data connection during the TLS "
                                     "handshake (does it require TLS session reuse?)");
                    result = FtpResult::TlsFailure;
                }
                emit failed(result, description);
            });
}

void FtpDataConnection::becomeEstablished()
{
    mEstablished = true;
    emit established();
    if (!mRoute.tls) {
        mReady = true;
        emit ready();
    }
}

void FtpDataConnection::connectTo(quint16 port)
{
    mSocket = createSocket();
    watchSocket();
    connect(mSocket.get(), &QTcpSocket::connected, this, &FtpDataConnection::becomeEstablished);
    // In plain TCP first, with TLS too: see startTls().
    if (mRoute.isProxied()) {
        // The proxy reaches the server by its name, as for the control connection.
        mSocket->connectToHost(mRoute.host, port);
        return;
    }
    mSocket->connectToHost(mRoute.address, port);
}

quint16 FtpDataConnection::listen(const QHostAddress &localAddress)
{
    mServer = std::make_unique<Listener>(mRoute.tls);
    mServer->setProxy(QNetworkProxy::NoProxy);
    mServer->setMaxPendingConnections(1);
    connect(mServer.get(), &QTcpServer::newConnection, this, &FtpDataConnection::acceptPending);
    if (!mServer->listen(localAddress, 0))
        return 0;
    return mServer->serverPort();
}

QHostAddress FtpDataConnection::listeningAddress() const
{
    return mServer ? mServer->serverAddress() : QHostAddress();
}

quint16 FtpDataConnection::listeningPort() const
{
    return mServer ? mServer->serverPort() : 0;
}

void FtpDataConnection::acceptPending()
{
    while (mServer && mServer->hasPendingConnections()) {
        std::unique_ptr<QTcpSocket> incoming(mServer->nextPendingConnection());
        incoming->setParent(nullptr);
        if (mEstablished ||
            !incoming->peerAddress().isEqual(mRoute.address, QHostAddress::ConvertV4MappedToIPv4)) {
            incoming->abort();
            continue;
        }
        mSocket = std::move(incoming);
        // One connection per transfer: stop listening so the port is not left open.
        mServer->close();
        watchSocket();
        becomeEstablished();
    }
}

void FtpDataConnection::startTls()
{
    if (!mRoute.tls || !mEstablished || mHandshakeStarted || !mSocket)
        return;
    QSslSocket *secure = secureSocket();
    if (!secure)
        return;
    mHandshakeStarted = true;
    if (mServer) {
        // An accepted socket has none of the settings createSocket() gives one of ours.
        secure->setProxy(QNetworkProxy::NoProxy);
        secure->setSslConfiguration(*mRoute.tlsConfiguration);
        secure->setPeerVerifyName(mRoute.peerVerifyName);
    }
    // The FTP client is the TLS client on the data connection too, whoever connected.
    secure->startClientEncryption();
}

void FtpDataConnection::abort()
{
    if (mServer)
        mServer->close();
    if (mSocket) {
        mSocket->disconnect(this);
        mSocket->abort();
    }
}
