#include "classupload.h"
#include "formatremainingtime.h"
#include "ftpcomponenthost.h"
#include "ftpcontrol.h"
#include "roundhalfeven.h"
#include "stringtable.h"
#include "systemhelpers.h"
#include "timeofday.h"
#include "uploadview.h"

#include <QCoreApplication>
#include <QLocale>

// One publication from start to result. The steps and their order are fixed: the site builder's
// users know the window's three steps, and the upload log must be written before anything is
// transferred so that it reaches the server with the site.
void classUpload::MagicUpload()
{
    // A. Up-front checks; all three are made, the last failing one is reported.
    if (ftp().host().isEmpty())
        RecordFailure(2009);
    if (mSettings.mLocalBaseDir.isEmpty() || !FolderExists(mSettings.mLocalBaseDir))
        RecordFailure(2011);
    if (ftp().userName().isEmpty())
        RecordFailure(2010);
    const bool checksPassed = !mFailure.mAborted;

    if (checksPassed) {
        // B. Preparation.
        mQueue.mTotalBytes = 0;
        mRun.mBytesDone = 0;
        mQueue.mUploadCount = 0;
        mRun.mFilesDone = 0;
        mFailure.mErrorId = 0;
        mRun.mStartTime = static_cast<qint32>(RoundHalfEven(TimeOfDay()));
        ftpHost().setWatchDogEnabled(true);
        view().setCaption(ViewLabel::labelTime, ResourceString(1005));
        view().setFileText(QString());
        view().setBold(ViewLabel::labelprepare, true);
        view().setPicture(ViewPicture::imgPrepare, PictureRunning);
        view().setPanelVisible(ViewPanel::FrameWait, true);
        view().setPanelVisible(ViewPanel::FrameResult, false);
        view().showNonModal();
        QCoreApplication::processEvents();

        // The scan does not process events: clicks made meanwhile wait in the queue.
        BuildFileLogAndUploadList();
        view().setBold(ViewLabel::labelprepare, false);
        view().setPicture(ViewPicture::imgPrepare, PictureDone);

        // C. Connection.
        view().setBold(ViewLabel::labelConnect, true);
        view().setPicture(ViewPicture::imgConnect, PictureRunning);
        QCoreApplication::processEvents();
        // A cancellation made before this point (while the files were being found) must not be
        // lost: FTPConnect clears the abort flag, so without this test the whole site would be
        // transferred before the program ends.
        if (!mFailure.mAborted)
            FTPConnect();
        if (mFailure.mAborted) {
            view().setBold(ViewLabel::labelConnect, false);
            view().setPicture(ViewPicture::imgConnect, PictureFailed);
        } else {
            view().setBold(ViewLabel::labelConnect, false);
            view().setPicture(ViewPicture::imgConnect, PictureDone);
            view().setBold(ViewLabel::labelFile, true);
            view().setPicture(ViewPicture::imgFile, PictureRunning);
            QCoreApplication::processEvents();

            // D. Transfer.
            SetRemoteBaseDir();
            if (!mFailure.mAborted)
                ChooseMarkerDestination();
            if (!mFailure.mAborted && mSettings.mDifferentialMode)
                KeepChangedFiles();
            if (mSettings.mDeleteRemote && !mFailure.mAborted)
                FTPDeleteFiles();
            if (!mFailure.mAborted && mSettings.mPreviewOnly)
                PreviewUploads();
            else if (!mFailure.mAborted)
                FTPUploadFiles();
            if (!mFailure.mAborted) {
                // Everything else is on the server; what could not be sent for its name makes
                // the run fail, named in the debug log (still open here) and in the result.
                LogUnpublishable();
                FTPDisconnect();
                // Uploaded, but the clean-up that would have taken most of the site down was
                // skipped: that is what the user must act on first.
                if (mCleanUp.mCleanUpRefused)
                    RecordFailureMessage(4061, ResourceString(4061)
                                                   .arg(mCleanUp.mCleanUpRefused->first)
                                                   .arg(mCleanUp.mCleanUpRefused->second));
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
    const QLocale locale;
    // Kilobytes are 1000 bytes. 64-bit, so sites of 2 GB and more are counted correctly.
    const auto kilobytes = static_cast<qint64>(RoundHalfEven(mRun.mBytesDone)) / 1000;
    view().setCaption(ViewLabel::lblKB, locale.toString(mRun.mFilesDone) + ResourceString(3000) +
                                            locale.toString(kilobytes) + ResourceString(3001));

    // After failed checks nothing ran, and the start time was never taken.
    const double start = runStarted ? mRun.mStartTime : TimeOfDay();
    const double elapsed = RoundHalfEven(ElapsedSince(start, TimeOfDay()));
    view().setCaption(ViewLabel::lblElapsed, FormatRemainingTime(static_cast<qint32>(elapsed)));

    // The added second keeps the divisor above zero for a run that took no measurable time.
    const double seconds = ElapsedSince(start, TimeOfDay());
    const double rate = (mRun.mBytesDone / 1000.0) / (seconds + 1.0);
    view().setCaption(ViewLabel::lblSpeed, locale.toString(rate, 'f', 2) + ResourceString(3002));
}

void classUpload::ShowResult()
{
    if (mFailure.mErrorId == 2004) {
        // The user asked to stop: no sound, no message.
        view().endProgram();
        return;
    }
    if (mFailure.mErrorId != 0) {
        PlaySystemSound(QStringLiteral("SystemHand"));
        view().setCaption(ViewLabel::lblError, mFailure.mErrorText);
        view().setPicture(ViewPicture::imgError, PictureFailed);
        view().setShowButtonVisible(false);
        view().setOutcome(mFailure.mErrorId == 4061 ? RunOutcome::CleanUpRefused
                                                    : RunOutcome::Failed);
    } else if (mSettings.mPreviewOnly) {
        // Nothing was published: the preview's figures instead of the success message.
        PlaySystemSound(QStringLiteral("SystemAsterisk"));
        view().setCaption(ViewLabel::lblError, PreviewSummary());
        view().setPicture(ViewPicture::imgError, PictureDone);
        view().setShowButtonVisible(false);
        view().setOutcome(RunOutcome::Succeeded);
    } else {
        PlaySystemSound(QStringLiteral("SystemAsterisk"));
        view().setCaption(ViewLabel::lblError, ResourceString(2008));
        view().setPicture(ViewPicture::imgError, PictureDone);
        view().setShowButtonVisible(!mSettings.mRemoteURL.isEmpty());
        view().setOutcome(RunOutcome::Succeeded);
    }
    view().showNonModal();
    view().setPanelVisible(ViewPanel::FrameResult, true);
    view().setPanelVisible(ViewPanel::FrameWait, false);
    view().makeCloseTheCancelButton();
}
