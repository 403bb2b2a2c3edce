#include "classupload.h"
#include "localfileerror.h"
#include "pathhelpers.h"
#include "programerror.h"
#include "sitewalk.h"
#include "stringtable.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

// The upload list: the files to send, in the order of the walk (each folder's subfolders first,
// the site folder's own files last), each with its size. In differential mode only files whose
// change marker is set are taken.

namespace {

// Opens the file as the upload will, so a file that cannot be read ends the run here, before
// anything is sent, and not halfway through the upload. O_NONBLOCK: a pipe put in the file's place
// must not hang the scan.
qint64 readableFileSize(const QString &nativePath)
{
    const int fd = ::open(QFile::encodeName(nativePath).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        ThrowFileReadError(nativePath, errno);
    struct stat info
    {
    };
    const bool examined = ::fstat(fd, &info) == 0;
    const int error = errno;
    ::close(fd);
    if (!examined)
        ThrowFileReadError(nativePath, error);
    if (!S_ISREG(info.st_mode))
        ThrowNotARegularFile(nativePath);
    return static_cast<qint64>(info.st_size);
}

} // namespace

void classUpload::ScanLocalSubDir(const QString &mySubDir)
{
    ScanSite(mySubDir, mDifferentialMode);
}

void classUpload::ScanSite(const QString &mySubDir, bool consultMarkers)
{
    QStringList seen;
    WalkSiteFolder(mLocalBaseDir, mySubDir,
                   {[](const QString &) {},
                    [this, &seen, consultMarkers](const SiteFile &file) {
                        seen.append(file.nativePath);
                        if (consultMarkers) {
                            const std::optional<FileIdentity> identity =
                                ChangeMarkerStore::readIdentity(file.nativePath);
                            // Gone or unreadable since the folder was listed; errno is stat's.
                            if (!identity)
                                ThrowFileReadError(file.nativePath, errno);
                            if (!markers().isMarked(file.nativePath, *identity))
                                return;
                        }
                        AddUploadFile(file.path, file.localPath);
                    },
                    [this](const QString &shownPath) { NoteUnpublishable(shownPath); }});
    // What the whole site no longer holds is no longer published as far as the markers know.
    if (!mPreviewOnly && (mySubDir.isEmpty() || mySubDir == QLatin1String("\\")))
        markers().forgetAllBut(NativeLocalPath(mLocalBaseDir, QString()), seen);
}

void classUpload::AddUploadFile(const QString &myPath, const QString &myLocalPath)
{
    if (mUploadCount == std::numeric_limits<qint32>::max())
        throw ProgramError(ProgramError::Overflow, ResourceString(MessageId::Overflow));

    UploadItem item;
    item.Path = myPath.toLower();
    item.LocalPath = myLocalPath.isEmpty() ? myPath : myLocalPath;
    item.Size = readableFileSize(NativeLocalPath(mLocalBaseDir, item.LocalPath));

    mUploadList.append(item);
    ++mUploadCount;
    mTotalBytes += static_cast<double>(item.Size);
}

ChangeMarkerStore &classUpload::markers()
{
    // A preview reads the markers and changes nothing, not even by creating the store.
    if (!mMarkers && mPreviewOnly)
        mMarkers = std::make_unique<ChangeMarkerStore>(ChangeMarkerStore::defaultPathToRead(),
                                                       ChangeMarkerStore::Access::ReadOnly);
    if (!mMarkers)
        mMarkers = std::make_unique<ChangeMarkerStore>(ChangeMarkerStore::defaultPath());
    return *mMarkers;
}
