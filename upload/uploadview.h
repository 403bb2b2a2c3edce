#pragma once

#include "ftptlsrefusal.h"
#include "runcontrol.h"
#include "usermessage.h"

#include <QString>
#include <QtGlobal>
#include <optional>

// What the upload session tells the face of the program while it works: what happened, in numbers,
// names and message ids, never in finished text. The progress window implements it, and so does
// the console face; tests use a recording view. Each face turns the events into its own words with
// the string table, so the session never includes a user-interface header and the same run can
// drive any of them. The FTP component and the watchdog belong to the session
// (FtpComponentHost); a view only shows what they do, and acts on the run through its RunControl.

// The three steps of a run, as the window lists them.
enum class RunStep { Prepare, Connect, Transfer };

// What the run is doing with one file or folder on the server.
enum class FileAction {
    Reading,        // the server's old upload log is fetched
    DeletingFile,   // the clean-up removes a file the site no longer holds
    DeletingFolder, // ... or a folder
    Uploading,
};

// One entry of a preview (--dry-run).
enum class PreviewAction { Upload, DeleteFile, DeleteFolder };

// How a run ended, for a face that reports it as an exit status.
enum class RunOutcome {
    Succeeded,          // the success message, or a preview that worked
    Failed,             // any other result message
    CleanUpRefused,     // uploaded, but the clean-up would have deleted most of the site and was
                        // skipped
    CertificateRefused, // nothing was sent: the server's certificate changed, and nobody
                        // accepted the new one
};

// A server certificate that does not verify and is not the one trusted before: a renewal by the
// host, or someone on the way. Only the user can tell, so the session asks before anything is sent.
struct ChangedCertificate
{
    QString host;                  // the server as in the settings
    QByteArray trustedFingerprint; // SHA-256, lower-case hex
    FtpCertificateSummary presented;
};

// The figures of a run once it has ended.
struct RunSummary
{
    qint32 filesDone = 0;          // files uploaded
    qint64 bytesDone = 0;          // their bytes
    qint32 elapsedSeconds = 0;     // the run's duration, whole seconds
    double kilobytesPerSecond = 0; // 1000 bytes to the kilobyte
};

// How a run ended and what its result says.
struct RunResult
{
    RunOutcome outcome = RunOutcome::Succeeded;
    UserMessage message;
    // The published site can be opened in a browser: the run succeeded and its address is known.
    bool siteCanBeShown = false;
};

class UploadView
{
public:
    virtual ~UploadView() = default;

    // The run begins: its remaining time is not known yet, no file is being handled, and its
    // first step, the preparation, is under way. The face shows itself without blocking.
    virtual void runStarted() = 0;
    virtual void stepStarted(RunStep step) = 0;
    virtual void stepEnded(RunStep step, bool succeeded) = 0;
    // The run turns to a file or folder on the server; remotePath is its full path there.
    virtual void fileStarted(FileAction action, const QString &remotePath) = 0;
    // After each uploaded file. secondsLeft is the estimate of the remaining time, 0 when the run
    // is almost done, and empty while no estimate could be made; bytesTotal may be 0.
    virtual void progressed(qint64 bytesDone, qint64 bytesTotal,
                            std::optional<qint32> secondsLeft) = 0;
    // The run waits to try again after a fault that may pass: secondsLeft of the pause, counted
    // down once a second. The next file or result ends the wait's display.
    virtual void waitingToTryAgain(qint32 secondsLeft) { Q_UNUSED(secondsLeft); }
    // The run's figures, reported right before its result.
    virtual void runSummarised(const RunSummary &summary) = 0;
    // The run has ended and shows its result; the face stays until the user closes it.
    virtual void runEnded(const RunResult &result) = 0;
    // The user cancelled: the program ends at once, without sound or message.
    virtual void runCancelled() = 0;

    // One entry of a preview: a file the run would upload (with its size), or a file or folder it
    // would delete.
    virtual void previewEntry(PreviewAction action, const QString &remotePath, qint64 bytes)
    {
        Q_UNUSED(action);
        Q_UNUSED(remotePath);
        Q_UNUSED(bytes);
    }
    // The run's questions. The run waits until the face answers through control, at once or once
    // the user has decided, or until the user cancels; meanwhile the watchdog is paused, since the
    // user may take a while. The face asks without blocking: the run's own wait keeps the events
    // flowing, so no question runs an event loop of its own inside it.
    //
    // Asked before the first deletion of a clean-up that would delete filesToDelete of the
    // filesListed files the old upload log names. A face that cannot ask anybody skips the
    // clean-up and reports it.
    virtual void askMassDeletion(qint64 filesToDelete, qint64 filesListed, RunControl &control)
    {
        Q_UNUSED(filesToDelete);
        Q_UNUSED(filesListed);
        control.answer(MassDeletion::SkipAndReport);
    }
    // Asked before anything is sent when the server's certificate changed. A face that cannot
    // ask anybody refuses and reports it.
    virtual void askChangedCertificate(const ChangedCertificate &certificate, RunControl &control)
    {
        Q_UNUSED(certificate);
        control.answer(CertificateAnswer::RefuseAndReport);
    }
    // A remark of a preview, shown with its entries: something the real run will do that the
    // preview did not (trust a new certificate, for instance).
    virtual void previewNote(const UserMessage &note) { Q_UNUSED(note); }
};
