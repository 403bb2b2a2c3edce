#pragma once

#include "uploadview.h"

#include <QIcon>
#include <QWidget>
#include <array>
#include <optional>

class AnimationArea;
class FtpControl;
class MessageLabel;
class PathField;
class PictureBox;
class QLabel;
class QProgressBar;
class QPlainTextEdit;
class QPushButton;
class QTimer;

// The program's only window. While a run works it shows the three steps with their markers, the
// file being handled, the overall progress, the remaining time and an animation (panel FrameWait);
// when the run has ended it shows the summary and the result (panel FrameResult). It holds no
// logic of the run: the session writes its captions, pictures and visibility through UploadView.
// It hosts the FTP component and the watchdog timer and forwards their events to the session.
//
// Controls carry the names the session and the tests know them by (objectName), and sit where the
// window was laid out at 96 dots per inch, in logical pixels, so they scale with the screen.
class FormFTPProgress : public QWidget, public UploadView
{
    Q_OBJECT

public:
    explicit FormFTPProgress(QWidget *parent = nullptr);
    // For tests and tools: a component of their own, which the window takes over, and a clip from
    // elsewhere than the program's folder.
    FormFTPProgress(FtpControl *ftpcontrol, const QString &clipPath, QWidget *parent = nullptr);
    ~FormFTPProgress() override;

    // "ftp.dat" in the folder that holds the program.
    [[nodiscard]] static QString AnimationClipPath();

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
    void addPreviewLine(const QString &line) override;
    [[nodiscard]] MassDeletion confirmMassDeletion(const QString &question) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildWaitPanel();
    void buildResultPanel();
    void load(const QString &clipPath);

    // Handlers of the buttons.
    void cancelRun();
    void closeAndEndProgram();
    void showPublishedSite();

    // Presses a button the way a click would, but only when the user could click it.
    bool pressIfAvailable(QPushButton *button);
    [[nodiscard]] QLabel *label(ViewLabel which) const;

    FtpControl *mFtp = nullptr;
    QTimer *mWatchDogTimer = nullptr;
    // The image list: pictures 1 to 3 at indexes 0 to 2.
    std::array<QIcon, 3> mImageList;

    QWidget *mFrameWait = nullptr;
    AnimationArea *mAnimation = nullptr;
    PictureBox *mImgPrepare = nullptr;
    PictureBox *mImgConnect = nullptr;
    PictureBox *mImgFile = nullptr;
    QLabel *mLabelPrepare = nullptr;
    QLabel *mLabelConnect = nullptr;
    QLabel *mLabelFile = nullptr;
    PathField *mProFile = nullptr;
    QProgressBar *mOverAllProgress = nullptr;
    QPushButton *mCmdCancelBuild = nullptr;
    QLabel *mLabelTime = nullptr;

    QWidget *mFrameResult = nullptr;
    QLabel *mLblElapsed = nullptr;
    QLabel *mLblKB = nullptr;
    QLabel *mLblSpeed = nullptr;
    PictureBox *mImgError = nullptr;
    MessageLabel *mLblError = nullptr;
    QPushButton *mCmdShow = nullptr;
    QPushButton *mCmdClose = nullptr;
    // A preview's list of what the run would upload and delete; it takes the summary's place.
    QPlainTextEdit *mPreviewList = nullptr;

    // The button that Escape presses: cmdCancelBuild during the run, cmdClose afterwards.
    QPushButton *mCancelButton = nullptr;
    bool mPlacedOnScreen = false;
    // 0 after a successful run, 1 after a failed one; unset while the run works.
    std::optional<int> mResultStatus;
};
