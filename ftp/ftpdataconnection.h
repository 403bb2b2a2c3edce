#pragma once

#include "ftpcontrolconnection.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <memory>

class QSslSocket;
class QTcpSocket;

// The data connection of one transfer attempt. In passive mode it connects out to the port the
// server named; in active mode it listens and takes the server's connection. Either way it ends
// up with one socket that the transfer streams through.
//
// Only a connection from the control connection's peer is accepted in active mode: anybody who
// finds the open port first must not be able to feed or read the file.
//
// With PROT P the socket speaks TLS as the client in both modes (RFC 4217), resumes the control
// connection's session and must present the control connection's certificate (or one that
// verifies for the host). Established and ready are then two steps: the transfer command may go
// out once TCP is connected (vsftpd starts its handshake only after it), the bytes only after the
// handshake, which the transfer starts (startTls()).
class FtpDataConnection : public QObject
{
    Q_OBJECT

public:
    explicit FtpDataConnection(FtpDataRoute route, QObject *parent = nullptr);
    ~FtpDataConnection() override;

    // Passive mode: to the route's address, or through its proxy to its host.
    void connectTo(quint16 port);
    // Active mode: listens on the given local address; returns the port, or 0 when listening
    // failed.
    [[nodiscard]] quint16 listen(const QHostAddress &localAddress);
    [[nodiscard]] QHostAddress listeningAddress() const;
    [[nodiscard]] quint16 listeningPort() const;

    // The socket once established() was emitted, else null.
    [[nodiscard]] QTcpSocket *socket() const;
    [[nodiscard]] bool isEstablished() const { return mEstablished; }
    // Established, and with TLS the handshake done: bytes may flow.
    [[nodiscard]] bool isReady() const { return mReady; }

    // With TLS: starts the handshake, once; the transfer decides when (see
    // FtpTransferOperation). Without TLS nothing happens.
    void startTls();

    // Drops the connection at once (abort, or after an error); emits nothing further.
    void abort();

signals:
    void established();
    void ready();
    // The connection could not be made or secured; an FtpResult code.
    void failed(int result, const QString &description);

private:
    // Hands every accepted connection over as a socket that can switch to TLS when the route
    // asks for TLS, as a plain one otherwise.
    class Listener : public QTcpServer
    {
    public:
        explicit Listener(bool tls) : mTls(tls) {}

    protected:
        void incomingConnection(qintptr descriptor) override;

    private:
        bool mTls;
    };

    // The one place that decides what kind of socket carries data: TLS when the route says so,
    // through the proxy if there is one. A plain socket without TLS: creating a TLS-capable one
    // loads the TLS library, and every one of them costs more to set up and to run.
    [[nodiscard]] std::unique_ptr<QTcpSocket> createSocket() const;
    [[nodiscard]] QSslSocket *secureSocket() const;
    void watchSocket();
    void becomeEstablished();
    void acceptPending();

    FtpDataRoute mRoute;
    std::unique_ptr<Listener> mServer;
    std::unique_ptr<QTcpSocket> mSocket;
    bool mEstablished = false;
    bool mReady = false;
    bool mCertificateRefused = false;
    bool mHandshakeStarted = false;
};
