#pragma once

class QAbstractSocket;

// The operating system's descriptor of the TCP connection that carries a socket's bytes, or -1
// when none can be found.
//
// For a direct connection and through an HTTP CONNECT proxy that is what socketDescriptor()
// returns. Through a SOCKS5 proxy it is not: Qt then hands out a serial number of its own (1, 2,
// 3, ... for each proxied socket of the process), which may be the number of any unrelated
// descriptor: standard error, an open file, the control connection. The real connection, the one
// to the proxy, belongs to a plain socket inside Qt's proxy engine, a descendant of the socket.
//
// So a descriptor is taken only when the kernel confirms that it is a TCP socket whose local and
// remote ends are exactly those that the Qt socket it came from reports; no two connections on a
// machine share both. The socket itself is asked first, then its descendants.
[[nodiscard]] int FtpConnectionDescriptor(const QAbstractSocket &socket);
