#pragma once

#include "uploadview.h"
#include "windowcontrols.h"

#include <QIcon>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

class AnimationArea;
class MessageLabel;
class PathField;
class PictureBox;
class QLabel;
class QProgressBar;
class QPlainTextEdit;
class QPushButton;

// The program's only window. While a run works it shows the three steps with their markers, the
// file being handled, the overall progress, the remaining time and an animation (panel FrameWait);
// when the run has ended it shows the summary and the result (panel FrameResult). It holds no
// logic of the run: it turns what the session reports through UploadView into its captions,
// pictures and visibility, with the texts of ViewTexts.
// The FTP component and the watchdog timer belong to the session; the window shows what they do,
// and its buttons, its close and its questions act on the run through the RunControl it was made
// with.
//
// Controls carry the names the session and the tests know them by (objectName), and sit where the
// window was laid out at 96 dots per inch, in logical pixels, so they scale with the screen.
class FormFTPProgress : public QWidget, public UploadView
{
    Q_OBJECT

public:
    explicit FormFTPProgress(RunControl &control, QWidget *parent = nullptr);
    // For tests and tools: a clip from elsewhere than the program's folder.
    FormFTPProgress(RunControl &control, const QString &clipPath, QWidget *parent = nullptr);
    ~FormFTPProgress() override;

    // "ftp.dat" in the folder that holds the program.
    [[nodiscard]] static QString AnimationClipPath();

    // UploadView.
    void runStarted() override;
    void stepStarted(RunStep step) override;
    void stepEnded(RunStep step, bool succeeded) override;
    void fileStarted(FileAction action, const QString &remotePath) override;
    void waitingToTryAgain(qint32 secondsLeft) override;
    void progressed(qint64 bytesDone, qint64 bytesTotal,
                    std::optional<qint32> secondsLeft) override;
    void runSummarised(const RunSummary &summary) override;
    void runEnded(const RunResult &result) override;
    void runCancelled() override;
    void previewEntry(PreviewAction action, const QString &remotePath, qint64 bytes) override;
    void askMassDeletion(qint64 filesToDelete, qint64 filesListed, RunControl &control) override;
    void askChangedCertificate(const ChangedCertificate &certificate, RunControl &control) override;
    void previewNote(const UserMessage &note) override;

    // The controls themselves, which the events above set; tests and the screenshot tool set
    // them directly.
    void setCaption(ViewLabel label, const QString &caption);
    void setBold(ViewLabel label, bool bold);
    void setPicture(ViewPicture picture, int imageListIndex);
    // The text box that shows the remote path being handled.
    void setFileText(const QString &text);
    // Percent of the bytes uploaded, 0 to 100.
    void setProgress(float percent);
    void setPanelVisible(ViewPanel panel, bool visible);
    void setShowButtonVisible(bool visible);
    // Shows the window without blocking.
    void showNonModal();
    // After the run Escape closes the window instead of cancelling.
    void makeCloseTheCancelButton();
    // A run the user cancelled ends the program at once, without sound or message.
    void endProgram();
    void addPreviewLine(const QString &line);
    // Why the run failed, in the place of the summary's figures.
    void showReason(const QString &reason);
    // Asks in a modal warning box with "Ja" and "Nein" and returns at once; answered gets true
    // for "Ja" once the user has chosen. "Nein" is the default and the Escape answer: what the
    // window asks about (deleting most of a live site, trusting a certificate nobody can verify)
    // must be chosen, never fallen into. A box that goes with the window answers nothing.
    void askYesNo(const QString &question, std::function<void(bool yes)> answered);

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildWaitPanel();
    void buildResultPanel();
    // The summary's figures and the globe make room for a preview's list or a failure's reason.
    void hideSummaryFigures();
    void load(const QString &clipPath);

    // Handlers of the buttons.
    void cancelRun();
    void closeAndEndProgram();
    void showPublishedSite();

    // Presses a button the way a click would, but only when the user could click it.
    bool pressIfAvailable(QPushButton *button);
    [[nodiscard]] QLabel *label(ViewLabel which) const;

    RunControl &mControl;
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
    MessageLabel *mLblReason = nullptr;
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
