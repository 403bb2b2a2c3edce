// What the session reports to the window while a run works and when it ends (UploadView), and the
// controls it sets.
#include "formftpprogress.h"
#include "messagelabel.h"
#include "pathfield.h"
#include "picturebox.h"
#include "programexit.h"
#include "roundhalfeven.h"
#include "stringtable.h"
#include "viewtexts.h"
#include "windowcaptions.h"

#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cmath>

namespace {

// What a picture shows, for assistive technology: a step marker tells the step's state, the
// result marker the outcome of the run.
QString describePicture(ViewPicture picture, int number)
{
    if (picture == ViewPicture::imgError) {
        switch (number) {
        case PictureRunning:
            return ResourceString(MessageId::ResultRunning);
        case PictureDone:
            return ResourceString(MessageId::ResultSucceeded);
        case PictureFailed:
            return ResourceString(MessageId::ResultFailed);
        default:
            return ResourceString(MessageId::ResultPending);
        }
    }
    switch (number) {
    case PictureRunning:
        return ResourceString(MessageId::StepRunning);
    case PictureDone:
        return ResourceString(MessageId::StepDone);
    case PictureFailed:
        return ResourceString(MessageId::StepFailed);
    default:
        return ResourceString(MessageId::StepPending);
    }
}

} // namespace

void FormFTPProgress::runStarted()
{
    setCaption(ViewLabel::labelTime, ViewTexts::remainingTimeUnknown());
    setFileText(QString());
    stepStarted(RunStep::Prepare);
    setPanelVisible(ViewPanel::FrameWait, true);
    setPanelVisible(ViewPanel::FrameResult, false);
    showNonModal();
}

void FormFTPProgress::stepStarted(RunStep step)
{
    setBold(StepLabel(step), true);
    setPicture(StepMarker(step), PictureRunning);
}

void FormFTPProgress::stepEnded(RunStep step, bool succeeded)
{
    setBold(StepLabel(step), false);
    setPicture(StepMarker(step), succeeded ? PictureDone : PictureFailed);
}

void FormFTPProgress::fileStarted(FileAction action, const QString &remotePath)
{
    // The file step's caption says what is done with the file, below it the file itself.
    setCaption(ViewLabel::labelFile, ViewTexts::fileActionCaption(action));
    setFileText(remotePath);
}

void FormFTPProgress::waitingToTryAgain(qint32 secondsLeft)
{
    // In the file line, where the user looks to see the run move.
    setFileText(ViewTexts::retryPending(secondsLeft));
}

void FormFTPProgress::progressed(qint64 bytesDone, qint64 bytesTotal,
                                 std::optional<qint32> secondsLeft)
{
    if (const std::optional<float> percent = ViewTexts::progressPercent(bytesDone, bytesTotal))
        setProgress(*percent);
    setCaption(ViewLabel::labelTime, ViewTexts::remainingTime(secondsLeft));
}

void FormFTPProgress::runSummarised(const RunSummary &summary)
{
    setCaption(ViewLabel::lblKB, ViewTexts::transferred(summary));
    setCaption(ViewLabel::lblElapsed, ViewTexts::duration(summary));
    setCaption(ViewLabel::lblSpeed, ViewTexts::speed(summary));
}

void FormFTPProgress::runEnded(const RunResult &result)
{
    // The message and its reason each get their own place: the message's label holds three
    // lines, and the reason what to do about it.
    setCaption(ViewLabel::lblError,
               ViewTexts::message(UserMessage(result.message.id, result.message.arguments)));
    if (const QString reason = ViewTexts::detail(result.message); !reason.isEmpty())
        showReason(reason);
    setPicture(ViewPicture::imgError, ResultPicture(result.outcome));
    setShowButtonVisible(result.siteCanBeShown);
    showNonModal();
    setPanelVisible(ViewPanel::FrameResult, true);
    setPanelVisible(ViewPanel::FrameWait, false);
    makeCloseTheCancelButton();
}

void FormFTPProgress::runCancelled()
{
    endProgram();
}

void FormFTPProgress::previewEntry(PreviewAction action, const QString &remotePath, qint64 bytes)
{
    addPreviewLine(ViewTexts::previewLine(action, remotePath, bytes));
}

void FormFTPProgress::askMassDeletion(qint64 filesToDelete, qint64 filesListed, RunControl &control)
{
    askYesNo(ViewTexts::massDeletionQuestion(filesToDelete, filesListed), [&control](bool yes) {
        control.answer(yes ? MassDeletion::Delete : MassDeletion::Skip);
    });
}

void FormFTPProgress::askChangedCertificate(const ChangedCertificate &certificate,
                                            RunControl &control)
{
    askYesNo(ViewTexts::certificateQuestion(certificate), [&control](bool yes) {
        control.answer(yes ? CertificateAnswer::Accept : CertificateAnswer::Refuse);
    });
}

void FormFTPProgress::previewNote(const UserMessage &note)
{
    addPreviewLine(ViewTexts::message(note));
}

