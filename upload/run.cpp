#include "classupload.h"
#include "ftpcomponenthost.h"
#include "ftpcontrol.h"
#include "roundhalfeven.h"
#include "systemhelpers.h"
#include "timeofday.h"
#include "uploadview.h"

#include <QCoreApplication>

// One publication from start to result. The steps and their order are fixed: the site builder's
// users know the window's three steps, and the upload log must be written before anything is
// transferred so that it reaches the server with the site.
void classUpload::MagicUpload()
{
    // A. Up-front checks; all three are made, the last failing one is reported.
    if (ftp().host().isEmpty())
        RecordFailure(MessageId::NoHost);
    if (mLocalBaseDir.isEmpty() || !FolderExists(mLocalBaseDir))
        RecordFailure(MessageId::NoGeneratedPages);
    if (ftp().userName().isEmpty())
        RecordFailure(MessageId::NoUserName);
    const bool checksPassed = !mAborted;

    if (checksPassed) {
        // B. Preparation.
        mTotalBytes = 0;
        mBytesDone = 0;
        mUploadCount = 0;
        mFilesDone = 0;
        mErrorId = MessageId::None;
        mStartTime = static_cast<qint32>(RoundHalfEven(TimeOfDay()));
        ftpHost().setWatchDogEnabled(true);
        view().runStarted();
        QCoreApplication::processEvents();

        // The scan does not process events: clicks made meanwhile wait in the queue.
        BuildFileLog(QStringLiteral("\\"));
        ReadPreviousLocalLog();
        // A preview leaves the local log as the last real run wrote it.
        if (!mPreviewOnly)
            WriteFileLog();
        // Which files changed depends on the destination, which is known after the log-in; until
        // then every file is queued (KeepChangedFiles below).
        ScanSite(QStringLiteral("\\"), false);
        view().stepEnded(RunStep::Prepare, true);

        // C. Connection.
        view().stepStarted(RunStep::Connect);
        QCoreApplication::processEvents();
        // A cancellation made before this point (while the files were being found) must not be
        // lost: FTPConnect clears the abort flag, so without this test the whole site would be
        // transferred before the program ends.
        if (!mAborted)
            FTPConnect();
        view().stepEnded(RunStep::Connect, !mAborted);
        if (!mAborted) {
            view().stepStarted(RunStep::Transfer);
            QCoreApplication::processEvents();

            // D. Transfer.
            SetRemoteBaseDir();
            if (!mAborted)
                ChooseMarkerDestination();
            if (!mAborted && mDifferentialMode)
                KeepChangedFiles();
            if (mDeleteRemote && !mAborted)
                FTPDeleteFiles();
            if (!mAborted && mPreviewOnly)
                PreviewUploads();
            else if (!mAborted)
                FTPUploadFiles();
            if (!mAborted) {
                // Everything else is on the server; what could not be sent for its name makes
                // the run fail, named in the debug log (still open here) and in the result.
                LogUnpublishable();
                FTPDisconnect();
                // Uploaded, but the clean-up that would have taken most of the site down was
                // skipped: that is what the user must act on first.
                if (mCleanUpRefused)
                    RecordFailure(
                        MessageId::MassDeletionRefused,
                        QList<MessageArgument>{mCleanUpRefused->first, mCleanUpRefused->second});
                else
                    RecordUnpublishable();
            }
        }
    }

    // E. Summary.
    ftpHost().setWatchDogEnabled(false);
    FillSummary(checksPassed);

    // F. Result.
    ShowResult();
}

void classUpload::FillSummary(bool runStarted)
{
    RunSummary summary;
    summary.filesDone = mFilesDone;
    // 64-bit, so sites of 2 GB and more are counted correctly.
    summary.bytesDone = static_cast<qint64>(RoundHalfEven(mBytesDone));

    // After failed checks nothing ran, and the start time was never taken.
    const double start = runStarted ? mStartTime : TimeOfDay();
    const double elapsed = RoundHalfEven(ElapsedSince(start, TimeOfDay()));
    summary.elapsedSeconds = static_cast<qint32>(elapsed);

    // The added second keeps the divisor above zero for a run that took no measurable time.
    const double seconds = ElapsedSince(start, TimeOfDay());
    summary.kilobytesPerSecond = (mBytesDone / 1000.0) / (seconds + 1.0);
    view().runSummarised(summary);
}

RunResult classUpload::Result() const
{
    RunResult result;
    if (mErrorId != MessageId::None) {
        result.outcome = mErrorId == MessageId::MassDeletionRefused ? RunOutcome::CleanUpRefused
                                                                    : RunOutcome::Failed;
        result.message = {mErrorId, mErrorArguments};
    } else if (mPreviewOnly) {
        // Nothing was published: the preview's figures instead of the success message.
        result.message = PreviewSummary();
    } else {
        result.message = {MessageId::UploadSucceeded, {}};
        result.siteCanBeShown = !mRemoteURL.isEmpty();
    }
    return result;
}

void classUpload::ShowResult()
{
    if (mErrorId == MessageId::CancelledByUser) {
        // The user asked to stop: no sound, no message.
        view().runCancelled();
        return;
    }
    PlaySystemSound(mErrorId != MessageId::None ? QStringLiteral("SystemHand")
                                                : QStringLiteral("SystemAsterisk"));
    view().runEnded(Result());
}
