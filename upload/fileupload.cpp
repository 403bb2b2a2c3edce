#include "classupload.h"
#include "pathhelpers.h"
#include "roundhalfeven.h"
#include "stringtable.h"
#include "timeofday.h"
#include "uploadorder.h"
#include "uploadview.h"

#include <cmath>
#include <limits>
#include <memory>

namespace {

// The progress figures are computed step by step, each allowed to fail on its own (a division by
// zero while only empty files were sent, a figure too large for the display): a failed step leaves
// its figure as it was after the previous file, and the upload goes on.
bool usable(double value)
{
    return std::isfinite(value);
}

} // namespace

StepOutcome classUpload::FTPUploadFiles()
{
    if (mRetry.mTotal == 0) {
        mRun.mStartTime = static_cast<qint32>(RoundHalfEven(TimeOfDay()));
        mRun.mProgress = UploadProgress{};
    } else {
        // A try after a fault sends what the ones before did not; the progress goes on counting
        // the whole run, so the totals stay those of all its files.
        mQueue.mUploadList.removeIf(
            [this](const UploadItem &item) { return mRetry.mSent.contains(item.Path); });
        mQueue.mUploadCount = static_cast<qint32>(mQueue.mUploadList.size());
    }

    // Pictures, styles and scripts first, the pages that use them after them, and the upload log
    // last: a visitor never gets a new page whose new picture is not there yet.
    OrderForVisitors(mQueue.mUploadList);
    DeleteLeftoverTemporaries();
    if (const StepOutcome tidied = Outcome(); !tidied)
        return tidied;

    // A single file and the upload log gain nothing from a second connection but its log-in.
    const int connections = mQueue.mUploadCount > 2 ? ConnectionsForThisRun() : 1;
    qint32 first = 0;
    if (connections > 1) {
        // The connections at work end together, with the first failure any of them met.
        UploadSideBySide(connections);
        if (const StepOutcome shared = Outcome(); !shared)
            return shared;
        first = mLanes.takeable;
    }
    for (qint32 i = first; i < mQueue.mUploadCount; ++i) {
        const UploadItem item = mQueue.mUploadList.at(i);
        if (const StepOutcome sent = SendFile(item.Path, item.NativePath); !sent)
            return sent;
        CountFileDone(item);
    }
    return StepOutcome::done();
}

void classUpload::CountFileDone(const UploadItem &item)
{
    mRetry.mSent.insert(item.Path);
    mRun.mBytesDone += static_cast<double>(item.Size);

    mRun.mProgress.elapsed = RoundHalfEven(ElapsedSince(mRun.mStartTime, TimeOfDay()));
    if (mRun.mBytesDone != 0) {
        const double rate = mRun.mProgress.elapsed / (mRun.mBytesDone / 1000.0);
        if (usable(rate))
            mRun.mProgress.rate = rate;
    }
    const double remaining = (mQueue.mTotalBytes - mRun.mBytesDone) / 1000.0 * mRun.mProgress.rate;
    if (usable(remaining))
        mRun.mProgress.remaining = std::floor(remaining / 10.0) * 10.0;

    // An estimate too large for the view leaves the previous one standing.
    if (mRun.mProgress.remaining >= std::numeric_limits<qint32>::min() &&
        mRun.mProgress.remaining <= std::numeric_limits<qint32>::max())
        mRun.mProgress.secondsLeft = static_cast<qint32>(mRun.mProgress.remaining);
    view().progressed(static_cast<qint64>(mRun.mBytesDone), static_cast<qint64>(mQueue.mTotalBytes),
                      mRun.mProgress.secondsLeft);
}

void classUpload::FTPUploadFile(const QString &myPathAndFileName, const QString &myLocalPath)
{
    // The server sees the lower-case name; the file on disk is opened by its real name.
    std::ignore =
        SendFile(myPathAndFileName,
                 NativeLocalPath(mSettings.mLocalBaseDir,
                                 myLocalPath.isEmpty() ? myPathAndFileName : myLocalPath));
}

StepOutcome classUpload::SendFile(const QString &myPathAndFileName, const QString &localFile)
{
    return RunToEnd(SendFileOn(0, myPathAndFileName, localFile)).value_or(Outcome());
}

void classUpload::FTPPutFile(const QString &myLocalFile, const QString &myRemoteName)
{
    std::ignore = RunToEnd(PutFileOn(0, myLocalFile, myRemoteName));
}

AsyncStep<StepOutcome> classUpload::SendFileOn(int connection, QString myPathAndFileName,
                                               QString localFile)
{
    const PathAndFileName parts = SplitPathAndFileName(myPathAndFileName);
    const QString remoteFolder =
        ToRemoteSlashes(JoinRemotePath(mSettings.mRemoteBaseDir, parts.DirName));
    // The path from the base folder down to the file's, for the connections that share the files
    // (see LaneSchedule::byPath).
    const QString down = RemotePathDown(parts.DirName);
    const QString via = down.isEmpty() ? QString() : down + u'/';

    view().fileStarted(FileAction::Uploading, JoinRemotePath(remoteFolder, parts.FileName));

    // The upload log goes as it always went, straight under its name: the next run reads it only
    // after this one ended.
    const bool replacing =
        !IsUploadLog(myPathAndFileName) && ReplacesLiveFile(myPathAndFileName, localFile);
    for (;;) {
        const bool byPath = mLanes.running && mLanes.byPath && !via.isEmpty();
        // Named, not conditional temporaries in the co_await: this compiler destroys those twice.
        const QString standIn = byPath ? mSettings.mRemoteBaseDir : remoteFolder;
        const QString path = byPath ? via : QString();
        if (const FolderWalk walk = co_await SetCurrentDirOn(connection, standIn, true); !walk.run)
            co_return walk.run;
        if (co_await PublishFileOn(connection, localFile, remoteFolder, parts.FileName, replacing,
                                   path))
            break;
        // A server that took no path: the file goes again, from its folder.
        const StepOutcome run = Outcome();
        if (byPath && !mLanes.byPath && run)
            continue;
        // A connection that just stopped records nothing itself; the file did not get there all
        // the same.
        co_return run ? RecordFault(connection, MessageId::FileNotUploaded, parts.FileName) : run;
    }
    ++mRun.mFilesDone;
    co_return Outcome();
}

AsyncStep<bool> classUpload::PutFileOn(int connection, QString myLocalFile, QString myRemoteName)
{
    // As to a server that knows nothing of temporary names: no folder, nothing recorded.
    const QString noFolder;
    co_return co_await PublishFileOn(connection, myLocalFile, noFolder, myRemoteName, false);
}
