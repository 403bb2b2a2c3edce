#pragma once

#include "uploadview.h"

#include <QHash>
#include <QObject>
#include <cstdio>
#include <memory>
#include <optional>

class FtpControl;
class QTimer;

// The run's face in a terminal, a script or a build job: the same session drives it through the
// same view interface as the window, and it prints what the window would show, with the window's
// own texts.
//
// On a terminal the overall progress is one line that is redrawn in place; when the output is a
// file or a pipe every change is a plain line of its own and nothing else is written, so logs stay
// readable.
class ConsoleView : public QObject, public UploadView
{
    Q_OBJECT

public:
    struct Output
    {
        std::FILE *stream = stdout;
        bool terminal = false; // redraw the progress line in place
        bool utf8 = true;      // step markers as "▸ ✓ ✗" rather than "> + x"
    };
    // What the current process's standard output is.
    [[nodiscard]] static Output standardOutput();

    explicit ConsoleView(Output output = standardOutput(), QObject *parent = nullptr);
    ~ConsoleView() override;

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
    void setOutcome(RunOutcome outcome) override;

    // --allow-mass-delete: nobody can be asked in a terminal, so the option answers.
    void setMassDeletionAllowed(bool allowed) { mMassDeletionAllowed = allowed; }

    // The user asked to stop (Ctrl+C): said once, then handled like the window's cancel button.
    void cancel();

    // 0 after the success message, 1 after any other result; set when the run has shown its result.
    [[nodiscard]] int exitStatus() const { return mExitStatus; }

private:
    void printLine(const QString &line);
    void drawProgress();
    void clearProgress();
    [[nodiscard]] QString marker(int picture) const;
    [[nodiscard]] QString stepCaption(ViewPicture picture) const;

    Output mOutput;
    FtpControl *mFtp = nullptr;
    QTimer *mWatchDogTimer = nullptr;
    QHash<int, QString> mCaptions;
    int mResultPicture = 0;
    float mProgress = 0;
    bool mProgressShown = false;
    bool mCancelSaid = false;
    bool mMassDeletionAllowed = false;
    // Said by the session before the result; without it the result message decides.
    std::optional<RunOutcome> mOutcome;
    int mExitStatus = 0;
};
