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
    // A. Up-front checks, then B. to D.
    const StepOutcome checks = CheckSettings();
    if (checks)
        std::ignore = PublishAfterChecks(); // its failure is recorded for the summary and result

    // E. Summary.
    ftpHost().setWatchDogEnabled(false);
    FillSummary(checks.isDone());

    // F. Result.
    ShowResult();
}

StepOutcome classUpload::CheckSettings()
{
    // All three are made; the last failing one is reported.
    StepOutcome outcome;
    if (ftp().host().isEmpty())
        outcome = RecordFailure(MessageId::NoHost);
    if (mSettings.mLocalBaseDir.isEmpty() || !FolderExists(mSettings.mLocalBaseDir))
        outcome = RecordFailure(MessageId::NoGeneratedPages);
    if (ftp().userName().isEmpty())
        outcome = RecordFailure(MessageId::NoUserName);
    return outcome;
}

StepOutcome classUpload::PublishAfterChecks()
{
    // B. Preparation.
    mQueue.mTotalBytes = 0;
    mRun.mBytesDone = 0;
    mQueue.mUploadCount = 0;
    mRun.mFilesDone = 0;
    mRetry = RetryState{};
    mFailure.mErrorId = MessageId::None;
    mRun.mStartTime = static_cast<qint32>(RoundHalfEven(TimeOfDay()));
    ftpHost().setWatchDogEnabled(true);
    view().runStarted();
    QCoreApplication::processEvents();

    // The scan does not process events: clicks made meanwhile wait in the queue.
    BuildFileLogAndUploadList();
    view().stepEnded(RunStep::Prepare, true);

    // C. Connection.
    view().stepStarted(RunStep::Connect);
    QCoreApplication::processEvents();
    // A cancellation made before this point (while the files were being found) must not be lost:
    // FTPConnect starts from a clean failure state, so without this test the whole site would be
    // transferred before the program ends.
    StepOutcome connected = Outcome();
    if (connected)
        connected = FTPConnect();
    view().stepEnded(RunStep::Connect, connected.isDone());
    if (!connected)
        return connected;

    // D. Transfer. Each step ends the run when it failed or the user cancelled; a fault that may
    // pass is tried again in this run (see TryAgainAfterFault).
    view().stepStarted(RunStep::Transfer);
    QCoreApplication::processEvents();
    for (StepOutcome published = PublishChanges(); !published; published = PublishChanges()) {
        if (!TryAgainAfterFault())
            return published;
    }

    // Everything else is on the server; what could not be sent for its name makes the run fail,
    // named in the debug log (still open here) and in the result.
    LogUnpublishable();
    FTPDisconnect();
    // Uploaded, but the clean-up that would have taken most of the site down was skipped: that
    // is what the user must act on first.
    if (mCleanUp.mCleanUpRefused)
        return RecordFailure(MessageId::MassDeletionRefused,
                             QList<MessageArgument>{mCleanUp.mCleanUpRefused->first,
                                                    mCleanUp.mCleanUpRefused->second});
    return RecordUnpublishable();
}

void classUpload::FillSummary(bool runStarted)
{
    RunSummary summary;
    summary.filesDone = mRun.mFilesDone;
    // 64-bit, so sites of 2 GB and more are counted correctly.
    summary.bytesDone = static_cast<qint64>(RoundHalfEven(mRun.mBytesDone));

    // After failed checks nothing ran, and the start time was never taken.
    const double start = runStarted ? mRun.mStartTime : TimeOfDay();
    const double elapsed = RoundHalfEven(ElapsedSince(start, TimeOfDay()));
    summary.elapsedSeconds = static_cast<qint32>(elapsed);

    // The added second keeps the divisor above zero for a run that took no measurable time.
    const double seconds = ElapsedSince(start, TimeOfDay());
    summary.kilobytesPerSecond = (mRun.mBytesDone / 1000.0) / (seconds + 1.0);
    view().runSummarised(summary);
}

RunResult classUpload::Result() const
{
    RunResult result;
    if (mFailure.mErrorId != MessageId::None) {
        result.outcome = RunOutcome::Failed;
        if (mFailure.mErrorId == MessageId::MassDeletionRefused)
            result.outcome = RunOutcome::CleanUpRefused;
        // Nobody was there to accept the new certificate: the run says how to, and ends with a
        // status of its own, so a script can tell.
        if (mFailure.mErrorDetailId == MessageId::CertificateChanged ||
            mFailure.mErrorDetailId == MessageId::CertificateNotTheAccepted)
            result.outcome = RunOutcome::CertificateRefused;
        result.message = {mFailure.mErrorId, mFailure.mErrorArguments, mFailure.mErrorDetailId,
                          mFailure.mErrorDetailArguments};
    } else if (mSettings.mPreviewOnly) {
        // Nothing was published: the preview's figures instead of the success message.
        result.message = PreviewSummary();
    } else {
        result.message = {MessageId::UploadSucceeded, {}};
        result.siteCanBeShown = !mSettings.mRemoteURL.isEmpty();
    }
    return result;
}

void classUpload::ShowResult()
{
    if (mFailure.mErrorId == MessageId::CancelledByUser) {
        // The user asked to stop: no sound, no message.
        view().runCancelled();
        return;
    }
    PlaySystemSound(mFailure.mErrorId != MessageId::None ? QStringLiteral("SystemHand")
                                                         : QStringLiteral("SystemAsterisk"));
    view().runEnded(Result());
}
