#include "ftpdataconnection.h"

#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>

FtpDataConnection::FtpDataConnection(QObject *parent) : QObject(parent) {}

FtpDataConnection::~FtpDataConnection()
{
    abort();
}

std::unique_ptr<QTcpSocket> FtpDataConnection::createSocket()
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->setProxy(QNetworkProxy::NoProxy);
    return socket;
}

void FtpDataConnection::connectTo(const QHostAddress &address, quint16 port)
{
    mSocket = createSocket();
    connect(mSocket.get(), &QTcpSocket::connected, this, [this] {
        mEstablished = true;
        emit established();
    });
    connect(mSocket.get(), &QTcpSocket::errorOccurred, this, [this] {
        if (!mEstablished)
            emit failed(mSocket->errorString());
    });
    mSocket->connectToHost(address, port);
}

quint16 FtpDataConnection::listen(const QHostAddress &localAddress, const QHostAddress &server)
{
    mExpectedPeer = server;
    mServer = std::make_unique<QTcpServer>();
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
            !incoming->peerAddress().isEqual(mExpectedPeer, QHostAddress::ConvertV4MappedToIPv4)) {
            incoming->abort();
            continue;
        }
        mSocket = std::move(incoming);
        mEstablished = true;
        // One connection per transfer: stop listening so the port is not left open.
        mServer->close();
        emit established();
    }
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
