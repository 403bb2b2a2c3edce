#include "formftpprogress.h"

#include "classupload.h"
#include "forwardevents.h"
#include "ftpcontrol.h"
#include "programexit.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

FormFTPProgress::FormFTPProgress(QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Site veröffentlichen"));
    setFixedSize(392, 212);

    mFtp = new FtpControl(this);
    mFtp->setObjectName(QStringLiteral("ftpcontrol"));
    mWatchDogTimer = new QTimer(this);
    mWatchDogTimer->setObjectName(QStringLiteral("WatchDogTimer"));
    mWatchDogTimer->setInterval(1000);
    ForwardEventsToSession(*mFtp, *mWatchDogTimer);
    mWatchDogTimer->start();

    mFrameWait = new QWidget(this);
    mFrameWait->setGeometry(0, 0, 392, 212);
    mFrameResult = new QWidget(this);
    mFrameResult->setGeometry(0, 0, 392, 212);
    mFrameResult->hide();

    const auto makeLabel = [](QWidget *frame, const char *name, const QString &text,
                              QRect geometry) {
        auto *label = new QLabel(text, frame);
        label->setObjectName(QLatin1String(name));
        label->setGeometry(geometry);
        return label;
    };
    mLabels[int(ViewLabel::labelprepare)] =
        makeLabel(mFrameWait, "labelprepare", QStringLiteral("Ermittle zu übertragende Dateien"),
                  {32, 80, 233, 17});
    mLabels[int(ViewLabel::labelConnect)] = makeLabel(
        mFrameWait, "labelConnect", QStringLiteral("Verbinde mit Server"), {32, 104, 233, 17});
    mLabels[int(ViewLabel::labelFile)] =
        makeLabel(mFrameWait, "labelFile", QStringLiteral("Dateiübertragung"), {32, 128, 121, 17});
    mLabels[int(ViewLabel::labelTime)] =
        makeLabel(mFrameWait, "labelTime", QStringLiteral("**"), {16, 192, 257, 17});
    mLabels[int(ViewLabel::lblElapsed)] =
        makeLabel(mFrameResult, "lblElapsed", QStringLiteral("n/a"), {168, 48, 201, 17});
    mLabels[int(ViewLabel::lblKB)] =
        makeLabel(mFrameResult, "lblKB", QStringLiteral("n/a"), {168, 72, 209, 17});
    mLabels[int(ViewLabel::lblSpeed)] =
        makeLabel(mFrameResult, "lblSpeed", QStringLiteral("n/a"), {168, 96, 209, 17});
    mLabels[int(ViewLabel::lblError)] =
        makeLabel(mFrameResult, "lblError", QStringLiteral("**"), {96, 120, 281, 33});
    mPictures[int(ViewPicture::imgPrepare)] =
        makeLabel(mFrameWait, "imgPrepare", {}, {16, 81, 17, 17});
    mPictures[int(ViewPicture::imgConnect)] =
        makeLabel(mFrameWait, "imgConnect", {}, {16, 105, 17, 17});
    mPictures[int(ViewPicture::imgFile)] = makeLabel(mFrameWait, "imgFile", {}, {16, 130, 17, 17});
    mPictures[int(ViewPicture::imgError)] =
        makeLabel(mFrameResult, "imgError", {}, {80, 122, 17, 17});

    mProFile = new QLineEdit(mFrameWait);
    mProFile->setObjectName(QStringLiteral("proFile"));
    mProFile->setGeometry(136, 128, 241, 33);
    mProFile->setReadOnly(true);
    mOverAllProgress = new QProgressBar(mFrameWait);
    mOverAllProgress->setObjectName(QStringLiteral("OverAllProgress"));
    mOverAllProgress->setGeometry(16, 168, 257, 17);
    mOverAllProgress->setValue(0);
    mCmdCancelBuild = new QPushButton(QStringLiteral("&Abbrechen"), mFrameWait);
    mCmdCancelBuild->setObjectName(QStringLiteral("cmdCancelBuild"));
    mCmdCancelBuild->setGeometry(288, 168, 89, 25);
    connect(mCmdCancelBuild, &QPushButton::clicked, this, [this] {
        setWindowTitle(QStringLiteral("Wird abgebrochen"));
        classUpload::instance().FTPCancel();
    });
    mCmdShow = new QPushButton(QStringLiteral("&Anzeigen"), mFrameResult);
    mCmdShow->setObjectName(QStringLiteral("cmdShow"));
    mCmdShow->setGeometry(192, 168, 89, 25);
    mCmdClose = new QPushButton(QStringLiteral("&Schließen"), mFrameResult);
    mCmdClose->setObjectName(QStringLiteral("cmdClose"));
    mCmdClose->setGeometry(288, 168, 89, 25);
    connect(mCmdClose, &QPushButton::clicked, this, [this] {
        close();
        QApplication::exit(0);
    });
}

FormFTPProgress::~FormFTPProgress() = default;

FtpControl &FormFTPProgress::ftpcontrol()
{
    return *mFtp;
}

QLabel *FormFTPProgress::label(ViewLabel which) const
{
    return mLabels[int(which)];
}

void FormFTPProgress::setCaption(ViewLabel which, const QString &caption)
{
    label(which)->setText(caption);
}

void FormFTPProgress::setBold(ViewLabel which, bool bold)
{
    QFont font = label(which)->font();
    font.setBold(bold);
    label(which)->setFont(font);
}

void FormFTPProgress::setPicture(ViewPicture, int) {}

void FormFTPProgress::setFileText(const QString &text)
{
    mProFile->setText(text);
}

void FormFTPProgress::setProgress(float percent)
{
    mOverAllProgress->setValue(int(percent));
}

void FormFTPProgress::setPanelVisible(ViewPanel panel, bool visible)
{
    (panel == ViewPanel::FrameWait ? mFrameWait : mFrameResult)->setVisible(visible);
}

void FormFTPProgress::setShowButtonVisible(bool visible)
{
    mCmdShow->setVisible(visible);
}

void FormFTPProgress::setWatchDogEnabled(bool enabled)
{
    if (enabled)
        mWatchDogTimer->start();
    else
        mWatchDogTimer->stop();
}

void FormFTPProgress::showNonModal()
{
    show();
}

void FormFTPProgress::makeCloseTheCancelButton() {}

void FormFTPProgress::endProgram()
{
    hide();
    RequestProgramExit(0);
}
