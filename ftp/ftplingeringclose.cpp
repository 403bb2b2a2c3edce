#include "ftplingeringclose.h"

#include "ftpconnectiondescriptor.h"

#include <QAbstractSocket>
#include <QCoreApplication>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

void FtpLingeringClose::watch(QAbstractSocket &socket)
{
    // Not socketDescriptor(): through a SOCKS5 proxy that is no descriptor of this connection,
    // and a duplicate of it would half-close and read some other socket.
    const int descriptor = FtpConnectionDescriptor(socket);
    if (descriptor < 0)
        return;
    const int copy = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return;
    // Owned by the application, not by the socket or the transfer, which both go before the
    // server has closed its side.
    auto *closer = new FtpLingeringClose(copy);
    QObject::connect(&socket, &QAbstractSocket::disconnected, closer, &FtpLingeringClose::begin);
    // An aborted socket may never say disconnected().
    QObject::connect(&socket, &QObject::destroyed, closer, &FtpLingeringClose::begin);
}

FtpLingeringClose::FtpLingeringClose(int descriptor)
    : QObject(QCoreApplication::instance()), mDescriptor(descriptor)
{
    mGrace.setSingleShot(true);
    mGrace.setInterval(ServerCloseGraceMs);
    connect(&mGrace, &QTimer::timeout, this, &FtpLingeringClose::halfClose);
    mLimit.setSingleShot(true);
    mLimit.setInterval(LingerLimitMs);
    connect(&mLimit, &QTimer::timeout, this, &FtpLingeringClose::end);
}

FtpLingeringClose::~FtpLingeringClose()
{
    mNotifier.reset();
    // Everything the server sent was read, so this is an orderly close, not a reset.
    if (mDescriptor >= 0)
        ::close(mDescriptor);
}

void FtpLingeringClose::begin()
{
    if (mBegun || mDescriptor < 0)
        return;
    mBegun = true;
    // No FIN yet: see the class comment.
    mNotifier = std::make_unique<QSocketNotifier>(mDescriptor, QSocketNotifier::Read);
    connect(mNotifier.get(), &QSocketNotifier::activated, this, &FtpLingeringClose::drain);
    mGrace.start();
    mLimit.start();
    drain();
}

void FtpLingeringClose::drain()
{
    char discard[16 * 1024];
    for (;;) {
        const ssize_t got = ::recv(mDescriptor, discard, sizeof discard, MSG_DONTWAIT);
        if (got > 0)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        end(); // the server closed its side, or the connection is gone
        return;
    }
}

void FtpLingeringClose::halfClose()
{
    ::shutdown(mDescriptor, SHUT_WR);
}

void FtpLingeringClose::end()
{
    mGrace.stop();
    mLimit.stop();
    if (mNotifier)
        mNotifier->setEnabled(false);
    deleteLater();
}
