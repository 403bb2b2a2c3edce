#include "ftpcertificatestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace {

constexpr QFileDevice::Permissions OwnerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions OwnerOnlyFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

QString stateFolder()
{
    // XDG: a relative XDG_STATE_HOME is invalid and ignored.
    const QString fromEnvironment = qEnvironmentVariable("XDG_STATE_HOME");
    if (!fromEnvironment.isEmpty() && QDir::isAbsolutePath(fromEnvironment))
        return fromEnvironment;
    return QDir::homePath() + QStringLiteral("/.local/state");
}

// Each folder this creates is private from the start; folders that exist are left as they are,
// except the store's own, which holds nothing anybody else needs to see.
bool makePrivateFolder(const QString &folder, QString *error)
{
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create the folder \"%1\"").arg(folder);
        return false;
    }
    if (!QFile::setPermissions(folder, OwnerOnlyFolder)) {
        *error = QStringLiteral("cannot restrict the folder \"%1\" to its owner").arg(folder);
        return false;
    }
    return true;
}

} // namespace

QString FtpCertificateStore::defaultPath()
{
    return stateFolder() + QStringLiteral("/vellumix/parcelup/known-certificates");
}

FtpCertificateStore::FtpCertificateStore(QString path) : mPath(std::move(path)) {}

QString FtpCertificateStore::key(const QString &host, quint16 port)
{
    return host.toLower() + QLatin1Char(' ') + QString::number(port);
}

std::optional<QByteArray> FtpCertificateStore::fingerprint(const QString &host, quint16 port,
                                                           QString *error) const
{
    QFile file(mPath);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (error)
            *error = QStringLiteral("cannot read \"%1\": %2").arg(mPath, file.errorString());
        return std::nullopt;
    }
    const QString wanted = key(host, port);
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype lastBlank = line.lastIndexOf(QLatin1Char(' '));
        if (lastBlank > 0 && line.left(lastBlank).trimmed() == wanted)
            return line.mid(lastBlank + 1).toLatin1().toLower();
    }
    return std::nullopt;
}

bool FtpCertificateStore::remember(const QString &host, quint16 port, const QByteArray &fingerprint,
                                   QString *error)
{
    if (!makePrivateFolder(QFileInfo(mPath).absolutePath(), error))
        return false;

    QStringList lines;
    const QString replaced = key(host, port);
    QFile existing(mPath);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly | QIODevice::Text)) {
            *error = QStringLiteral("cannot read \"%1\": %2").arg(mPath, existing.errorString());
            return false;
        }
        while (!existing.atEnd()) {
            const QString line = QString::fromUtf8(existing.readLine()).trimmed();
            const qsizetype lastBlank = line.lastIndexOf(QLatin1Char(' '));
            if (lastBlank > 0 && !line.startsWith(QLatin1Char('#')) &&
                line.left(lastBlank).trimmed() == replaced)
                continue;
            if (!line.isEmpty())
                lines.append(line);
        }
    } else {
        lines.append(QStringLiteral("# FTP server certificates trusted on first use: host port "
                                    "SHA-256. Delete a line to forget a server's certificate."));
    }
    lines.append(replaced + QLatin1Char(' ') + QString::fromLatin1(fingerprint.toLower()));

    QSaveFile file(mPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || !file.setPermissions(OwnerOnlyFile) ||
        file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0 ||
        !file.commit()) {
        *error = QStringLiteral("cannot write \"%1\": %2").arg(mPath, file.errorString());
        return false;
    }
    return true;
}
