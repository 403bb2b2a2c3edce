#include "privatefolder.h"
#include "programerror.h"
#include "stringtable.h"
#include "systemhelpers.h"

#include <QDir>
#include <cstring>
#include <unistd.h>

namespace {

QString withTrailingSlash(QString path)
{
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

// A folder we keep private files in must be a real folder (not a link someone planted), ours, and
// closed to everybody else. One that is ours but too open is closed; anything else is refused.
void ensurePrivateFolder(const QString &folder)
{
    const PrivateFolderOutcome made = MakePrivateFolder(folder);
    if (made.state == PrivateFolderOutcome::State::NotCreated)
        throw ProgramError(
            ProgramError::PathFileAccessError,
            ResourceString(MessageId::FolderNotCreatedLocally,
                           {folder, QString::fromLocal8Bit(std::strerror(made.error))}));
    if (!made.ready())
        throw ProgramError(ProgramError::PathFileAccessError,
                           ResourceString(MessageId::FolderNotPrivate, {folder}));
}

} // namespace

QString GetTempFolder()
{
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && QDir::isAbsolutePath(runtimeDir) && IsPrivateFolder(runtimeDir))
        return withTrailingSlash(runtimeDir);

    const QString folder =
        withTrailingSlash(QDir::tempPath()) + QStringLiteral("parcelup-%1").arg(::getuid());
    ensurePrivateFolder(folder);
    return withTrailingSlash(folder);
}

QString GetStateFolder()
{
    QString folder = StateFolderPath();
    folder.chop(1);
    ensurePrivateFolder(folder);
    return withTrailingSlash(folder);
}
