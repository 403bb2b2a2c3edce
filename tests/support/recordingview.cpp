#include "recordingview.h"

#include "classupload.h"
#include "ftpcomponenthost.h"
#include "sessionaccess.h"
#include "viewtexts.h"

RecordingView::RecordingView(bool startWatchDog) : mStartWatchDog(startWatchDog) {}

RecordingView::~RecordingView()
{
    classUpload::setViewProvider(nullptr);
}

void RecordingView::install()
{
    classUpload::setViewProvider([this](RunControl &) -> UploadView & { return *this; });
    classUpload &session = classUpload::instance();
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

void RecordingView::setFileText(const QString &text)
{
    fileText = text;
    fileTexts.append(text);
}

void RecordingView::runStarted()
{
    ++runsStarted;
    setCaption(ViewLabel::labelTime, ViewTexts::remainingTimeUnknown());
    setFileText(QString());
    stepStarted(RunStep::Prepare);
    frameWaitVisible = true;
    frameResultVisible = false;
    ++shown;
}

void RecordingView::stepStarted(RunStep step)
{
    stepsStarted.append(step);
    bolds.insert(int(StepLabel(step)), true);
    pictures.insert(int(StepMarker(step)), PictureRunning);
}

void RecordingView::stepEnded(RunStep step, bool succeeded)
{
    stepsEnded.append({step, succeeded});
    bolds.insert(int(StepLabel(step)), false);
    pictures.insert(int(StepMarker(step)), succeeded ? PictureDone : PictureFailed);
}

void RecordingView::fileStarted(FileAction action, const QString &remotePath)
{
    fileActions.append(action);
    setCaption(ViewLabel::labelFile, ViewTexts::fileActionCaption(action));
    setFileText(remotePath);
}

void RecordingView::waitingToTryAgain(qint32 left)
{
    retryCountdown.append(left);
    setFileText(ViewTexts::retryPending(left));
    if (cancelWhenWaitingToTryAgain)
        classUploadTestAccess::session().FTPCancel();
}

void RecordingView::progressed(qint64 bytesDone, qint64 bytesTotal, std::optional<qint32> estimate)
{
    secondsLeft.append(estimate);
    if (const std::optional<float> percent = ViewTexts::progressPercent(bytesDone, bytesTotal))
        progress = *percent;
    setCaption(ViewLabel::labelTime, ViewTexts::remainingTime(estimate));
}

void RecordingView::runSummarised(const RunSummary &figures)
{
    summary = figures;
    setCaption(ViewLabel::lblKB, ViewTexts::transferred(figures));
    setCaption(ViewLabel::lblElapsed, ViewTexts::duration(figures));
    setCaption(ViewLabel::lblSpeed, ViewTexts::speed(figures));
}

void RecordingView::runEnded(const RunResult &ended)
{
    result = ended;
    outcome = ended.outcome;
    setCaption(ViewLabel::lblError, ViewTexts::message(ended.message));
    setCaption(ViewLabel::lblReason, ViewTexts::detail(ended.message));
    pictures.insert(int(ViewPicture::imgError), ResultPicture(ended.outcome));
    showButtonVisible = ended.siteCanBeShown;
    ++shown;
    frameResultVisible = true;
    frameWaitVisible = false;
    closeIsCancel = true;
}

void RecordingView::runCancelled()
{
    programEnded = true;
}

void RecordingView::previewEntry(PreviewAction action, const QString &remotePath, qint64 bytes)
{
    previewLines.append(ViewTexts::previewLine(action, remotePath, bytes));
}

template <typename Answer> void RecordingView::reply(RunControl &control, Answer answer)
{
    switch (answering) {
    case Answering::AtOnce:
        control.answer(answer);
        break;
    case Answering::Later:
        QTimer::singleShot(0, [&control, answer] { control.answer(answer); });
        break;
    case Answering::CancelInstead:
        QTimer::singleShot(0, [&control] { control.cancel(); });
        break;
    }
}

void RecordingView::askChangedCertificate(const ChangedCertificate &certificate,
                                          RunControl &control)
{
    certificatesAsked.append(certificate);
    watchDogRanWhileAsked = watchDogRanWhileAsked || watchDogTimer().isActive();
    reply(control, certificateAnswer);
}

void RecordingView::askMassDeletion(qint64 filesToDelete, qint64 filesListed, RunControl &control)
{
    massDeletionsAsked.append({filesToDelete, filesListed});
    massDeletionQuestions.append(ViewTexts::massDeletionQuestion(filesToDelete, filesListed));
    reply(control, massDeletionAnswer);
}
