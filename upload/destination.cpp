#include "classupload.h"
#include "ftpcontrol.h"
#include "ftperror.h"
#include "locallogdestination.h"
#include "pathhelpers.h"
#include "stringtable.h"
#include "systemhelpers.h"
#include "uploadview.h"

#include <QFile>

// Where the files of this run land, and which of them have to go there. A change marker says "this
// state of the file is on this destination"; the destination is what decides where files land: the
// host as written in the settings (scheme and port included), the user name, and the remote base
// folder as the log-in resolved it. It is known only after the log-in, so the differential choice
// of files is made here, right after SetRemoteBaseDir, and not during the scan before connecting.

namespace {

const QString kUploadLogName = QStringLiteral("vellumixftplog.log");

// A log larger than this is no log of ours; it cannot equal the local one.
constexpr qint64 kLargestLog = 64 * 1024 * 1024;

} // namespace

QString classUpload::MarkerDestination()
{
    return ftp().host() + QLatin1Char('\n') + ftp().userName() + QLatin1Char('\n') +
           QLatin1Char('/') + SplitRemotePath(mSettings.mRemoteBaseDir).join(QLatin1Char('/'));
}

void classUpload::ChooseMarkerDestination()
{
    markers().setDestination(MarkerDestination());
    // Asked before this run's log takes the previous one's place in the record.
    mUploadLog.mPreviousLocalLogBelongsHere =
        mUploadLog.mPreviousLocalLog &&
        LocalLogWasWrittenFor(mSettings.mLocalBaseDir, *mUploadLog.mPreviousLocalLog,
                              MarkerDestination());
    RecordLogDestination();
    if (markers().hasUnassigned())
        ClaimUnassignedMarkers();
}

void classUpload::RecordLogDestination()
{
    // A preview leaves the local log as it is, and so its record.
    if (!mSettings.mPreviewOnly)
        RecordLocalLogDestination(mSettings.mLocalBaseDir, UploadLogContent(), MarkerDestination());
}

void classUpload::ClaimUnassignedMarkers()
{
    // A store of an earlier version knew no destinations; its rows belong to the destination the
    // local upload log was last published to. That destination holds the very same log, and any
    // other one (a new server, another folder) does not, or holds an older state of the site.
    bool belongsHere = false;
    if (mUploadLog.mPreviousLocalLog && FTPSetCurrentDir(mSettings.mRemoteBaseDir, false) &&
        !mFailure.mAborted) {
        const QString copyPath = GetTempFolder() + kUploadLogName;
        view().fileStarted(FileAction::Reading,
                           JoinRemotePath(mSettings.mRemoteBaseDir, kUploadLogName));
        bool started = true;
        try {
            ftp().GetFile(kUploadLogName, copyPath);
        } catch (const FtpError &) {
            started = false;
        }
        WaitForCompletion();
        const std::optional<qint16> result = CompletedResult(started);
        QFile copy(copyPath);
        if (result && *result == 0 && !mFailure.mAborted && copy.size() <= kLargestLog &&
            copy.open(QIODevice::ReadOnly))
            belongsHere = copy.readAll() == *mUploadLog.mPreviousLocalLog;
    }
    // Cancelled or timed out: the question stays open for the next run.
    if (mFailure.mAborted)
        return;
    // A preview answers as the run would, and leaves the question to the run.
    if (mSettings.mPreviewOnly) {
        markers().consultUnassigned(belongsHere);
        return;
    }
    if (belongsHere) {
        markers().adoptUnassigned();
        DebugNote(ResourceString(MessageId::MarkersAdopted));
    } else {
        markers().discardUnassigned();
        DebugNote(ResourceString(MessageId::MarkersDropped));
    }
}

void classUpload::KeepChangedFiles()
{
    QList<UploadItem> changed;
    double totalBytes = 0;
    for (const UploadItem &item : std::as_const(mQueue.mUploadList)) {
        const std::optional<FileIdentity> identity =
            ChangeMarkerStore::readIdentity(item.NativePath);
        // A file gone since the scan stays on the list; its upload then says what became of it.
        if (identity && !markers().isMarked(item.NativePath, *identity))
            continue;
        changed.append(item);
        totalBytes += static_cast<double>(item.Size);
    }
    mQueue.mUploadList = changed;
    mQueue.mUploadCount = static_cast<qint32>(changed.size());
    mQueue.mTotalBytes = totalBytes;
}
