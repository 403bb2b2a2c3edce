#include "classupload.h"
#include "localfileerror.h"
#include "localfolder.h"
#include "pathhelpers.h"
#include "programerror.h"
#include "regularfile.h"
#include "sitewalk.h"
#include "stringtable.h"
#include "uploadorder.h"

#include <cerrno>
#include <limits>

// The upload list: the files to send, in the order of the walk (each folder's subfolders first,
// the site folder's own files last), each with its size. In differential mode only files whose
// change marker is set are taken. A run walks the site once: the same walk gives the log list
// (uploadlog.cpp) its lines, a folder line once the folder's subfolders are done, then the bare
// names of its files.

namespace {

const QString kUploadLogName = UploadLogName();

QString folderLine(const QString &folderPath)
{
    if (folderPath == QLatin1String("\\"))
        return folderPath;
    return folderPath + QLatin1Char('\\');
}

// The upload log has just been written into the site folder, and a walk made before it existed
// (the first run, or something in its place that was no file) did not find it. It goes where the
// walk would have found it: among the site folder's own files, which come last, in the order of
// the folder's listing.
void includeWrittenLog(QList<SiteFile> &found, const QString &siteFolder)
{
    // Names hold no "\", so a site folder's file has none in its path.
    qsizetype first = found.size();
    while (first > 0 && !found.at(first - 1).localPath.contains(QLatin1Char('\\')))
        --first;
    const LocalFolderEntry log{kUploadLogName, kUploadLogName, false, {}};
    qsizetype at = found.size();
    for (qsizetype i = found.size() - 1; i >= first; --i) {
        const SiteFile &file = found.at(i);
        if (file.localPath == kUploadLogName)
            return;
        if (ListedBefore(log, LocalFolderEntry{file.localPath, file.name, false, {}}))
            at = i;
    }
    found.insert(at, SiteFile{kUploadLogName, kUploadLogName, kUploadLogName,
                              NativeLocalPath(siteFolder, kUploadLogName)});
}

// Opens the file as the upload will, so a file that cannot be read ends the run here, before
// anything is sent, and not halfway through the upload.
qint64 readableFileSize(const QString &nativePath)
{
    const RegularFileForReading opened(nativePath);
    switch (opened.state()) {
    case RegularFileForReading::State::Open:
        return opened.size();
    case RegularFileForReading::State::NotRegular:
        ThrowNotARegularFile(nativePath);
    case RegularFileForReading::State::NotOpened:
    case RegularFileForReading::State::NotExamined:
        break;
    }
    ThrowFileReadError(nativePath, opened.error());
}

} // namespace

void classUpload::ScanLocalSubDir(const QString &mySubDir)
{
    ScanSite(mySubDir, mSettings.mDifferentialMode);
}

void classUpload::ScanSite(const QString &mySubDir, bool consultMarkers)
{
    QStringList seen;
    WalkSite(mySubDir, false, [this, &seen, consultMarkers](const SiteFile &file) {
        QueueSiteFile(file, consultMarkers, seen);
    });
    if (consultMarkers)
        FinishContentCheck();
    ForgetFilesNotSeen(mySubDir, seen);
}

void classUpload::BuildFileLogAndUploadList()
{
    // The walk's files are queued once the upload log is written: the log is one of them, and
    // its size is known only then.
    QList<SiteFile> found;
    WalkSite(QStringLiteral("\\"), true, [&found](const SiteFile &file) { found.append(file); });
    ReadPreviousLocalLog();
    // A preview leaves the local log as the last real run wrote it.
    if (!mSettings.mPreviewOnly) {
        WriteFileLog();
        includeWrittenLog(found, mSettings.mLocalBaseDir);
    }
    // Which files changed depends on the destination, which is known after the log-in; until
    // then every file is queued (KeepChangedFiles).
    QStringList seen;
    for (const SiteFile &file : std::as_const(found))
        QueueSiteFile(file, false, seen);
    ForgetFilesNotSeen(QStringLiteral("\\"), seen);
}

void classUpload::WalkSite(const QString &mySubDir, bool buildLog,
                           const std::function<void(const SiteFile &)> &found)
{
    SiteWalkSteps steps{[](const QString &) {}, [](const SiteFile &) {}};
    if (buildLog) {
        steps.folderDone = [this](const QString &folderPath) {
            AddLogEntry(folderLine(folderPath));
        };
    }
    steps.file = [this, buildLog, &found](const SiteFile &file) {
        // The log does not list itself: it is rewritten before every upload.
        if (buildLog && file.name != kUploadLogName)
            AddLogEntry(file.name);
        if (found)
            found(file);
    };
    // Only the walk for the upload list decides what the run names as not published.
    if (found)
        steps.unpublishable = [this](const QString &shownPath) { NoteUnpublishable(shownPath); };
    WalkSiteFolder(mSettings.mLocalBaseDir, mySubDir, steps);
}

void classUpload::QueueSiteFile(const SiteFile &file, bool consultMarkers, QStringList &seen)
{
    seen.append(file.nativePath);
    if (consultMarkers) {
        const std::optional<FileIdentity> identity =
            ChangeMarkerStore::readIdentity(file.nativePath);
        // Gone or unreadable since the folder was listed; errno is stat's.
        if (!identity)
            ThrowFileReadError(file.nativePath, errno);
        if (!NeedsUpload(file.path, file.nativePath, *identity))
            return;
    }
    AddUploadFile(file.path, file.localPath, file.nativePath);
}

void classUpload::ForgetFilesNotSeen(const QString &mySubDir, const QStringList &seen)
{
    // What the whole site no longer holds is no longer published as far as the markers know.
    if (!mSettings.mPreviewOnly && (mySubDir.isEmpty() || mySubDir == QLatin1String("\\")))
        markers().forgetAllBut(NativeLocalPath(mSettings.mLocalBaseDir, QString()), seen);
}

void classUpload::AddUploadFile(const QString &myPath, const QString &myLocalPath,
                                const QString &myNativePath)
{
    if (mQueue.mUploadCount == std::numeric_limits<qint32>::max())
        throw ProgramError(ProgramError::Overflow, ResourceString(MessageId::Overflow));

    UploadItem item;
    item.Path = myPath.toLower();
    item.LocalPath = myLocalPath.isEmpty() ? myPath : myLocalPath;
    item.NativePath = myNativePath;
    item.Size = readableFileSize(item.NativePath);

    mQueue.mUploadList.append(item);
    ++mQueue.mUploadCount;
    mQueue.mTotalBytes += static_cast<double>(item.Size);
}

ChangeMarkerStore &classUpload::markers()
{
    // A preview reads the markers and changes nothing, not even by creating the store.
    if (!mMarkers && mSettings.mPreviewOnly)
        mMarkers = std::make_unique<ChangeMarkerStore>(ChangeMarkerStore::defaultPathToRead(),
                                                       ChangeMarkerStore::Access::ReadOnly);
    if (!mMarkers)
        mMarkers = std::make_unique<ChangeMarkerStore>(ChangeMarkerStore::defaultPath());
    return *mMarkers;
}
