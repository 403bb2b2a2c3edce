#include "ftpfilesender.h"

#include "ftpresult.h"

#include <QFileDevice>
#include <QSocketNotifier>
#include <QSslSocket>
#include <QTcpSocket>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The address the descriptor is really connected to, as Qt would name it.
std::optional<std::pair<QHostAddress, quint16>> kernelPeer(int descriptor)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(descriptor, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return std::nullopt;
    QHostAddress host(reinterpret_cast<const sockaddr *>(&address));
    quint16 port = 0;
    if (address.ss_family == AF_INET)
        port = ntohs(reinterpret_cast<const sockaddr_in *>(&address)->sin_port);
    else if (address.ss_family == AF_INET6)
        port = ntohs(reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port);
    else
        return std::nullopt;
    return std::pair{host, port};
}

// sendfile() has no MSG_NOSIGNAL: a server that closed the connection would end the process
// with SIGPIPE instead of failing the call with EPIPE. Qt's own sockets ignore the signal for
// the whole process for the same reason; this makes sure of it before the first send.
void ignoreBrokenPipeSignal()
{
    static const bool ignored = [] {
        struct sigaction current
        {
        };
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction ignore
            {
            };
            ignore.sa_handler = SIG_IGN;
            ::sigaction(SIGPIPE, &ignore, nullptr);
        }
        return true;
    }();
    Q_UNUSED(ignored);
}

bool isConnectionError(int error)
{
    switch (error) {
    case EPIPE:
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTCONN:
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENETUNREACH:
    case ENETDOWN:
        return true;
    default:
        return false;
    }
}

} // namespace

bool FtpFileSender::canSend(const QFileDevice &file, const QTcpSocket &socket)
{
    if (file.handle() < 0 || socket.bytesToWrite() > 0 ||
        socket.state() != QAbstractSocket::ConnectedState)
        return false;
    struct stat info
    {
    };
    if (::fstat(file.handle(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    if (const auto *secure = qobject_cast<const QSslSocket *>(&socket);
        secure && secure->mode() != QSslSocket::UnencryptedMode)
        return false;
    // Through a SOCKS5 or HTTP proxy the descriptor leads to the proxy, not to the server Qt
    // names as the peer; only a descriptor that reaches the peer itself carries the file as is.
    const qintptr descriptor = socket.socketDescriptor();
    if (descriptor < 0)
        return false;
    const auto peer = kernelPeer(int(descriptor));
    return peer && peer->second == socket.peerPort() &&
           peer->first.isEqual(socket.peerAddress(), QHostAddress::ConvertV4MappedToIPv4);
}

FtpFileSender::FtpFileSender(QFileDevice &file, QTcpSocket &socket, QObject *parent)
    : QObject(parent), mFile(file), mSocket(socket)
{}

FtpFileSender::~FtpFileSender()
{
    stop();
}

void FtpFileSender::start()
{
    ignoreBrokenPipeSignal();
    // A duplicate, so that waiting for room does not disturb the notifiers of the socket itself.
    mDescriptor = ::fcntl(int(mSocket.socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (mDescriptor < 0) {
        stop();
        emit unsupported();
        return;
    }
    mOffset = mFile.pos();
    mWritable = std::make_unique<QSocketNotifier>(mDescriptor, QSocketNotifier::Write);
    mWritable->setEnabled(false);
    connect(mWritable.get(), &QSocketNotifier::activated, this, &FtpFileSender::sendMore);
    sendMore();
}

void FtpFileSender::stop()
{
    mStopped = true;
    mWritable.reset();
    if (mDescriptor >= 0)
        ::close(mDescriptor);
    mDescriptor = -1;
}

void FtpFileSender::sendMore()
{
    if (mStopped)
        return;
    mWritable->setEnabled(false);
    qint64 thisPass = 0;
    for (;;) {
        if (thisPass >= BytesPerPass) {
            // More may fit, but the event loop gets its turn first.
            mWritable->setEnabled(true);
            break;
        }
        off_t offset = mOffset;
        const ssize_t moved =
            ::sendfile(mDescriptor, mFile.handle(), &offset, size_t(BytesPerPass - thisPass));
        if (moved > 0) {
            mOffset = offset;
            mSent += moved;
            thisPass += moved;
            continue;
        }
        if (moved == 0) {
            if (thisPass > 0)
                emit sent(mSent);
            stop();
            emit finished();
            return;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK) {
            mWritable->setEnabled(true);
            break;
        }
        stop();
        if ((error == EINVAL || error == ENOSYS) && mSent == 0) {
            emit unsupported();
        } else if (isConnectionError(error)) {
            emit connectionFailure();
        } else {
            emit localFailure(FtpResult::LocalFileUnreadable,
                              QString::fromLocal8Bit(std::strerror(error)));
        }
        return;
    }
    if (thisPass > 0)
        emit sent(mSent);
}
