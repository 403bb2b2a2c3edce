#include "classupload.h"
#include "contentdigest.h"
#include "ftpcontrol.h"
#include "ftperror.h"
#include "ftpresult.h"
#include "pathhelpers.h"
#include "roundhalfeven.h"
#include "stringtable.h"
#include "timeofday.h"
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

void classUpload::FTPUploadFiles()
{
    mRun.mStartTime = static_cast<qint32>(RoundHalfEven(TimeOfDay()));
    mRun.mProgress = UploadProgress{};

    const qint32 count = mQueue.mUploadCount;
    for (qint32 i = 0; i < count; ++i) {
        const UploadItem item = mQueue.mUploadList.at(i);
        SendFile(item.Path, item.NativePath);
        if (mFailure.mAborted)
            return;
        mRun.mBytesDone += static_cast<double>(item.Size);

        mRun.mProgress.elapsed = RoundHalfEven(ElapsedSince(mRun.mStartTime, TimeOfDay()));
        if (mRun.mBytesDone != 0) {
            const double rate = mRun.mProgress.elapsed / (mRun.mBytesDone / 1000.0);
            if (usable(rate))
                mRun.mProgress.rate = rate;
        }
        const double remaining =
            (mQueue.mTotalBytes - mRun.mBytesDone) / 1000.0 * mRun.mProgress.rate;
        if (usable(remaining))
            mRun.mProgress.remaining = std::floor(remaining / 10.0) * 10.0;

        // An estimate too large for the view leaves the previous one standing.
        if (mRun.mProgress.remaining >= std::numeric_limits<qint32>::min() &&
            mRun.mProgress.remaining <= std::numeric_limits<qint32>::max())
            mRun.mProgress.secondsLeft = static_cast<qint32>(mRun.mProgress.remaining);
        view().progressed(static_cast<qint64>(mRun.mBytesDone),
                          static_cast<qint64>(mQueue.mTotalBytes), mRun.mProgress.secondsLeft);
    }
}

void classUpload::FTPUploadFile(const QString &myPathAndFileName, const QString &myLocalPath)
{
    // The server sees the lower-case name; the file on disk is opened by its real name.
    SendFile(myPathAndFileName,
             NativeLocalPath(mSettings.mLocalBaseDir,
                             myLocalPath.isEmpty() ? myPathAndFileName : myLocalPath));
}

void classUpload::SendFile(const QString &myPathAndFileName, const QString &localFile)
{
    std::ignore = RunToEnd(SendFileOn(0, myPathAndFileName, localFile));
}

void classUpload::FTPPutFile(const QString &myLocalFile, const QString &myRemoteName)
{
    std::ignore = RunToEnd(PutFileOn(0, myLocalFile, myRemoteName));
}

AsyncStep<bool> classUpload::SendFileOn(int connection, QString myPathAndFileName,
                                        QString localFile)
{
    const PathAndFileName parts = SplitPathAndFileName(myPathAndFileName);
    const QString remoteFolder =
        ToRemoteSlashes(JoinRemotePath(mSettings.mRemoteBaseDir, parts.DirName));

    view().fileStarted(FileAction::Uploading, JoinRemotePath(remoteFolder, parts.FileName));

    std::ignore = co_await SetCurrentDirOn(connection, remoteFolder, true);
    if (mFailure.mAborted)
        co_return false;
    if (!co_await PutFileOn(connection, localFile, parts.FileName))
        co_return false;
    ++mRun.mFilesDone;
    co_return true;
}

AsyncStep<bool> classUpload::PutFileOn(int connection, QString myLocalFile, QString myRemoteName)
{
    // A file written while it is on its way reaches the server without its last change, or as a
    // mix of old and new; the run must not call that published. It is sent again, and a file that
    // never holds still is reported like one that could not be sent.
    constexpr int attempts = 3;
    std::optional<FileIdentity> sentIdentity;
    std::shared_ptr<ContentDigest> sent;
    RequestOutcome transfer;
    std::function<void(FtpControl &)> start;
    for (int attempt = 1;; ++attempt) {
        // Taken before the transfer, so that a write during it leaves the file marked.
        sentIdentity = ChangeMarkerStore::readIdentity(myLocalFile);
        // The digest of the bytes as they are sent, kept with the marker: no second read. Shared
        // with the component, which may outlive this step when the run is cancelled.
        sent = std::make_shared<ContentDigest>();
        start = [&myLocalFile, &myRemoteName, sent](FtpControl &ftp) {
            ftp.PutFile(myLocalFile, myRemoteName,
                        [sent](QByteArrayView piece) { sent->add(piece); });
        };
        transfer = co_await Request(connection, start);
        // The component's answer to our own Abort: the cancellation's or the time-out's message
        // stands, and the file stays marked.
        if (mFailure.mInterrupted && transfer.result() == FtpResult::Aborted)
            co_return false;
        if (!transfer.succeeded()) {
            RecordFailure(MessageId::FileNotUploaded, myRemoteName);
            co_return false;
        }
        if (mFailure.mInterrupted)
            co_return false;
        const std::optional<FileIdentity> now = ChangeMarkerStore::readIdentity(myLocalFile);
        // Gone since: what was sent was the file as it was; the next run deletes it on the server.
        if (!sentIdentity || !now || ChangeMarkerStore::sameState(*sentIdentity, *now)) {
            // A digest only of the whole file as it was when the transfer started.
            if (sentIdentity)
                markers().clearMarker(myLocalFile, *sentIdentity,
                                      sent->bytesAdded() == sentIdentity->size ? sent->finish()
                                                                               : QByteArray());
            co_return true;
        }
        if (attempt == attempts) {
            RecordFailure(MessageId::FileNotUploaded, myRemoteName);
            co_return false;
        }
        DebugNote(ReplaceAll(ResourceString(MessageId::FileChangedDuringUpload),
                             QStringLiteral("%1"), myRemoteName));
    }
}
