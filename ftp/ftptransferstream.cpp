#include "ftptransferstream.h"

#include "ftplingeringclose.h"
#include "ftpresult.h"

#include <QIODevice>
#include <QSslSocket>

namespace {
bool isEncrypted(QTcpSocket &socket)
{
    auto *secure = qobject_cast<QSslSocket *>(&socket);
    return secure && secure->isEncrypted();
}
} // namespace

FtpTransferStream::FtpTransferStream(Direction direction, QIODevice &file, QTcpSocket &socket,
                                     QObject *parent)
    : QObject(parent), mDirection(direction), mFile(file), mSocket(socket)
{
    mPiece.resize(PieceSize);
}

// The socket may already be gone when an abandoned stream is destroyed; the connections to it are
// dropped by QObject either way.
FtpTransferStream::~FtpTransferStream() = default;

void FtpTransferStream::start()
{
    if (mStarted)
        return;
    mStarted = true;

    connect(&mSocket, &QTcpSocket::disconnected, this, [this] {
        if (mDirection == Direction::Download)
            receive(); // whatever arrived before the close
        // An upload is clean only if every byte read from the file was written and nothing was
        // left unsent when the connection went.
        const bool complete =
            mDirection == Direction::Download || (mSourceExhausted && mBytesMoved == mBytesRead);
        finish(complete);
    });
    connect(&mSocket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // The server closing the connection after the last byte is how a download ends; any
        // other error, and any error during an upload, cuts the file short.
        if (error == QAbstractSocket::RemoteHostClosedError && mDirection == Direction::Download) {
            // Over TLS this is the server's close_notify: the file is complete. Qt sends no
            // close_notify back, and vsftpd waits for one or for the connection to close, so
            // the connection is closed here. (A connection cut without close_notify is a TLS
            // error instead, and a broken transfer.)
            if (isEncrypted(mSocket)) {
                receive();
                finish(true);
                mSocket.disconnectFromHost();
            }
            return;
        }
        finish(false);
    });

    if (mDirection == Direction::Upload) {
        connect(&mSocket, &QTcpSocket::bytesWritten, this, [this] {
            noteBytesMoved();
            sendMore();
        });
        // Over TLS the socket reports the plain bytes as written once they are encrypted; the
        // encrypted ones then wait for the network in a buffer of their own.
        if (auto *secure = qobject_cast<QSslSocket *>(&mSocket))
            connect(secure, &QSslSocket::encryptedBytesWritten, this, [this] { sendMore(); });
        sendMore();
    } else {
        mSocket.setReadBufferSize(SendAheadLimit);
        connect(&mSocket, &QTcpSocket::readyRead, this, &FtpTransferStream::receive);
        receive();
        if (mSocket.state() != QAbstractSocket::ConnectedState)
            finish(true); // closed before we started to listen: all data was buffered
    }
}

void FtpTransferStream::stop()
{
    mFinished = true;
    mSocket.disconnect(this);
}

void FtpTransferStream::sendMore()
{
    if (mFinished)
        return;
    const auto unsent = [this] {
        auto *secure = qobject_cast<QSslSocket *>(&mSocket);
        return mSocket.bytesToWrite() + (secure ? secure->encryptedBytesToWrite() : 0);
    };
    while (!mSourceExhausted && unsent() < SendAheadLimit) {
        // A piece of its own each time, handed to the socket whole: the socket keeps the array
        // in its write buffer instead of copying it there, one copy less per byte sent.
        QByteArray piece(PieceSize, Qt::Uninitialized);
        const qint64 read = mFile.read(piece.data(), PieceSize);
        if (read < 0) {
            stop();
            emit localFailure(FtpResult::LocalFileUnreadable, mFile.errorString());
            return;
        }
        if (read == 0) {
            mSourceExhausted = true;
            break;
        }
        mBytesRead += read;
        piece.truncate(read);
        if (mWatchSent)
            mWatchSent(QByteArrayView(piece));
        if (mSocket.write(piece) != read) {
            finish(false);
            return;
        }
        // A plain socket takes the piece now, not on the event loop's next pass: a pass per
        // piece is a tenth of the time a large file takes to a near server. The kernel takes
        // what it has room for; the rest goes when it reports room (bytesWritten). A TLS
        // socket encrypts and sends on its own schedule.
        if (!isEncrypted(mSocket)) {
            mSocket.flush();
            if (mFinished)
                return; // the write failed, and the stream with it
            noteBytesMoved();
        }
    }
    if (mSourceExhausted && mSocket.bytesToWrite() == 0 &&
        mSocket.state() == QAbstractSocket::ConnectedState) {
        // Everything is with the kernel; the close after it marks the end of the file. Over TLS
        // that end is our close_notify, and the TCP connection has to stay open, and be read,
        // until the server has closed its side: FtpLingeringClose says why the order matters.
        if (isEncrypted(mSocket))
            FtpLingeringClose::watch(mSocket);
        mSocket.disconnectFromHost();
    }
}

void FtpTransferStream::noteBytesMoved()
{
    // Counted from what the socket still holds, not from its bytesWritten signals: a flush
    // inside a bytesWritten handler writes without signalling again.
    const qint64 moved = mBytesRead - mSocket.bytesToWrite();
    if (moved <= mBytesMoved)
        return;
    mBytesMoved = moved;
    emit progressed(mBytesMoved);
}

void FtpTransferStream::receive()
{
    if (mFinished)
        return;
    qint64 movedNow = 0;
    while (mSocket.bytesAvailable() > 0) {
        const qint64 read = mSocket.read(mPiece.data(), PieceSize);
        if (read <= 0)
            break;
        // Stopped at the limit, not after: a server may send without end, and every piece would
        // count as a sign of life.
        if (mLimit > 0 && mBytesMoved + movedNow + read > mLimit) {
            stop();
            emit localFailure(FtpResult::DownloadTooLarge,
                              tr("The file is larger than %1 bytes.").arg(mLimit));
            return;
        }
        if (mFile.write(mPiece.constData(), read) != read) {
            stop();
            emit localFailure(FtpResult::LocalFileUnwritable, mFile.errorString());
            return;
        }
        movedNow += read;
    }
    if (movedNow > 0) {
        mBytesMoved += movedNow;
        emit progressed(mBytesMoved);
    }
}

void FtpTransferStream::finish(bool clean)
{
    if (mFinished)
        return;
    stop();
    emit ended(clean);
}
