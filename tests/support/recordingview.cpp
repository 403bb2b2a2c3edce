#include "recordingview.h"

#include "classupload.h"
#include "ftpcomponenthost.h"
#include "ftpcontrol.h"

RecordingView::RecordingView(std::unique_ptr<FtpControl> ftp, bool startWatchDog)
    : mOwned(std::move(ftp)), mComponent(mOwned.get()), mStartWatchDog(startWatchDog)
{}

RecordingView::~RecordingView()
{
    classUpload::setViewProvider(nullptr);
}

void RecordingView::install()
{
    classUpload::setViewProvider([this]() -> UploadView & { return *this; });
    classUpload &session = classUpload::instance();
    if (mOwned)
        session.useFtpComponent(std::move(mOwned));
    // Held still: the run switches the watchdog on, but a day passes before it ticks, so a test
    // that counts ticks counts only its own.
    if (!mStartWatchDog) {
        session.ftpHost().watchDogTimer().stop();
        session.ftpHost().watchDogTimer().setInterval(std::chrono::hours(24));
    }
}

QTimer &RecordingView::watchDogTimer()
{
    return classUpload::instance().ftpHost().watchDogTimer();
}

void RecordingView::setCaption(ViewLabel label, const QString &caption)
{
    captions.insert(int(label), caption);
    if (label == ViewLabel::labelTime)
        timeTexts.append(caption);
}

void RecordingView::setBold(ViewLabel label, bool bold)
{
    bolds.insert(int(label), bold);
}

void RecordingView::setPicture(ViewPicture picture, int imageListIndex)
{
    pictures.insert(int(picture), imageListIndex);
}

void RecordingView::setFileText(const QString &text)
{
    fileText = text;
    fileTexts.append(text);
}

void RecordingView::setProgress(float percent)
{
    progress = percent;
}

void RecordingView::setPanelVisible(ViewPanel panel, bool visible)
{
    (panel == ViewPanel::FrameWait ? frameWaitVisible : frameResultVisible) = visible;
}

void RecordingView::setShowButtonVisible(bool visible)
{
    showButtonVisible = visible;
}

void RecordingView::showNonModal()
{
    ++shown;
}

void RecordingView::makeCloseTheCancelButton()
{
    closeIsCancel = true;
}

void RecordingView::endProgram()
{
    programEnded = true;
}
