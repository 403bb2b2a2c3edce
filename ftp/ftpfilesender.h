#pragma once

#include <QObject>
#include <memory>

class QFileDevice;
class QSocketNotifier;
class QTcpSocket;

// Uploads a file over a plain data connection with sendfile(2): the kernel moves the bytes from
// the page cache to the socket, without a copy through our memory and without a buffer that
// grows with the file. Used only where nothing stands between the socket and the server that
// would have to see the bytes: no TLS, no proxy, nothing left in the socket's own buffer.
//
// The sender waits for room in the socket on a duplicate of its descriptor, so the socket's own
// notifiers stay as they are, and it hands the event loop back after a few megabytes even when
// the socket would take more, so that progress reports, the watchdog and cancelling keep working
// during a fast transfer.
class FtpFileSender : public QObject
{
    Q_OBJECT

public:
    // Whether the file can be sent this way over the socket (see above).
    [[nodiscard]] static bool canSend(const QFileDevice &file, const QTcpSocket &socket);

    // Sends from the file's current position to its end. Neither is owned; both must outlive the
    // sender.
    FtpFileSender(QFileDevice &file, QTcpSocket &socket, QObject *parent = nullptr);
    ~FtpFileSender() override;

    void start();
    // Stops sending; nothing is emitted afterwards.
    void stop();

    static constexpr qint64 BytesPerPass = 8 * 1024 * 1024;

signals:
    // Bytes handed to the kernel so far.
    void sent(qint64 bytesSoFar);
    // The end of the file was reached and everything before it is with the kernel.
    void finished();
    // The file could not be read; an FtpResult code.
    void localFailure(int result, const QString &description);
    // The connection broke while sending.
    void connectionFailure();
    // The kernel cannot send this file this way, and nothing was sent yet: the caller sends it
    // through the socket instead.
    void unsupported();

private:
    void sendMore();

    QFileDevice &mFile;
    QTcpSocket &mSocket;
    int mDescriptor = -1;
    std::unique_ptr<QSocketNotifier> mWritable;
    qint64 mOffset = 0;
    qint64 mSent = 0;
    bool mStopped = false;
};
