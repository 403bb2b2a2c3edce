#include "privatefolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

QString StateFolderPath()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/vellumix/parcelup/");
}

PrivateFolderOutcome MakePrivateFolder(const QString &folder)
{
    using State = PrivateFolderOutcome::State;
    const QString parent = QFileInfo(folder).absolutePath();
    if (!QDir().mkpath(parent))
        return {State::NotCreated, errno};
    // Created closed, never open for a moment; lstat, not stat: a link in the folder's place is
    // refused, not followed.
    const QByteArray native = QFile::encodeName(folder);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return {State::NotCreated, errno};
    struct stat info
    {
    };
    if (::lstat(native.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid())
        return {State::NotPrivate, 0};
    if ((info.st_mode & 077) != 0 && ::chmod(native.constData(), 0700) != 0)
        return {State::NotPrivate, errno};
    return {};
}

bool IsPrivateFolder(const QString &folder)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(folder).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}
