#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>

class QAbstractSocket;

// Ends a TLS data connection in the right order after an upload.
//
// Over TLS the end of the file is our close_notify, not the end of the TCP stream, and the server
// still sends after it has the file: its own close_notify, and with TLS 1.3 its session tickets,
// which it sends only once it reads the end of our handshake, so a busy server sends them after
// the whole file went out. The order of the end therefore is:
//  1. close_notify (QSslSocket::disconnectFromHost()),
//  2. read and discard whatever the server still sends, until it closes its side (its FIN),
//  3. only then close ours.
// Both shortcuts lose the end of the file:
//  - Closing the socket at once: the server's late bytes reach a closed socket and the kernel
//    answers with a reset. A reset makes the other side throw away what it had not read yet.
//  - Sending our FIN (half-close) right after close_notify: a relaying proxy (SOCKS5, HTTP CONNECT)
//    takes the end of our stream for the end of the tunnel and closes its connection to the
//    server. A ticket the server sends after that meets the proxy's closed socket, the proxy's
//    kernel resets the connection to the server, and whatever the proxy had not passed on yet (the
//    end of the file, our close_notify) never arrives. vsftpd then answers 426, other servers keep
//    a truncated file.
// Only a server that has not closed after a grace time gets our FIN early, in case it waits for
// one; reading goes on until it closes too or a time limit passes.
//
// QSslSocket::disconnectFromHost() closes its own descriptor as soon as the close_notify is
// written. So this takes a duplicate of the connection's descriptor before: the connection stays
// open when Qt lets go of it, and nobody else closes it. It begins once Qt has written everything
// (the socket's disconnected()) and deletes itself at the end.
class FtpLingeringClose : public QObject
{
    Q_OBJECT

public:
    // Call right before socket.disconnectFromHost(). Does nothing when the socket's connection
    // has no descriptor that can be found.
    static void watch(QAbstractSocket &socket);

    ~FtpLingeringClose() override;

    // How long a server may take to close after our close_notify before it gets our FIN, and how
    // long the connection is kept at most.
    static constexpr int ServerCloseGraceMs = 2'000;
    static constexpr int LingerLimitMs = 30'000;

private:
    explicit FtpLingeringClose(int descriptor);
    void begin();
    void drain();
    void halfClose();
    void end();

    int mDescriptor;
    bool mBegun = false;
    std::unique_ptr<QSocketNotifier> mNotifier;
    QTimer mGrace;
    QTimer mLimit;
};
