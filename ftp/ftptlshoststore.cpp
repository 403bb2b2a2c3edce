#include "ftptlshoststore.h"

#include "ftpcertificatestore.h"
#include "ftpstatefile.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

namespace {

// Blanks and tabs between host and port count alike: the file is meant to be edited by hand.
QString normalised(const QString &line)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    return line.split(blanks, Qt::SkipEmptyParts).join(QLatin1Char(' ')).toLower();
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
    const auto lines = ReadFtpStateLines(mPath, error);
    if (!lines)
        return std::nullopt;
    const QString wanted = key(host, port);
    return std::any_of(lines->begin(), lines->end(),
                       [&wanted](const QString &line) { return normalised(line) == wanted; });
}

bool FtpTlsHostStore::remember(const QString &host, quint16 port, QString *error)
{
    auto lines = ReadFtpStateLines(mPath, error);
    if (!lines)
        return false;
    const QString added = key(host, port);
    if (std::any_of(lines->begin(), lines->end(),
                    [&added](const QString &line) { return normalised(line) == added; }))
        return true;
    if (lines->isEmpty())
        lines->append(QStringLiteral("# FTP servers that completed a log-in over TLS: host port. "
                                     "Plain FTP to them is refused; delete a line to forget a "
                                     "server."));
    lines->append(added);
    return WriteFtpStateLines(mPath, *lines, error);
}
