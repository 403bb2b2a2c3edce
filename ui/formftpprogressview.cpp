// What the session writes into the window while a run works and when it ends (UploadView).
#include "formftpprogress.h"
#include "messagelabel.h"
#include "pathfield.h"
#include "picturebox.h"
#include "programexit.h"
#include "roundhalfeven.h"
#include "stringtable.h"
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
            return QStringLiteral("Übertragung läuft");
        case PictureDone:
            return QStringLiteral("Übertragung erfolgreich");
        case PictureFailed:
            return QStringLiteral("Übertragung fehlgeschlagen");
        default:
            return QStringLiteral("Ergebnis ausstehend");
        }
    }
    switch (number) {
    case PictureRunning:
        return QStringLiteral("Schritt läuft");
    case PictureDone:
        return QStringLiteral("Schritt erledigt");
    case PictureFailed:
        return QStringLiteral("Schritt fehlgeschlagen");
    default:
        return QStringLiteral("Schritt ausstehend");
    }
}

} // namespace

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
    }
    return nullptr;
}

void FormFTPProgress::setCaption(ViewLabel which, const QString &caption)
{
    if (which == ViewLabel::lblError) {
        mLblError->setMessage(caption);
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

void FormFTPProgress::addPreviewLine(const QString &line)
{
    if (mPreviewList->isHidden()) {
        // The preview's list takes the place of the summary, which has nothing to say about a
        // run that changed nothing.
        for (const char *name :
             {"imgIcon", "Label2", "lblElapsed", "Label3", "lblKB", "Label5", "lblSpeed"}) {
            if (QWidget *widget = mFrameResult->findChild<QWidget *>(QLatin1String(name)))
                widget->hide();
        }
        if (auto *heading = mFrameResult->findChild<QLabel *>(QStringLiteral("Label1")))
            heading->setText(WindowCaptions::previewHeading());
        mPreviewList->show();
    }
    mPreviewList->appendPlainText(line);
}

MassDeletion FormFTPProgress::confirmMassDeletion(const QString &question)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Parcelup"), question,
                    QMessageBox::NoButton, this);
    QPushButton *yes = box.addButton(ResourceString(MessageId::YesButton), QMessageBox::YesRole);
    QPushButton *no = box.addButton(ResourceString(MessageId::NoButton), QMessageBox::NoRole);
    // Deleting most of a live site is the answer that must be chosen, never fallen into.
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes ? MassDeletion::Delete : MassDeletion::Skip;
}
