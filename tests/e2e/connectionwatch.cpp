#include "connectionwatch.h"

#include <QFile>
#include <QStringList>

namespace {

// Lines look like "  0: 0100007F:D431 0100007F:0015 01 ...": local address, remote address, state.
int countIn(const QString &table, quint16 port)
{
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    int count = 0;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 4 || fields.at(3) != "01")
            continue;
        const QByteArray remote = fields.at(2);
        bool ok = false;
        const uint remotePort = remote.mid(remote.lastIndexOf(':') + 1).toUInt(&ok, 16);
        if (ok && remotePort == port)
            ++count;
    }
    return count;
}

} // namespace

int EstablishedConnectionsTo(quint16 port)
{
    return countIn(QStringLiteral("/proc/net/tcp"), port) +
           countIn(QStringLiteral("/proc/net/tcp6"), port);
}
