#include "classupload.h"
#include "ftpcomponenthost.h"
#include "ftpcontrol.h"
#include "ftperror.h"
#include "ftpresult.h"
#include "stringtable.h"

#include <QCoreApplication>

// Waiting for the FTP component. The run is written as a sequence of steps; each request is started
// and then waited for here while the thread keeps handling events, so the window repaints, the
// component's signals arrive and the cancel button and the watchdog act. The wait blocks in the
// event dispatcher (WaitForMoreEvents) instead of polling, so a slow transfer costs no processor
// time. Steps that are coroutines (several connections at once) are resumed from here, never from
// inside a signal of a component.
void classUpload::WaitForCompletion(const std::function<bool()> &completed, bool anyFailureEnds)
{
    const auto over = [&] {
        return completed() || mFailure.mInterrupted || (anyFailureEnds && mFailure.mAborted);
    };
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    ResumeReadySteps();
    while (!over()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        ResumeReadySteps();
    }
    mWait.mDone = false;
}

void classUpload::ResumeReadySteps()
{
    // A resumed step may start requests, or end, and so make others ready; one pass over the
    // connections at a time until none is.
    FtpComponentHost &host = ftpHost();
    for (bool resumed = true; resumed;) {
        resumed = false;
        for (int connection = 0; connection < host.connectionCount(); ++connection)
            resumed = host.wait(connection).resumeIfReady() || resumed;
    }
}

RequestOutcome classUpload::Perform(const std::function<void(FtpControl &)> &start, int connection)
{
    FtpComponentHost &host = ftpHost();
    FtpControl &component = host.component(connection);
    ConnectionWait &wait = host.wait(connection);
    try {
        start(component);
    } catch (const FtpError &) {
        return RequestOutcome::notStarted();
    }
    wait.expect(component.requestNumber());
    WaitForCompletion([&wait] { return wait.hasArrived(); });
    const std::optional<RequestOutcome> arrived = wait.takeArrived();
    wait.forget();
    // Still under way: the cancellation or the watchdog has asked the component to give it up.
    if (!arrived)
        return RequestOutcome::interrupted();
    if (IsOwnAbort(*arrived))
        return RequestOutcome::interrupted();
    return *arrived;
}

bool classUpload::IsOwnAbort(const RequestOutcome &outcome) const
{
    return mFailure.mAborted && outcome.isCompleted() && outcome.result() == FtpResult::Aborted;
}

ConnectionWait::Request classUpload::Request(int connection,
                                             std::function<void(FtpControl &)> &start)
{
    FtpComponentHost &host = ftpHost();
    return ConnectionWait::Request(host.wait(connection), host.component(connection), start);
}

bool classUpload::RecordIfConnectionLost(int connection)
{
    // A cancellation or the watchdog may have ended the connection themselves; their message
    // stands.
    FtpControl &component = ftpHost().component(connection);
    if (mFailure.mAborted || component.isConnected())
        return false;
    RecordFailure(MessageId::ConnectionLost, component.host());
    mFailure.mPassing = true;
    return true;
}

StepOutcome classUpload::FTPConnect()
{
    mDebugFile.close();
    mWait.mDone = false;
    mFailure.mAborted = false;
    mFailure.mInterrupted = false;
    // A preview changes nothing, a trust decision included: what it trusts anew, it trusts for
    // this run only.
    ftp().setTrustRemembered(!mSettings.mPreviewOnly);
    ftp().setAcceptedCertificate(mSettings.mAcceptedCertificate);

    RequestOutcome login = LogIn();
    // The handshake that found the changed certificate has ended by now; the user may take a
    // while to decide, longer than a server waits in the middle of a handshake. So the yes is
    // answered with a new log-in that takes exactly the certificate shown, and only it.
    if (login.result() == FtpResult::CertificateChanged && login.isCompleted() &&
        AcceptChangedCertificate())
        login = LogIn();
    if (!login.isCompleted()) {
        // The log-in never ended: the cancellation's or the time-out's message stands, and the
        // log of the last connection that did succeed stays as it was.
        if (const StepOutcome interrupted = Outcome(); !interrupted)
            return interrupted;
        return RecordFailure(MessageId::ConnectionFailed, ftp().host());
    }
    const qint16 result = login.result();
    if (result == 0) {
        // A cancellation during the log-in stays recorded: the log is opened, the run still stops.
        // A preview leaves the log of the last real run as it is.
        if (!mSettings.mPreviewOnly)
            mDebugFile.open(DebugLog::defaultFolders());
        else
            NoteCertificateTrustedForNow();
        return Outcome();
    }
    if (FtpResult::replyCode(result) == 530)
        return RecordFailure(MessageId::LogonFailed);
    if (result == FtpResult::TlsFailure || result == FtpResult::CertificateChanged)
        return RecordTlsRefusal();
    return RecordFailure(MessageId::ConnectionFailed, ftp().host());
}

