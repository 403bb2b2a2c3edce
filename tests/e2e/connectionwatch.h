#pragma once

#include <QtGlobal>

// Counts the established TCP connections to a local port, from /proc/net/tcp and /proc/net/tcp6, so
// that a test can see from outside when a program has ended its FTP session or opened a data
// connection.
int EstablishedConnectionsTo(quint16 port);
