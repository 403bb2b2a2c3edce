#pragma once

#include "uploadview.h"

#include <QWidget>

class FtpControl;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

// The program's only window: the three steps of a run with their markers, the file being handled,
// the overall progress and the remaining time while the run works; the summary and the result
// afterwards. It hosts the FTP component and the watchdog timer and forwards their events to the
// session.
class FormFTPProgress : public QWidget, public UploadView
{
    Q_OBJECT

public:
    explicit FormFTPProgress(QWidget *parent = nullptr);
    ~FormFTPProgress() override;

    FtpControl &ftpcontrol() override;
    void setCaption(ViewLabel label, const QString &caption) override;
    void setBold(ViewLabel label, bool bold) override;
    void setPicture(ViewPicture picture, int imageListIndex) override;
    void setFileText(const QString &text) override;
    void setProgress(float percent) override;
    void setPanelVisible(ViewPanel panel, bool visible) override;
    void setShowButtonVisible(bool visible) override;
    void setWatchDogEnabled(bool enabled) override;
    void showNonModal() override;
    void makeCloseTheCancelButton() override;
    void endProgram() override;

private:
    QLabel *label(ViewLabel which) const;

    FtpControl *mFtp = nullptr;
    QTimer *mWatchDogTimer = nullptr;
    QWidget *mFrameWait = nullptr;
    QWidget *mFrameResult = nullptr;
    QLabel *mLabels[8] = {};
    QLabel *mPictures[4] = {};
    QLineEdit *mProFile = nullptr;
    QProgressBar *mOverAllProgress = nullptr;
    QPushButton *mCmdCancelBuild = nullptr;
    QPushButton *mCmdShow = nullptr;
    QPushButton *mCmdClose = nullptr;
};
