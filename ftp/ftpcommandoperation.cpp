#include "ftpcommandoperation.h"

#include "ftpcontrolconnection.h"
#include "ftpreplyfields.h"
#include "ftpresult.h"

FtpCommandOperation::FtpCommandOperation(FtpControlConnection &connection,
                                         const FtpTimeouts &timeouts, QString command,
                                         Expect expect)
    : FtpOperation(connection, timeouts), mCommand(std::move(command)), mExpect(expect)
{}

void FtpCommandOperation::begin()
{
    connection().send(mCommand);
}

void FtpCommandOperation::abort()
{
    // The command's one reply is on its way; taking it keeps the dialogue in step for the next
    // request, and it comes within a round trip. ABOR would add replies of its own here.
    mAbortRequested = true;
    hurry();
}

void FtpCommandOperation::handleIdleTimeout()
{
    if (!mAbortRequested) {
        FtpOperation::handleIdleTimeout();
        return;
    }
    // Without the reply the dialogue cannot be kept in step; the connection goes.
    connection().close();
    finish(FtpResult::Aborted, tr("The request was aborted."));
}

void FtpCommandOperation::handleReply(const FtpReply &reply)
{
    if (reply.isPreliminary())
        return;
    if (mAbortRequested) {
        finish(FtpResult::Aborted, tr("The request was aborted."));
        return;
    }
    if (reply.isPositive() && mExpect == Expect::Directory) {
        const auto directory = ParseDirectoryReply(reply.firstLineText());
        if (!directory) {
            finish(FtpResult::ProtocolViolation,
                   tr("The server named no folder: %1").arg(reply.text()));
            return;
        }
        setCurrentDirectory(*directory);
        connection().rememberDirectory(*directory, reply.text());
    }
    finishWithReply(reply);
}
