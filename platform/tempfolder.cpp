#include "programerror.h"
#include "stringtable.h"
#include "systemhelpers.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString withTrailingSlash(QString path)
{
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

[[noreturn]] void refuse(const QString &folder)
{
    throw ProgramError(
        ProgramError::PathFileAccessError,
        ResourceString(MessageId::FolderNotPrivate).replace(QLatin1String("%1"), folder));
}

// A folder we keep private files in must be a real folder (not a link someone planted), ours, and
// closed to everybody else. One that is ours but too open is closed; anything else is refused.
void ensurePrivateFolder(const QString &folder)
{
    const QByteArray native = QFile::encodeName(folder);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        const int error = errno;
        throw ProgramError(
            ProgramError::PathFileAccessError,
            ResourceString(MessageId::FolderNotCreatedLocally)
                .replace(QLatin1String("%1"), folder)
                .replace(QLatin1String("%2"), QString::fromLocal8Bit(std::strerror(error))));
    }
    struct stat info
    {
    };
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid())
        refuse(folder);
    if ((info.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0)
        refuse(folder);
}

bool isUsablePrivateFolder(const QString &folder)
{
    struct stat info
    {
    };
    const QByteArray native = QFile::encodeName(folder);
    return ::stat(native.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

} // namespace

QString GetTempFolder()
{
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && QDir::isAbsolutePath(runtimeDir) &&
        isUsablePrivateFolder(runtimeDir))
        return withTrailingSlash(runtimeDir);

    const QString folder =
        withTrailingSlash(QDir::tempPath()) + QStringLiteral("parcelup-%1").arg(::getuid());
    ensurePrivateFolder(folder);
    return withTrailingSlash(folder);
}

QString StateFolderPath()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/vellumix/parcelup/");
}

QString GetStateFolder()
{
    QString folder = StateFolderPath();
    folder.chop(1);
    if (!QDir().mkpath(folder)) {
        throw ProgramError(
            ProgramError::PathFileAccessError,
            ResourceString(MessageId::FolderNotCreatedLocally)
                .replace(QLatin1String("%1"), folder)
                .replace(QLatin1String("%2"), QString::fromLocal8Bit(std::strerror(errno))));
    }
    ensurePrivateFolder(folder);
    return withTrailingSlash(folder);
}
