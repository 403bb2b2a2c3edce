#include "ftpconnectiondescriptor.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

quint16 portOf(const sockaddr_storage &address)
{
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
    return 0;
}

bool isEnd(const sockaddr_storage &address, const QHostAddress &host, quint16 port)
{
    return port != 0 && portOf(address) == port &&
           QHostAddress(reinterpret_cast<const sockaddr *>(&address))
               .isEqual(host, QHostAddress::ConvertV4MappedToIPv4);
}

bool carriesOwnConnection(const QAbstractSocket &socket)
{
    if (socket.state() != QAbstractSocket::ConnectedState &&
        socket.state() != QAbstractSocket::ClosingState)
        return false;
    const qintptr descriptor = socket.socketDescriptor();
    if (descriptor < 0)
        return false;
    const int fd = int(descriptor);
    int type = 0;
    socklen_t typeLength = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 || type != SOCK_STREAM)
        return false;
    sockaddr_storage local{};
    sockaddr_storage peer{};
    socklen_t localLength = sizeof local;
    socklen_t peerLength = sizeof peer;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localLength) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLength) != 0)
        return false;
    return isEnd(local, socket.localAddress(), socket.localPort()) &&
           isEnd(peer, socket.peerAddress(), socket.peerPort());
}

} // namespace

int FtpConnectionDescriptor(const QAbstractSocket &socket)
{
    if (carriesOwnConnection(socket))
        return int(socket.socketDescriptor());
    const auto inner = socket.findChildren<QAbstractSocket *>();
    for (const QAbstractSocket *candidate : inner) {
        if (carriesOwnConnection(*candidate))
            return int(candidate->socketDescriptor());
    }
    return -1;
}
