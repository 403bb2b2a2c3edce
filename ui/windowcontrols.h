#pragma once

#include "uploadview.h"

// The progress window's controls that change while a run works, by the names the window was laid
// out with. The window translates the session's events into these; tests and the screenshot tool
// set them directly.
enum class ViewLabel {
    labelprepare,
    labelConnect,
    labelFile,
    labelTime,
    lblKB,
    lblElapsed,
    lblSpeed,
    lblError,
    // Why the run failed and what the user can do, where the summary's figures would be; shown
    // only for a result that says why (a refused TLS connection).
    lblReason
};
enum class ViewPicture { imgPrepare, imgConnect, imgFile, imgError };
enum class ViewPanel { FrameWait, FrameResult };

// Numbers of the pictures in the window's image list.
enum StepPicture : int { PictureRunning = 1, PictureDone = 2, PictureFailed = 3 };

// The caption label and the marker of each step.
[[nodiscard]] inline ViewLabel StepLabel(RunStep step)
{
    switch (step) {
    case RunStep::Prepare:
        return ViewLabel::labelprepare;
    case RunStep::Connect:
        return ViewLabel::labelConnect;
    case RunStep::Transfer:
        break;
    }
    return ViewLabel::labelFile;
}
[[nodiscard]] inline ViewPicture StepMarker(RunStep step)
{
    switch (step) {
    case RunStep::Prepare:
        return ViewPicture::imgPrepare;
    case RunStep::Connect:
        return ViewPicture::imgConnect;
    case RunStep::Transfer:
        break;
    }
    return ViewPicture::imgFile;
}

// The result's marker: a tick for a run that did what it should, a cross for any other.
[[nodiscard]] inline StepPicture ResultPicture(RunOutcome outcome)
{
    return outcome == RunOutcome::Succeeded ? PictureDone : PictureFailed;
}