RequestOutcome classUpload::LogIn()
{
    mDebugFile.holdWhileClosed(); // the log-in's transcript, for a refusal over TLS (see below)
    RequestOutcome login = Perform([](FtpControl &ftp) { ftp.Connect(); });
    // A log-in that could not even be started never completes: the wait ends through the user's
    // cancellation or the watchdog, as for a log-in that hangs.
    if (login.ending() == RequestOutcome::Ending::NotStarted) {
        WaitForCompletion([] { return false; });
        login = RequestOutcome::interrupted();
    }
    // Refused over TLS: the message names only the host and the reason, so the log-in's
    // transcript and the component's explanation become the debug log. Any other failure leaves
    // an earlier log as it was.
    if (login.isCompleted() &&
        (login.result() == FtpResult::TlsFailure ||
         login.result() == FtpResult::CertificateChanged) &&
        !mSettings.mPreviewOnly)
        mDebugFile.writeHeld(DebugLog::defaultFolders());
    mDebugFile.close();
    return login;
}

void classUpload::FTPDisconnect()
{
    ftpHost().removeFurtherComponents();
    ftp().Disconnect();
    mDebugFile.close();
}

void classUpload::FTPDebug(const QString &Message)
{
    mDebugFile.write(Message);
}

void classUpload::DebugNote(const QString &text)
{
    FTPDebug(text + QStringLiteral("\r\n"));
}

void classUpload::FTPCancel()
{
    // The flags come first, so every wait and loop stops at its next test even if the rest fails.
    mFailure.mAborted = true;
    mFailure.mInterrupted = true;
    try {
        FtpComponentHost &host = ftpHost();
        for (int connection = 0; connection < host.connectionCount(); ++connection) {
            host.component(connection).Abort();
            // A step that pauses before it tries again stops pausing.
            host.wait(connection).wake();
        }
    } catch (...) {
    }
    try {
        std::ignore = RecordFailure(MessageId::CancelledByUser);
    } catch (...) {
    }
}

void classUpload::FTPDone(int connection)
{
    if (connection == 0)
        mWait.mDone = true;
}

bool classUpload::FTPAborted() const
{
    return mFailure.mAborted;
}

void classUpload::ResetWatchDog(int connection)
{
    if (connection == 0)
        mWait.mWatchDogTicks = 0;
    else if (connection - 1 < mWait.mFurtherTicks.size())
        mWait.mFurtherTicks[connection - 1] = 0;
}

void classUpload::TriggerWatchDog()
{
    // The first connection counts every tick, as it always has, except while the connections
    // share the files: then it may wait for the others like they wait for it. A further one counts
    // only while a request of it is under way, since it idles between files while the first works.
    FtpComponentHost &host = ftpHost();
    mWait.mWatchDogTicks =
        mLanes.running && !host.component(0).isBusy() ? 0 : mWait.mWatchDogTicks + 1;
    qint32 silentest = mWait.mWatchDogTicks;
    for (int connection = 1; connection < host.connectionCount(); ++connection) {
        if (connection - 1 >= mWait.mFurtherTicks.size())
            mWait.mFurtherTicks.resize(connection);
        qint32 &ticks = mWait.mFurtherTicks[connection - 1];
        ticks = host.component(connection).isBusy() ? ticks + 1 : 0;
        // A further log-in that hangs is the host's limit too, not the run's failure: it is given
        // up, and the run goes on with the connections it has.
        if (connection == mLanes.loggingIn) {
            if (ticks > mWait.mTimeout) {
                try {
                    host.component(connection).Abort();
                } catch (...) {
                }
            }
            continue;
        }
        silentest = std::max(silentest, ticks);
    }
    if (silentest <= mWait.mTimeout)
        return;
    RecordFailure(MessageId::TimedOut);
    mFailure.mPassing = true;
    mFailure.mInterrupted = true;
    // The requests that went silent are given up, as a cancellation gives them up: the run stops
    // here, and nothing may go on happening on the server behind its back.
    if (silentest == mWait.mTimeout + 1) {
        for (int connection = 0; connection < host.connectionCount(); ++connection) {
            try {
                if (host.component(connection).isBusy())
                    host.component(connection).Abort();
            } catch (...) {
            }
        }
    }
}

void classUpload::FTPTimeout(qint32 myTimeout)
{
    mWait.mTimeout = myTimeout;
}
