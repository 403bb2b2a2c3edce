#include "classupload.h"
#include "ftpcomponenthost.h"
#include "ftpcontrol.h"
#include "ftpresult.h"
#include "stringtable.h"
#include "uploadview.h"

#include <QTimer>
#include <algorithm>

// A fault that passes does not end the run. Shared hosts drop connections, restart their FTP
// server, run out of data ports for a moment or say "try again" (4xx); the next run would go on
// where this one stopped, but a person publishing a big site, or a script, would have to notice
// and start it. So the run logs in again, after a pause that grows with every try in a row, and
// goes on from where it stopped: the clean-up again unless it came to its end, the files not yet
// sent. Each try starts as a new run does, from a new log-in and folders proven by PWD, so the
// rules that keep a run from storing or deleting on a guess hold after every new log-in as well.

namespace {

// Five tries in a row (FTPRetries) without a file sent between them, after pauses of 1, 2, 4, 8
// and 16 s: a server that restarts or has a busy moment is back by then, one that stays down ends
// the run within about half a minute plus the tries' own time-outs. A host that breaks again and
// again while files still arrive gets fifty tries in all, and one more for every hundred files
// sent: a big site to a host that runs out of data ports every few thousand files finishes, one
// that breaks after every file or two does not keep the run going for ever.
constexpr qint32 kMostTriesInARow = 10;
constexpr qint32 kTriesInAnyRun = 50;
constexpr qint32 kFilesPerFurtherTry = 100;
constexpr qint32 kLongestPause = 30;

} // namespace

void classUpload::FTPRetries(qint32 myRetries)
{
    mSettings.mRetries = std::clamp(myRetries, 0, kMostTriesInARow);
}

StepOutcome classUpload::RecordFault(int connection, MessageId id, const QString &concerned)
{
    const FtpControl &component = ftpHost().component(connection);
    const int reply = component.isConnected() ? FtpResult::replyCode(component.result()) : 0;
    const StepOutcome outcome = RecordFailure(UserMessage(id, {concerned}), reply);
    mFailure.mPassing = IsPassingFault(connection);
    return outcome;
}

bool classUpload::IsPassingFault(int connection)
{
    const FtpControl &component = ftpHost().component(connection);
    if (!component.isConnected())
        return true;
    const qint16 result = component.result();
    switch (result) {
    case FtpResult::ConnectionLost:
    case FtpResult::Timeout:
    case FtpResult::DataConnectionFailed:
    case FtpResult::NotConnected:
        return true;
    default:
        break;
    }
    if (FtpResult::isTransientRefusal(result))
        return true;
    // A server out of data ports for a moment answers the passive command, not the file, and
    // often ends the session with it ("500 OOPS: vsf_sysutil_bind", then a close the client may
    // not have seen yet): the file itself was never refused.
    static const QStringList dataCommands{QStringLiteral("PASV"), QStringLiteral("EPSV"),
                                          QStringLiteral("PORT"), QStringLiteral("EPRT")};
    return FtpResult::isPermanentRefusal(result) &&
           dataCommands.contains(component.refusedCommand());
}

StepOutcome classUpload::PublishChanges()
{
    if (!mRetry.mDestinationKnown) {
        if (const StepOutcome settled = SettleDestination(); !settled)
            return settled;
    }
    if (mSettings.mDeleteRemote && !mRetry.mCleanUpDone) {
        // A clean-up broken off has changed nothing in the upload log yet: the next try plans it
        // anew from the server's log, and what is gone on the server by then is refused (550) and
        // so dropped from the log as it would have been.
        if (const StepOutcome cleaned = FTPDeleteFiles(); !cleaned)
            return cleaned;
        mRetry.mCleanUpDone = true;
    }
    if (!mSettings.mPreviewOnly)
        return FTPUploadFiles();
    PreviewUploads();
    return StepOutcome::done();
}

StepOutcome classUpload::SettleDestination()
{
    if (const StepOutcome based = SetRemoteBaseDir(); !based)
        return based;
    ChooseMarkerDestination();
    if (mSettings.mDifferentialMode) {
        if (const StepOutcome kept = KeepChangedFiles(); !kept)
            return kept;
    }
    mRetry.mDestinationKnown = true;
    return StepOutcome::done();
}

