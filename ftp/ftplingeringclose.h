#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>

class QAbstractSocket;

// Ends a TLS data connection in order after an upload.
//
// QSslSocket::disconnectFromHost() sends the TLS close_notify and then closes the descriptor at
// once. Whatever the server sends after that moment (with TLS 1.3 its session tickets, which it
// sends right after the handshake and which can cross a short upload, and its own close_notify)
// then reaches a closed socket, and the kernel answers with a reset. A reset makes the server's
// kernel throw away what the server had not read yet: the end of the file and our close_notify.
// vsftpd then answers 426; pyftpdlib keeps the truncated file and answers 226.
//
// So before Qt closes its descriptor, this takes a duplicate of it: the connection stays open when
// Qt lets go. Once Qt has written everything (the socket's disconnected()), it sends the TCP FIN
// with shutdown() and reads and discards whatever the server still sends, until the server closes
// its side too or a time limit passes. It deletes itself at the end.
class FtpLingeringClose : public QObject
{
    Q_OBJECT

public:
    // Call right before socket.disconnectFromHost(). Does nothing when the socket's connection
    // has no descriptor that can be found.
    static void watch(QAbstractSocket &socket);

    ~FtpLingeringClose() override;

private:
    explicit FtpLingeringClose(int descriptor);
    void begin();
    void drain();
    void end();

    int mDescriptor;
    bool mBegun = false;
    std::unique_ptr<QSocketNotifier> mNotifier;
    QTimer mLimit;
};
