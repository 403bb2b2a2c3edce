#include "ftpcertificatestore.h"

#include "ftphostkey.h"
#include "ftpstatefile.h"

namespace {

// "host port fingerprint": the key of the host and port, or nothing for a comment or a broken
// line.
std::optional<QString> keyOfLine(const QString &line)
{
    const QStringList words = line.simplified().split(u' ', Qt::SkipEmptyParts);
    if (words.size() != 3 || line.startsWith(QLatin1Char('#')))
        return std::nullopt;
    return FtpCertificateStore::key(words.at(0), words.at(1).toUShort());
}

QByteArray fingerprintOfLine(const QString &line)
{
    return line.mid(line.lastIndexOf(QLatin1Char(' ')) + 1).trimmed().toLatin1().toLower();
}

} // namespace

QString FtpCertificateStore::defaultPath()
{
    return FtpStateFolder() + QStringLiteral("/known-certificates");
}

FtpCertificateStore::FtpCertificateStore(QString path) : mPath(std::move(path)) {}

QString FtpCertificateStore::key(const QString &host, quint16 port)
{
    return FtpHostKey(host) + QLatin1Char(' ') + QString::number(port);
}

std::optional<QByteArray> FtpCertificateStore::fingerprint(const QString &host, quint16 port,
                                                           QString *error) const
{
    return fingerprint(QStringList{host}, port, error);
}

std::optional<QByteArray> FtpCertificateStore::fingerprint(const QStringList &hosts, quint16 port,
                                                           QString *error) const
{
    QString readError;
    const auto lines = ReadFtpStateLines(mPath, &readError);
    if (!lines) {
        if (error)
            *error = readError;
        return std::nullopt;
    }
    for (const QString &host : hosts) {
        const QString wanted = key(host, port);
        for (const QString &line : *lines) {
            if (keyOfLine(line) == wanted)
                return fingerprintOfLine(line);
        }
    }
    return std::nullopt;
}

bool FtpCertificateStore::remember(const QString &host, quint16 port, const QByteArray &fingerprint,
                                   QString *error)
{
    return remember(QStringList{host}, port, fingerprint, error);
}

bool FtpCertificateStore::remember(const QStringList &hosts, quint16 port,
                                   const QByteArray &fingerprint, QString *error)
{
    auto lines = ReadFtpStateLines(mPath, error);
    if (!lines)
        return false;
    QStringList replaced;
    for (const QString &host : hosts)
        replaced.append(key(host, port));
    replaced.removeDuplicates();
    lines->removeIf([&replaced](const QString &line) {
        const auto lineKey = keyOfLine(line);
        return lineKey && replaced.contains(*lineKey);
    });
    if (lines->isEmpty())
        lines->append(QStringLiteral("# FTP server certificates trusted on first use: host port "
                                     "SHA-256. Delete a line to forget a server's certificate."));
    for (const QString &added : std::as_const(replaced))
        lines->append(added + QLatin1Char(' ') + QString::fromLatin1(fingerprint.toLower()));
    return WriteFtpStateLines(mPath, *lines, error);
}
