#pragma once

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

// The entries of one local folder that belong to the site: regular files and folders, symbolic
// links followed. Left out are hidden names (beginning with "."), everything else (sockets, pipes,
// devices, links that lead nowhere or round in a circle), and names the upload log and the FTP
// dialogue cannot carry: names containing "\", CR or LF, and names that are not valid in the
// system's encoding. Sorted by lower-case name, ties by the real name, so that logs and uploads
// come out the same on every run whatever order the file system keeps.
//
// A folder that cannot be listed, or an entry that exists but cannot be examined, raises
// ProgramError: leaving it out would make the clean-up delete it on the server.
[[nodiscard]] QList<LocalFolderEntry> ListLocalFolder(const QString &nativeFolder);

// The identity of the folder at a path (links followed); raises ProgramError when there is none.
[[nodiscard]] LocalFolderId IdentifyLocalFolder(const QString &nativeFolder);
