#pragma once

#include <QString>
#include <QStringList>

// Path and message helpers of the upload session. Relative local paths use "\" between names,
// remote paths use "/"; pieces taken from local paths may still carry "\" when they are joined into
// a remote path, so both joins accept either separator at the seam. All comparisons are exact.

// first + "/" + second, after dropping one trailing "/" and then one trailing "\" from the first
// piece and one leading "/" and then one leading "\" from the second. Empty pieces are joined as
// they are.
[[nodiscard]] QString JoinRemotePath(QString first, QString second);

// As JoinRemotePath with "\", but an empty first piece (after trimming) gives the second piece
// alone.
[[nodiscard]] QString JoinLocalPath(QString first, QString second);

// Every "\" becomes "/".
[[nodiscard]] QString ToRemoteSlashes(QString path);

// A relative path split at its last "/" or "\": the folder part (possibly empty) and the name.
struct PathAndFileName
{
    QString DirName;
    QString FileName;
};
[[nodiscard]] PathAndFileName SplitPathAndFileName(const QString &path);

// The folder names of a remote path from the server's root. "/" and "\" both separate names;
// separators at either end and repeated separators carry no meaning, so "/a/b", "a/b", "\a\b\" and
// "//a///b" all give {"a", "b"}. "." and ".." are ordinary names here. There is no limit on the
// depth.
[[nodiscard]] QStringList SplitRemotePath(const QString &path);

// Whether two remote paths name the same folder, name by name (case included).
[[nodiscard]] bool SameRemotePath(const QString &first, const QString &second);

// A folder of the site (a relative path, "\" or "/" between names) as a remote path down from the
// base folder: "seiten/a" for "seiten\a"; empty for the site's own folder.
[[nodiscard]] QString RemotePathDown(const QString &siteFolder);

// The local file-system path of a path relative to the site folder: the site folder, "/", and the
// relative path with its "\" separators turned into "/". Only here does a relative path become
// native.
[[nodiscard]] QString NativeLocalPath(const QString &siteFolder, const QString &relativePath);
