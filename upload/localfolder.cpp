#include "localfolder.h"

#include "localfileerror.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace {

struct DirCloser
{
    void operator()(DIR *dir) const { ::closedir(dir); }
};

LocalFolderId folderIdOf(const struct stat &info)
{
    return {static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino)};
}

// Characters that would break a line of the upload log or a command to the server, or that the
// relative paths use as their separator.
bool hasUnusableCharacter(const QString &name)
{
    return name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char('\r')) ||
           name.contains(QLatin1Char('\n'));
}

} // namespace

QList<LocalFolderEntry> ListLocalFolder(const QString &nativeFolder)
{
    const QByteArray nativeName = QFile::encodeName(nativeFolder);
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(nativeName.constData()));
    if (!dir)
        ThrowFolderReadError(nativeFolder, errno);
    const int dirFd = ::dirfd(dir.get());

    QList<LocalFolderEntry> entries;
    while (true) {
        errno = 0;
        const dirent *item = ::readdir(dir.get());
        if (!item) {
            if (errno != 0)
                ThrowFolderReadError(nativeFolder, errno);
            break;
        }
        // Hidden names, and "." and "..".
        if (item->d_name[0] == '.')
            continue;

        const QByteArray rawName(item->d_name);
        const QString name = QFile::decodeName(rawName);
        // A name in another encoding cannot be opened again through its decoded form.
        if (QFile::encodeName(name) != rawName || hasUnusableCharacter(name))
            continue;

        LocalFolderEntry entry;
        // The folder entry usually says what it is; a plain file then needs no look of its own,
        // which halves the system calls of a walk. Folders are examined for their identity, links
        // for what they lead to.
        if (item->d_type != DT_REG) {
            if (item->d_type != DT_DIR && item->d_type != DT_LNK && item->d_type != DT_UNKNOWN)
                continue;
            struct stat info
            {
            };
            if (::fstatat(dirFd, item->d_name, &info, 0) != 0) {
                const int error = errno;
                // Gone since the listing, a link to nothing or a circle of links: not part of the
                // site.
                if (error == ENOENT || error == ENOTDIR || error == ELOOP)
                    continue;
                ThrowFileReadError(nativeFolder + QLatin1Char('/') + name, error);
            }
            if (S_ISDIR(info.st_mode)) {
                entry.isFolder = true;
                entry.id = folderIdOf(info);
            } else if (!S_ISREG(info.st_mode)) {
                continue;
            }
        }
        entry.lowerName = name.toLower();
        entry.name = name;
        entries.append(std::move(entry));
    }

    std::sort(entries.begin(), entries.end(),
              [](const LocalFolderEntry &a, const LocalFolderEntry &b) {
                  if (a.lowerName != b.lowerName)
                      return a.lowerName < b.lowerName;
                  return a.name < b.name;
              });
    return entries;
}

LocalFolderId IdentifyLocalFolder(const QString &nativeFolder)
{
    struct stat info
    {
    };
    const QByteArray nativeName = QFile::encodeName(nativeFolder);
    if (::stat(nativeName.constData(), &info) != 0)
        ThrowFolderReadError(nativeFolder, errno);
    if (!S_ISDIR(info.st_mode))
        ThrowFolderReadError(nativeFolder, ENOTDIR);
    return folderIdOf(info);
}
