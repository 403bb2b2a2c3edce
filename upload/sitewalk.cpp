#include "sitewalk.h"

#include "localfileerror.h"
#include "localfolder.h"
#include "pathhelpers.h"

#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <vector>

namespace {

// Where the walk stands: the folder's relative path as the caller names it, the same with the real
// names, and its native path.
struct FolderPosition
{
    QString path;
    QString localPath;
    QString nativePath;
};

// The folders from the site folder down to the one being walked.
using FolderTrail = std::vector<LocalFolderId>;

bool isSiteFolder(const QString &relativePath)
{
    return relativePath.isEmpty() || relativePath == QLatin1String("\\");
}

QString nativeChild(const QString &nativeFolder, const QString &name)
{
    if (nativeFolder.endsWith(QLatin1Char('/')))
        return nativeFolder + name;
    return nativeFolder + QLatin1Char('/') + name;
}

// The starting folder of a walk: the site folder, or the folder that mySubDir names, found name by
// name so that its real spelling on disk is used (the exact spelling wins over another case).
FolderPosition locate(const QString &siteFolder, const QString &mySubDir, FolderTrail &trail)
{
    FolderPosition position{mySubDir, QStringLiteral("\\"), NativeLocalPath(siteFolder, QString())};
    trail.push_back(IdentifyLocalFolder(position.nativePath));
    if (isSiteFolder(mySubDir))
        return position;

    const QStringList names = mySubDir.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    for (const QString &wanted : names) {
        const QList<LocalFolderEntry> entries = ListLocalFolder(position.nativePath);
        const QString wantedLower = wanted.toLower();
        const LocalFolderEntry *found = nullptr;
        for (const LocalFolderEntry &entry : entries) {
            if (entry.isFolder && entry.lowerName == wantedLower &&
                (!found || entry.name == wanted))
                found = &entry;
        }
        if (!found)
            ThrowFolderReadError(nativeChild(position.nativePath, wanted), ENOENT);
        position.localPath = JoinLocalPath(position.localPath, found->name);
        position.nativePath = nativeChild(position.nativePath, found->name);
        trail.push_back(found->id);
    }
    return position;
}

// The folder's path as the user is shown it, ready for a name to be appended: "" for the site
// folder, "Bilder/Icons/" below it. Names the walk enters contain no "\", so every "\" of the
// path is a separator.
QString shownFolderPrefix(const FolderPosition &position)
{
    if (isSiteFolder(position.localPath))
        return QString();
    return ToRemoteSlashes(position.localPath) + QLatin1Char('/');
}

void walk(const FolderPosition &position, FolderTrail &trail, const SiteWalkSteps &steps)
{
    QList<UnpublishableEntry> unpublishable;
    const QList<LocalFolderEntry> entries =
        ListLocalFolder(position.nativePath, steps.unpublishable ? &unpublishable : nullptr);

    for (const LocalFolderEntry &entry : entries) {
        if (!entry.isFolder)
            continue;
        // A link back to a folder above would make the walk endless.
        if (std::find(trail.cbegin(), trail.cend(), entry.id) != trail.cend())
            continue;
        trail.push_back(entry.id);
        walk({JoinLocalPath(position.path, entry.lowerName),
              JoinLocalPath(position.localPath, entry.name),
              nativeChild(position.nativePath, entry.name)},
             trail, steps);
        trail.pop_back();
    }

    steps.folderDone(position.path);

    for (const UnpublishableEntry &entry : std::as_const(unpublishable)) {
        // A folder that leads back into the tree stays silent, as it does with a usable name.
        if (entry.isFolder && std::find(trail.cbegin(), trail.cend(), entry.id) != trail.cend())
            continue;
        steps.unpublishable(shownFolderPrefix(position) + entry.shownName +
                            (entry.isFolder ? QStringLiteral("/") : QString()));
    }

    for (const LocalFolderEntry &entry : entries) {
        if (entry.isFolder)
            continue;
        steps.file(SiteFile{JoinLocalPath(position.path, entry.lowerName),
                            JoinLocalPath(position.localPath, entry.name), entry.lowerName,
                            nativeChild(position.nativePath, entry.name)});
    }
}

} // namespace

void WalkSiteFolder(const QString &siteFolder, const QString &mySubDir, const SiteWalkSteps &steps)
{
    FolderTrail trail;
    const FolderPosition start = locate(siteFolder, mySubDir, trail);
    walk(start, trail, steps);
}
