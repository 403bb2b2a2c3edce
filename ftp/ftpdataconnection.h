#pragma once

#include <QHostAddress>
#include <QObject>
#include <memory>

class QTcpServer;
class QTcpSocket;

// The data connection of one transfer attempt. In passive mode it connects out to the port the
// server named; in active mode it listens and takes the server's connection. Either way it ends
// up with one socket that the transfer streams through.
//
// Only a connection from the control connection's peer is accepted in active mode: anybody who
// finds the open port first must not be able to feed or read the file.
class FtpDataConnection : public QObject
{
    Q_OBJECT

public:
    explicit FtpDataConnection(QObject *parent = nullptr);
    ~FtpDataConnection() override;

    // Passive mode.
    void connectTo(const QHostAddress &address, quint16 port);
    // Active mode: listens on the given local address; returns the port, or 0 when listening
    // failed.
    [[nodiscard]] quint16 listen(const QHostAddress &localAddress, const QHostAddress &server);
    [[nodiscard]] QHostAddress listeningAddress() const;
    [[nodiscard]] quint16 listeningPort() const;

    // The socket once established() was emitted, else null.
    [[nodiscard]] QTcpSocket *socket() const { return mSocket.get(); }
    [[nodiscard]] bool isEstablished() const { return mEstablished; }

    // Drops the connection at once (abort, or after an error); emits nothing further.
    void abort();

signals:
    void established();
    // The passive connection could not be made.
    void failed(const QString &description);

private:
    // The one place that decides what kind of socket carries data; with TLS this becomes an
    // encrypting socket that is shut down cleanly at the end of each transfer.
    [[nodiscard]] std::unique_ptr<QTcpSocket> createSocket();
    void acceptPending();

    std::unique_ptr<QTcpServer> mServer;
    std::unique_ptr<QTcpSocket> mSocket;
    QHostAddress mExpectedPeer;
    bool mEstablished = false;
};
