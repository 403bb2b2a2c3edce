#pragma once

#include "ftpsentbyteswatcher.h"

#include <QByteArray>
#include <QObject>

class QIODevice;
class QTcpSocket;

// Streams the bytes of one transfer between a local file and the data socket through a fixed
// buffer, so memory stays the same whether the file has a few bytes or several gigabytes.
//
// Upload: reads the next piece of the file only while the socket holds less than a few pieces
// unsent (encrypted bytes waiting for the network included), so a slow server slows the reading
// down instead of letting the send buffer grow. Once the whole file went out the socket is closed
// gracefully, which tells the server the file ended.
//
// Download: the socket's read buffer is capped and emptied into the file on every readyRead, so a
// fast server is held back by TCP flow control when the disk is slower.
class FtpTransferStream : public QObject
{
    Q_OBJECT

public:
    enum class Direction { Upload, Download };

    // Neither the file nor the socket is owned; both must outlive the stream.
    FtpTransferStream(Direction direction, QIODevice &file, QTcpSocket &socket,
                      QObject *parent = nullptr);
    ~FtpTransferStream() override;

    // Upload: hands every piece read from the file to watcher, in order, before it is sent. Set
    // before start().
    void watchSentBytes(FtpSentBytesWatcher watcher) { mWatchSent = std::move(watcher); }

    // Starts moving bytes. A download may be started as soon as the socket exists (servers may
    // send before their preliminary reply arrives); an upload waits for the server's go-ahead.
    void start();
    // Stops reacting to the socket; the socket itself is closed by its owner.
    void stop();

    [[nodiscard]] qint64 bytesMoved() const { return mBytesMoved; }
    // Download: more than this many bytes end the stream with localFailure(DownloadTooLarge)
    // before they are written; 0 means no limit.
    void setLimit(qint64 bytes) { mLimit = bytes; }

    static constexpr qint64 PieceSize = 64 * 1024;
    static constexpr qint64 SendAheadLimit = 4 * PieceSize;

signals:
    void progressed(qint64 bytesSoFar);
    // The data connection ended. clean: every byte went through and the connection closed in
    // order (our graceful close after an upload, the server's close after a download).
    void ended(bool clean);
    // The local file could not be read or written; an FtpResult code.
    void localFailure(int result, const QString &description);

private:
    void sendMore();
    // Counts what the socket has handed to the kernel since the last count, and reports it.
    void noteBytesMoved();
    void receive();
    void finish(bool clean);

    Direction mDirection;
    QIODevice &mFile;
    QTcpSocket &mSocket;
    QByteArray mPiece;
    FtpSentBytesWatcher mWatchSent;
    qint64 mBytesRead = 0;
    qint64 mBytesMoved = 0;
    qint64 mLimit = 0;
    bool mStarted = false;
    bool mSourceExhausted = false;
    bool mFinished = false;
};
