#pragma once

#include "uploadview.h"
#include "windowcontrols.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <optional>
#include <utility>

// A view for tests of the session: it records every event the session reports, and the texts and
// controls the window would show for them (the same ViewTexts), so tests can compare either. It
// answers the run's questions as the test set it to, through the control the session hands it.
class RecordingView : public UploadView
{
public:
    // The session's watchdog timer is held still once installed, so tests decide when ticks
    // happen, unless startWatchDog is true.
    explicit RecordingView(bool startWatchDog = false);
    ~RecordingView() override;

    // Installs this view as the session's view: call it after fresh(), and after the test put its
    // FTP component in the session (useFtpComponent), if it has one of its own.
    void install();

    // The session's watchdog timer (after install()).
    [[nodiscard]] static QTimer &watchDogTimer();

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

    // The events, as the session reported them.
    int runsStarted = 0;
    QList<RunStep> stepsStarted;
    QList<std::pair<RunStep, bool>> stepsEnded;
    QList<FileAction> fileActions;            // with fileTexts, in order
    QList<std::optional<qint32>> secondsLeft; // every estimate, in order
    QList<qint32> retryCountdown;             // every second of the pauses before a new try
    bool cancelWhenWaitingToTryAgain = false; // the user cancels as soon as a pause begins
    std::optional<RunSummary> summary;
    std::optional<RunResult> result;
    std::optional<RunOutcome> outcome;
    bool programEnded = false;
    QList<std::pair<qint64, qint64>> massDeletionsAsked; // (files to delete, files listed)
    MassDeletion massDeletionAnswer = MassDeletion::SkipAndReport;
    // How the questions are answered: at once, from the event loop as a user does, or not at all
    // because the user cancels the run instead.
    enum class Answering { AtOnce, Later, CancelInstead };
    Answering answering = Answering::AtOnce;
    QList<ChangedCertificate> certificatesAsked;
    bool watchDogRanWhileAsked = false;
    CertificateAnswer certificateAnswer = CertificateAnswer::RefuseAndReport;

    // What the window would show for them.
    QString caption(ViewLabel label) const { return captions.value(int(label)); }
    bool bold(ViewLabel label) const { return bolds.value(int(label)); }
    int picture(ViewPicture picture) const { return pictures.value(int(picture)); }

    QHash<int, QString> captions;
    QHash<int, bool> bolds;
    QHash<int, int> pictures;
    QString fileText;
    QStringList fileTexts; // every text the file box showed, in order
    QStringList timeTexts; // every remaining-time text, in order
    float progress = 0;
    bool frameWaitVisible = false;
    bool frameResultVisible = false;
    bool showButtonVisible = true;
    int shown = 0;
    bool closeIsCancel = false;
    QStringList previewLines;
    QStringList massDeletionQuestions;

private:
    template <typename Answer> void reply(RunControl &control, Answer answer);
    void setCaption(ViewLabel label, const QString &caption);
    void setFileText(const QString &text);

    bool mStartWatchDog = false;
};
