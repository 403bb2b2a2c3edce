#pragma once

#include "uploadview.h"

#include <QObject>
#include <cstdio>
#include <memory>
#include <optional>

// The run's face in a terminal, a script or a build job: the same session drives it through the
// same view interface as the window, and it prints what the window would show, with the window's
// own texts (ViewTexts, WindowCaptions).
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

    // control: the run this face shows, which its cancel() cancels; none for a face that only
    // prints.
    explicit ConsoleView(Output output = standardOutput(), RunControl *control = nullptr,
                         QObject *parent = nullptr);
    ~ConsoleView() override;

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
    void previewNote(const UserMessage &note) override;

    // --allow-mass-delete: nobody can be asked in a terminal, so the option answers.
    void setMassDeletionAllowed(bool allowed) { mMassDeletionAllowed = allowed; }

    // The user asked to stop (Ctrl+C): said once, then handled like the window's cancel button.
    void cancel();

    // 0 after a run that succeeded, 1 after a failed one, 5 after a refused clean-up, 6 after a
    // changed certificate that nobody accepted, 2 after a cancelled one; set when the run has
    // shown its result.
    [[nodiscard]] int exitStatus() const { return mExitStatus; }

private:
    void printLine(const QString &line);
    void drawProgress();
    void clearProgress();
    // A step's or the result's state, as a marker at the start of its line.
    enum class Mark { Running, Done, Failed };
    [[nodiscard]] QString marker(Mark mark) const;

    Output mOutput;
    RunControl *mControl = nullptr;
    // The caption of what the run does with the current file ("Übertrage Datei:").
    QString mFileCaption;
    // The seconds of the pause before the next try last shown; 0 once a file has started.
    qint32 mRetrySecondsShown = 0;
    QString mTimeText;
    float mProgress = 0;
    std::optional<RunSummary> mSummary;
    bool mProgressShown = false;
    bool mCancelSaid = false;
    bool mMassDeletionAllowed = false;
    int mExitStatus = 0;
};
