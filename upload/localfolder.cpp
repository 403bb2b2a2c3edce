#include "localfolder.h"

#include "localfileerror.h"
#include "publishablename.h"

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

} // namespace

QList<LocalFolderEntry> ListLocalFolder(const QString &nativeFolder,
                                        QList<UnpublishableEntry> *unpublishable)
{
    const QByteArray nativeName = QFile::encodeName(nativeFolder);
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(nativeName.constData()));
    if (!dir)
        ThrowFolderReadError(nativeFolder, errno);
    const int dirFd = ::dirfd(dir.get());

    QList<LocalFolderEntry> entries;
    QList<UnpublishableEntry> refused;
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
        const bool publishable = IsPublishableName(rawName);
        if (!publishable && !unpublishable)
            continue;
        // From here on the entry is examined through its bytes on disk (d_name), never through a
        // text form: an unpublishable name has none that would open it again. Its shown form only
        // names it in messages.
        const QString name = publishable ? QFile::decodeName(rawName) : ShowableName(rawName);

        bool isFolder = false;
        LocalFolderId id;
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
                isFolder = true;
                id = folderIdOf(info);
            } else if (!S_ISREG(info.st_mode)) {
                continue;
            }
        }
        if (publishable)
            entries.append({name, name.toLower(), isFolder, id});
        else
            refused.append({rawName, name, isFolder, id});
    }

    std::sort(entries.begin(), entries.end(), ListedBefore);
    if (unpublishable) {
        // In the same order as the site's own entries, by the shown name: the bytes of a name that
        // is not UTF-8 have no case of their own. Such names are rare, so the lower-case forms are
        // not kept.
        std::sort(refused.begin(), refused.end(),
                  [](const UnpublishableEntry &a, const UnpublishableEntry &b) {
                      const QString lowerA = a.shownName.toLower();
                      const QString lowerB = b.shownName.toLower();
                      if (lowerA != lowerB)
                          return lowerA < lowerB;
                      return a.rawName < b.rawName;
                  });
        *unpublishable = std::move(refused);
    }
    return entries;
}

bool ListedBefore(const LocalFolderEntry &a, const LocalFolderEntry &b)
{
    if (a.lowerName != b.lowerName)
        return a.lowerName < b.lowerName;
    return a.name < b.name;
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
