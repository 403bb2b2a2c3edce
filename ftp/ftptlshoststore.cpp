#include "ftptlshoststore.h"

#include "ftpcertificatestore.h"
#include "ftpstatefile.h"

#include <QFileInfo>
#include <algorithm>

namespace {

// "host port" as the store's key. Blanks and tabs between host and port count alike: the file is
// meant to be edited by hand.
std::optional<QString> keyOfLine(const QString &line)
{
    const QStringList words = line.simplified().split(u' ', Qt::SkipEmptyParts);
    if (words.size() != 2 || line.startsWith(QLatin1Char('#')))
        return std::nullopt;
    return FtpTlsHostStore::key(words.at(0), words.at(1).toUShort());
}

QStringList keysOf(const QStringList &hosts, quint16 port)
{
    QStringList keys;
    for (const QString &host : hosts)
        keys.append(FtpTlsHostStore::key(host, port));
    keys.removeDuplicates();
    return keys;
}

bool holdsAny(const QStringList &lines, const QStringList &keys)
{
    return std::any_of(lines.begin(), lines.end(), [&keys](const QString &line) {
        const auto lineKey = keyOfLine(line);
        return lineKey && keys.contains(*lineKey);
    });
}

} // namespace

QString FtpTlsHostStore::defaultPath()
{
    return FtpStateFolder() + QStringLiteral("/tls-hosts");
}

QString FtpTlsHostStore::pathBeside(const QString &certificateStorePath)
{
    return QFileInfo(certificateStorePath).absolutePath() + QStringLiteral("/tls-hosts");
}

FtpTlsHostStore::FtpTlsHostStore(QString path) : mPath(std::move(path)) {}

QString FtpTlsHostStore::key(const QString &host, quint16 port)
{
    return FtpCertificateStore::key(host, port);
}

std::optional<bool> FtpTlsHostStore::contains(const QString &host, quint16 port,
                                              QString *error) const
{
    return contains(QStringList{host}, port, error);
}

std::optional<bool> FtpTlsHostStore::contains(const QStringList &hosts, quint16 port,
                                              QString *error) const
{
    const auto lines = ReadFtpStateLines(mPath, error);
    if (!lines)
        return std::nullopt;
    return holdsAny(*lines, keysOf(hosts, port));
}

bool FtpTlsHostStore::remember(const QString &host, quint16 port, QString *error)
{
    return remember(QStringList{host}, port, error);
}

bool FtpTlsHostStore::remember(const QStringList &hosts, quint16 port, QString *error)
{
    auto lines = ReadFtpStateLines(mPath, error);
    if (!lines)
        return false;
    QStringList added;
    for (const QString &key : keysOf(hosts, port)) {
        if (!holdsAny(*lines, {key}))
            added.append(key);
    }
    if (added.isEmpty())
        return true;
    if (lines->isEmpty())
        lines->append(QStringLiteral("# FTP servers that completed a log-in over TLS: host port. "
                                     "Plain FTP to them is refused; delete a line to forget a "
                                     "server."));
    lines->append(added);
    return WriteFtpStateLines(mPath, *lines, error);
}
