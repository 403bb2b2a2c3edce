#include "ftpdataconnection.h"

#include "ftpcertificatecheck.h"
#include "ftpresult.h"

#include <QNetworkProxy>
#include <QSslSocket>
#include <unistd.h>

void FtpDataConnection::Listener::incomingConnection(qintptr descriptor)
{
    auto socket = std::make_unique<QSslSocket>(this);
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

std::unique_ptr<QSslSocket> FtpDataConnection::createSocket() const
{
    auto socket = std::make_unique<QSslSocket>();
    socket->setProxy(mRoute.proxy);
    if (mRoute.tls) {
        socket->setSslConfiguration(mRoute.tlsConfiguration);
        socket->setPeerVerifyName(mRoute.peerVerifyName);
    }
    return socket;
}

void FtpDataConnection::watchSocket()
{
    connect(mSocket.get(), &QSslSocket::sslErrors, this, [this](const QList<QSslError> &errors) {
        // The certificate the control connection accepted is the one expected here; a server
        // that presents another one on the data connection is not the server we logged in to.
        const QSslCertificate presented = mSocket->peerCertificate();
        if (!presented.isNull() && !mRoute.controlFingerprint.isEmpty() &&
            FtpCertificateCheck::fingerprintOf(presented) == mRoute.controlFingerprint) {
            mSocket->ignoreSslErrors();
            return;
        }
        Q_UNUSED(errors);
        mCertificateRefused = true;
    });
    connect(mSocket.get(), &QSslSocket::encrypted, this, [this] {
        mReady = true;
        emit ready();
    });
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
    if (mRoute.isProxied()) {
        // The proxy reaches the server by its name, as for the control connection.
        if (mRoute.tls)
            mSocket->connectToHostEncrypted(mRoute.host, port, mRoute.peerVerifyName);
        else
            mSocket->connectToHost(mRoute.host, port);
        return;
    }
    if (mRoute.tls)
        mSocket->connectToHostEncrypted(mRoute.address.toString(), port, mRoute.peerVerifyName);
    else
        mSocket->connectToHost(mRoute.address, port);
}

quint16 FtpDataConnection::listen(const QHostAddress &localAddress)
{
    mServer = std::make_unique<Listener>();
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
        std::unique_ptr<QSslSocket> incoming(
            static_cast<QSslSocket *>(mServer->nextPendingConnection()));
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

void FtpDataConnection::secureAcceptedConnection()
{
    if (!mRoute.tls || !mServer || !mEstablished || mHandshakeStarted || !mSocket)
        return;
    mHandshakeStarted = true;
    mSocket->setProxy(QNetworkProxy::NoProxy);
    mSocket->setSslConfiguration(mRoute.tlsConfiguration);
    mSocket->setPeerVerifyName(mRoute.peerVerifyName);
    // The FTP client is the TLS client on the data connection too, whoever connected.
    mSocket->startClientEncryption();
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