QLabel *FormFTPProgress::label(ViewLabel which) const
{
    switch (which) {
    case ViewLabel::labelprepare:
        return mLabelPrepare;
    case ViewLabel::labelConnect:
        return mLabelConnect;
    case ViewLabel::labelFile:
        return mLabelFile;
    case ViewLabel::labelTime:
        return mLabelTime;
    case ViewLabel::lblKB:
        return mLblKB;
    case ViewLabel::lblElapsed:
        return mLblElapsed;
    case ViewLabel::lblSpeed:
        return mLblSpeed;
    case ViewLabel::lblError:
        return mLblError;
    case ViewLabel::lblReason:
        return mLblReason;
    }
    return nullptr;
}

void FormFTPProgress::setCaption(ViewLabel which, const QString &caption)
{
    if (which == ViewLabel::lblError || which == ViewLabel::lblReason) {
        (which == ViewLabel::lblError ? mLblError : mLblReason)->setMessage(caption);
        return;
    }
    QLabel *target = label(which);
    target->setText(caption);
    target->setAccessibleName(caption);
}

void FormFTPProgress::setBold(ViewLabel which, bool bold)
{
    QLabel *target = label(which);
    QFont font = target->font();
    font.setBold(bold);
    target->setFont(font);
}

void FormFTPProgress::setPicture(ViewPicture picture, int imageListIndex)
{
    PictureBox *target = nullptr;
    switch (picture) {
    case ViewPicture::imgPrepare:
        target = mImgPrepare;
        break;
    case ViewPicture::imgConnect:
        target = mImgConnect;
        break;
    case ViewPicture::imgFile:
        target = mImgFile;
        break;
    case ViewPicture::imgError:
        target = mImgError;
        break;
    }
    // A number outside the image list empties the picture rather than failing.
    const bool known = imageListIndex >= 1 && imageListIndex <= int(mImageList.size());
    target->setPicture(known ? mImageList[imageListIndex - 1] : QIcon());
    target->setAccessibleName(describePicture(picture, known ? imageListIndex : 0));
    if (picture == ViewPicture::imgError)
        mResultStatus = imageListIndex == PictureDone ? 0 : 1;
}

void FormFTPProgress::setFileText(const QString &text)
{
    mProFile->setPath(text);
}

void FormFTPProgress::setProgress(float percent)
{
    // The bar takes whole percents, rounded as the figures of the summary are. A value out of
    // range (a file that grew after the scan) is held at the ends instead of being refused.
    const double rounded = std::isnan(percent) ? 0.0 : RoundHalfEven(double(percent));
    mOverAllProgress->setValue(int(std::clamp(rounded, 0.0, 100.0)));
}

void FormFTPProgress::setPanelVisible(ViewPanel panel, bool visible)
{
    (panel == ViewPanel::FrameWait ? mFrameWait : mFrameResult)->setVisible(visible);
}

void FormFTPProgress::setShowButtonVisible(bool visible)
{
    mCmdShow->setVisible(visible);
}

void FormFTPProgress::showNonModal()
{
    show();
}

void FormFTPProgress::makeCloseTheCancelButton()
{
    mCancelButton = mCmdClose;
}

void FormFTPProgress::endProgram()
{
    // The run was cancelled: no result is shown, the window goes with the program.
    hide();
    RequestProgramExit(2);
}

void FormFTPProgress::hideSummaryFigures()
{
    for (const char *name :
         {"imgIcon", "Label2", "lblElapsed", "Label3", "lblKB", "Label5", "lblSpeed"}) {
        if (QWidget *widget = mFrameResult->findChild<QWidget *>(QLatin1String(name)))
            widget->hide();
    }
}

void FormFTPProgress::addPreviewLine(const QString &line)
{
    if (mPreviewList->isHidden()) {
        // The preview's list takes the place of the summary, which has nothing to say about a
        // run that changed nothing.
        hideSummaryFigures();
        if (auto *heading = mFrameResult->findChild<QLabel *>(QStringLiteral("Label1")))
            heading->setText(WindowCaptions::previewHeading());
        mPreviewList->show();
    }
    mPreviewList->appendPlainText(line);
}

void FormFTPProgress::showReason(const QString &reason)
{
    // A run refused before anything was sent has no figures worth showing, and its reason does
    // not fit beside the result's marker.
    hideSummaryFigures();
    mPreviewList->hide();
    if (auto *heading = mFrameResult->findChild<QLabel *>(QStringLiteral("Label1")))
        heading->setText(WindowCaptions::Label1());
    setCaption(ViewLabel::lblReason, reason);
    mLblReason->show();
}

void FormFTPProgress::askYesNo(const QString &question, std::function<void(bool yes)> answered)
{
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Parcelup"), question,
                                QMessageBox::NoButton, this);
    QPushButton *yes = box->addButton(ResourceString(MessageId::YesButton), QMessageBox::YesRole);
    QPushButton *no = box->addButton(ResourceString(MessageId::NoButton), QMessageBox::NoRole);
    box->setDefaultButton(no);
    box->setEscapeButton(no);
    // Modal for the whole program, as a box run with exec() is, but without an event loop of its
    // own: the run that asked waits in its own loop for the answer.
    box->setWindowModality(Qt::ApplicationModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QDialog::finished, this,
            [box, yes, answered = std::move(answered)] { answered(box->clickedButton() == yes); });
    box->show();
}
