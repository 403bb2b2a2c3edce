#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A folder on disk, identified the way the kernel does: two paths that reach the same folder
// (through a symbolic link, say) have the same device and inode.
struct LocalFolderId
{
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const LocalFolderId &) const = default;
};

// One entry of a site folder as the scan sees it.
struct LocalFolderEntry
{
    QString name;      // the real name on disk, which opens the file
    QString lowerName; // the name the program shows, logs and sends to the server
    bool isFolder = false;
    LocalFolderId id; // of the folder the entry leads to; only for folders
};

// An entry that would belong to the site but whose name cannot be published (see
// IsPublishableName). The site cannot hold it, and the run says so instead of leaving it out in
// silence.
struct UnpublishableEntry
{
    QByteArray rawName; // the bytes on disk
    QString shownName;  // as the user is shown it, invalid bytes escaped (ShowableName)
    bool isFolder = false;
    LocalFolderId id; // of the folder the entry leads to; only for folders
};

// The entries of one local folder that belong to the site: regular files and folders, symbolic
// links followed. Left out are hidden names (beginning with "."), everything else (sockets, pipes,
// devices, links that lead nowhere or round in a circle), and names the upload log and the FTP
// dialogue cannot carry: names containing "\", CR or LF, and names that are not valid UTF-8. Sorted
// by lower-case name, ties by the real name, so that logs and uploads come out the same on every
// run whatever order the file system keeps.
//
// When unpublishable is given, it receives the regular files and folders among the entries left
// out for their names, examined by their bytes on disk and sorted in the same way.
//
// A folder that cannot be listed, or an entry that exists but cannot be examined, raises
// ProgramError: leaving it out would make the clean-up delete it on the server.
[[nodiscard]] QList<LocalFolderEntry>
ListLocalFolder(const QString &nativeFolder, QList<UnpublishableEntry> *unpublishable = nullptr);

// The order of ListLocalFolder's entries: by lower-case name, ties by the real name.
[[nodiscard]] bool ListedBefore(const LocalFolderEntry &a, const LocalFolderEntry &b);

// The identity of the folder at a path (links followed); raises ProgramError when there is none.
[[nodiscard]] LocalFolderId IdentifyLocalFolder(const QString &nativeFolder);
