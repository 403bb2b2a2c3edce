#include "recordingview.h"

#include "classupload.h"
#include "forwardevents.h"
#include "ftpcontrol.h"

RecordingView::RecordingView(std::unique_ptr<FtpControl> ftp, bool startWatchDog)
    : mFtp(std::move(ftp))
{
    watchDogTimer.setInterval(1000);
    ForwardEventsToSession(*mFtp, watchDogTimer);
    if (startWatchDog)
        watchDogTimer.start();
}

RecordingView::~RecordingView()
{
    classUpload::setViewProvider(nullptr);
}

void RecordingView::install()
{
    classUpload::setViewProvider([this]() -> UploadView & { return *this; });
}

FtpControl &RecordingView::ftpcontrol()
{
    return *mFtp;
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

void RecordingView::setWatchDogEnabled(bool enabled)
{
    watchDogEnabled = enabled;
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
