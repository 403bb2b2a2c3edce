#include "ftpstatefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

constexpr QFileDevice::Permissions OwnerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions OwnerOnlyFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// Each folder this creates is private from the start; folders that exist are left as they are,
// except the state file's own, which holds nothing anybody else needs to see.
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

QString FtpStateFolder()
{
    // XDG: a relative XDG_STATE_HOME is invalid and ignored.
    const QString fromEnvironment = qEnvironmentVariable("XDG_STATE_HOME");
    const QString base = !fromEnvironment.isEmpty() && QDir::isAbsolutePath(fromEnvironment)
                             ? fromEnvironment
                             : QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/vellumix/parcelup");
}

std::optional<QStringList> ReadFtpStateLines(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return QStringList();
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read \"%1\": %2").arg(path, file.errorString());
        return std::nullopt;
    }
    QStringList lines;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}

bool WriteFtpStateLines(const QString &path, const QStringList &lines, QString *error)
{
    if (!makePrivateFolder(QFileInfo(path).absolutePath(), error))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || !file.setPermissions(OwnerOnlyFile) ||
        file.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0 ||
        !file.commit()) {
        *error = QStringLiteral("cannot write \"%1\": %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
