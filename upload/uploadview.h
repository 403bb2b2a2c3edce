#pragma once

#include <QString>
#include <QtGlobal>

class FtpControl;

// What the upload session needs from the face of the program: the FTP component it talks through,
// and the few controls it writes while it works. The progress window implements it, and so does the
// console face; tests use a recording view. The session never includes a widget header, so the same
// run can drive any of them.
//
// A view also forwards its component's events and its watchdog timer's ticks to the session (see
// ForwardEventsToSession), exactly as the window's handlers do.

enum class ViewLabel {
    labelprepare,
    labelConnect,
    labelFile,
    labelTime,
    lblKB,
    lblElapsed,
    lblSpeed,
    lblError
};
enum class ViewPicture { imgPrepare, imgConnect, imgFile, imgError };
enum class ViewPanel { FrameWait, FrameResult };

// Numbers of the pictures in the window's image list.
enum StepPicture : int { PictureRunning = 1, PictureDone = 2, PictureFailed = 3 };

// How a run ended, for a face that reports it as an exit status.
enum class RunOutcome {
    Succeeded,      // the success message, or a preview that worked
    Failed,         // any other result message
    CleanUpRefused, // uploaded, but the clean-up would have deleted most of the site and was
                    // skipped
};

// The answer to a clean-up that would delete most of the site.
enum class MassDeletion {
    Delete,        // go ahead
    Skip,          // the user said no: skip the clean-up, upload, and report success
    SkipAndReport, // nobody could be asked: skip the clean-up, upload, and end with a message
};

class UploadView
{
public:
    virtual ~UploadView() = default;

    [[nodiscard]] virtual FtpControl &ftpcontrol() = 0;

    virtual void setCaption(ViewLabel label, const QString &caption) = 0;
    virtual void setBold(ViewLabel label, bool bold) = 0;
    virtual void setPicture(ViewPicture picture, int imageListIndex) = 0;
    // The text box that shows the remote path being handled.
    virtual void setFileText(const QString &text) = 0;
    // Percent of the bytes uploaded, 0 to 100.
    virtual void setProgress(float percent) = 0;
    virtual void setPanelVisible(ViewPanel panel, bool visible) = 0;
    virtual void setShowButtonVisible(bool visible) = 0;
    virtual void setWatchDogEnabled(bool enabled) = 0;
    // Shows the view without blocking.
    virtual void showNonModal() = 0;
    // After the run Escape closes the window instead of cancelling.
    virtual void makeCloseTheCancelButton() = 0;
    // A run the user cancelled ends the program at once, without sound or message.
    virtual void endProgram() = 0;

    // One entry of a preview (--dry-run): a file the run would upload, or a file or folder it
    // would delete, as one line of text.
    virtual void addPreviewLine(const QString &line) { Q_UNUSED(line); }
    // Asked before the first deletion of a clean-up that would delete most of the site; question
    // says how much. A face that cannot ask anybody skips the clean-up and reports it.
    [[nodiscard]] virtual MassDeletion confirmMassDeletion(const QString &question)
    {
        Q_UNUSED(question);
        return MassDeletion::SkipAndReport;
    }
    // How the run ended, said right before its result is shown.
    virtual void setOutcome(RunOutcome outcome) { Q_UNUSED(outcome); }
};
