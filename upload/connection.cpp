#include "classupload.h"
#include "ftpcontrol.h"
#include "ftperror.h"
#include "ftpresult.h"
#include "stringtable.h"

#include <QCoreApplication>

// Waiting for the FTP component. The run is written as a sequence of steps; each request is started
// and then waited for here while the thread keeps handling events, so the window repaints, the
// component's signals arrive and the cancel button and the watchdog act. The wait blocks in the
// event dispatcher (WaitForMoreEvents) instead of polling, so a slow transfer costs no processor
// time.
void classUpload::WaitForCompletion()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    while (!mWait.mDone && !mFailure.mAborted) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    mWait.mDone = false;
}

std::optional<qint16> classUpload::CompletedResult(bool started)
{
    if (!started)
        return std::nullopt;
    FtpControl &component = ftp();
    // A completion left over from an earlier request can end a wait early; the request's own
    // completion is still to come then.
    while (component.isBusy() && !mFailure.mAborted)
        WaitForCompletion();
    if (component.isBusy())
        return std::nullopt; // FTPCancel or the watchdog has asked the component to give it up

    const qint16 result = component.result();
    // The component's answer to our own Abort is the cancellation or the time-out, not a refusal
    // by the server; their message stands.
    if (mFailure.mAborted && result == FtpResult::Aborted)
        return std::nullopt;
    return result;
}

bool classUpload::RecordIfConnectionLost()
{
    // A cancellation or the watchdog may have ended the connection themselves; their message
    // stands.
    if (mFailure.mAborted || ftp().isConnected())
        return false;
    RecordFailure(MessageId::ConnectionLost, ftp().host());
    return true;
}

void classUpload::FTPConnect()
{
    mDebugFile.close();
    mWait.mDone = false;
    mFailure.mAborted = false;
    // A preview changes nothing, a trust decision included: what it trusts anew, it trusts for
    // this run only.
    ftp().setTrustRemembered(!mSettings.mPreviewOnly);
    ftp().setAcceptedCertificate(mSettings.mAcceptedCertificate);

    std::optional<qint16> result = LogIn();
    // The handshake that found the changed certificate has ended by now; the user may take a
    // while to decide, longer than a server waits in the middle of a handshake. So the yes is
    // answered with a new log-in that takes exactly the certificate shown, and only it.
    if (result && *result == FtpResult::CertificateChanged && AcceptChangedCertificate())
        result = LogIn();
    if (!result) {
        // The log-in never ended: the cancellation's or the time-out's message stands, and the
        // log of the last connection that did succeed stays as it was.
        if (!mFailure.mAborted)
            RecordFailure(MessageId::ConnectionFailed, ftp().host());
    } else if (*result == 0) {
        // A cancellation during the log-in stays recorded: the log is opened, the run still stops.
        // A preview leaves the log of the last real run as it is.
        if (!mSettings.mPreviewOnly)
            mDebugFile.open(DebugLog::defaultFolders());
        else
            NoteCertificateTrustedForNow();
    } else if (*result == 20530) {
        RecordFailure(MessageId::LogonFailed);
    } else if (*result == FtpResult::TlsFailure || *result == FtpResult::CertificateChanged) {
        RecordTlsRefusal();
    } else {
        RecordFailure(MessageId::ConnectionFailed, ftp().host());
    }
}

std::optional<qint16> classUpload::LogIn()
{
    mDebugFile.holdWhileClosed(); // the log-in's transcript, for a refusal over TLS (see below)
    bool started = true;
    try {
        ftp().Connect();
    } catch (const FtpError &) {
        // Not reported here: the wait ends through the user's cancellation or the watchdog.
        started = false;
    }
    WaitForCompletion();

    const std::optional<qint16> result = CompletedResult(started);
    // Refused over TLS: the message names only the host and the reason, so the log-in's
    // transcript and the component's explanation become the debug log. Any other failure leaves
    // an earlier log as it was.
    if (result && (*result == FtpResult::TlsFailure || *result == FtpResult::CertificateChanged) &&
        !mSettings.mPreviewOnly)
        mDebugFile.writeHeld(DebugLog::defaultFolders());
    mDebugFile.close();
    return result;
}

void classUpload::FTPDisconnect()
{
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
    // The flag comes first, so every wait and loop stops at its next test even if the rest fails.
    mFailure.mAborted = true;
    try {
        ftp().Abort();
    } catch (...) {
    }
    try {
        mFailure.mErrorId = MessageId::CancelledByUser;
        mFailure.mErrorArguments.clear();
        mFailure.mErrorDetailId = MessageId::None;
        mFailure.mErrorDetailArguments.clear();
    } catch (...) {
    }
}

void classUpload::FTPDone()
{
    mWait.mDone = true;
}

bool classUpload::FTPAborted() const
{
    return mFailure.mAborted;
}

void classUpload::ResetWatchDog()
{
    mWait.mWatchDogTicks = 0;
}

void classUpload::TriggerWatchDog()
{
    ++mWait.mWatchDogTicks;
    if (mWait.mWatchDogTicks <= mWait.mTimeout)
        return;
    RecordFailure(MessageId::TimedOut);
    // The request that went silent is given up, as a cancellation gives it up: the run stops here,
    // and nothing may go on happening on the server behind its back.
    if (mWait.mWatchDogTicks == mWait.mTimeout + 1) {
        try {
            if (ftp().isBusy())
                ftp().Abort();
        } catch (...) {
        }
    }
}

void classUpload::FTPTimeout(qint32 myTimeout)
{
    mWait.mTimeout = myTimeout;
}