bool classUpload::TryAgainAfterFault()
{
    // The fault that began the tries in a row: when they are used up, its message is the run's,
    // not that of the last log-in that did not come through.
    std::optional<FailureState> fault;
    while (mFailure.mPassing && mFailure.mErrorId != MessageId::CancelledByUser) {
        if (mRun.mFilesDone > mRetry.mFilesDoneAtLastFault)
            mRetry.mInARow = 0;
        mRetry.mFilesDoneAtLastFault = mRun.mFilesDone;
        if (!fault)
            fault = mFailure;
        const qint32 mostTries = kTriesInAnyRun + mRun.mFilesDone / kFilesPerFurtherTry;
        if (mRetry.mInARow >= mSettings.mRetries || mRetry.mTotal >= mostTries) {
            if (mSettings.mRetries > 0)
                DebugNote(
                    ResourceString(MessageId::RetriesUsedUp, {QString::number(mRetry.mTotal)}));
            mFailure = *fault;
            return false;
        }
        ++mRetry.mInARow;
        ++mRetry.mTotal;
        const qint32 pause = std::min(kLongestPause, qint32{1} << (mRetry.mInARow - 1));
        DebugNote(ResourceString(MessageId::TryingAgain,
                                 {MessageText(mFailure.mErrorId, mFailure.mErrorArguments),
                                  QString::number(pause), QString::number(mRetry.mInARow),
                                  QString::number(mSettings.mRetries)}));

        // What the fault left of the connections is given up: the next try starts from a log-in.
        ftpHost().removeFurtherComponents();
        ftp().Disconnect();
        mFailure = FailureState{};
        if (!PauseBeforeTrying(pause))
            return false; // the user's cancellation, recorded as such
        if (LogInAgain())
            return true;
        // A log-in that did not come through tries again when its failure may pass.
    }
    return false;
}

StepOutcome classUpload::PauseBeforeTrying(qint32 seconds)
{
    // A pause is no stall: the watchdog sleeps through it, and counts afresh after it.
    FtpComponentHost &host = ftpHost();
    host.setWatchDogEnabled(false);
    qint32 left = seconds;
    view().waitingToTryAgain(left);
    // The run's second is the watchdog's tick, which tests make shorter.
    QTimer second;
    second.setInterval(host.watchDogTimer().interval());
    QObject::connect(&second, &QTimer::timeout, [this, &left] {
        if (--left > 0)
            view().waitingToTryAgain(left);
    });
    second.start();
    WaitForCompletion([&left] { return left <= 0; });
    second.stop();
    ResetWatchDog(0);
    mWait.mFurtherTicks.fill(0);
    host.setWatchDogEnabled(true);
    return Outcome();
}

StepOutcome classUpload::LogInAgain()
{
    // The component keeps what the first log-in settled: the same security, the certificate it
    // trusted, the same proxy and data connection mode.
    const RequestOutcome login = Perform([](FtpControl &ftp) { ftp.Connect(); });
    if (login.succeeded())
        return StepOutcome::done();
    if (!login.isCompleted()) {
        // Cancelled, or timed out (the watchdog recorded that, as a fault that may pass).
        if (const StepOutcome interrupted = Outcome(); !interrupted)
            return interrupted;
        const StepOutcome failed = RecordFailure(MessageId::ConnectionFailed, ftp().host());
        mFailure.mPassing = true;
        return failed;
    }
    const qint16 result = login.result();
    if (login.replyCode() == 530)
        return RecordFailure(MessageId::LogonFailed);
    // Another certificate in the middle of a run is not taken, whoever would answer.
    if (result == FtpResult::TlsFailure || result == FtpResult::CertificateChanged)
        return RecordTlsRefusal();
    const StepOutcome failed = RecordFailure(MessageId::ConnectionFailed, ftp().host());
    // Not there for a moment (refused, reset, timed out, "421 too many connections" while the
    // host still counts the broken one): that may pass; any other final no does not.
    mFailure.mPassing = !FtpResult::isPermanentRefusal(result);
    return failed;
}
