#include "ftpcertificatestore.h"

#include "ftpstatefile.h"

#include <QStringList>

namespace {

// "host port fingerprint": the host and port part, or nothing for a comment or a broken line.
std::optional<QString> keyOfLine(const QString &line)
{
    const qsizetype lastBlank = line.lastIndexOf(QLatin1Char(' '));
    if (lastBlank <= 0 || line.startsWith(QLatin1Char('#')))
        return std::nullopt;
    return line.left(lastBlank).trimmed();
}

} // namespace

QString FtpCertificateStore::defaultPath()
{
    return FtpStateFolder() + QStringLiteral("/known-certificates");
}

FtpCertificateStore::FtpCertificateStore(QString path) : mPath(std::move(path)) {}

QString FtpCertificateStore::key(const QString &host, quint16 port)
{
    return host.toLower() + QLatin1Char(' ') + QString::number(port);
}

std::optional<QByteArray> FtpCertificateStore::fingerprint(const QString &host, quint16 port,
                                                           QString *error) const
{
    QString readError;
    const auto lines = ReadFtpStateLines(mPath, &readError);
    if (!lines) {
        if (error)
            *error = readError;
        return std::nullopt;
    }
    const QString wanted = key(host, port);
    for (const QString &line : *lines) {
        if (keyOfLine(line) == wanted)
            return line.mid(line.lastIndexOf(QLatin1Char(' ')) + 1).toLatin1().toLower();
    }
    return std::nullopt;
}

bool FtpCertificateStore::remember(const QString &host, quint16 port, const QByteArray &fingerprint,
                                   QString *error)
{
    auto lines = ReadFtpStateLines(mPath, error);
    if (!lines)
        return false;
    const QString replaced = key(host, port);
    lines->removeIf([&replaced](const QString &line) { return keyOfLine(line) == replaced; });
    if (lines->isEmpty())
        lines->append(QStringLiteral("# FTP server certificates trusted on first use: host port "
                                     "SHA-256. Delete a line to forget a server's certificate."));
    lines->append(replaced + QLatin1Char(' ') + QString::fromLatin1(fingerprint.toLower()));
    return WriteFtpStateLines(mPath, *lines, error);
}
