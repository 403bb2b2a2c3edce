#include "ftpcommandoperation.h"

#include "ftpcontrolconnection.h"
#include "ftpreplyfields.h"
#include "ftpresult.h"

FtpCommandOperation::FtpCommandOperation(FtpControlConnection &connection,
                                         const FtpTimeouts &timeouts, QStringList commands,
                                         Expect expect)
    : FtpOperation(connection, timeouts), mCommands(std::move(commands)), mExpect(expect)
{}

void FtpCommandOperation::begin()
{
    connection().send(mCommands.at(mSent++));
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
    if (mSent == mCommands.size()) {
        handleFinalReply(reply);
        return;
    }
    if (reply.isNegative()) {
        finishWithReply(reply);
        return;
    }
    // Only 350 lets the sequence go on: a server that says anything else has not understood it
    // the way RFC 959 does, and the next command would land on an unknown state.
    if (reply.code != 350) {
        finish(FtpResult::ProtocolViolation, tr("The server answered %1 with %2 instead of 350.")
                                                 .arg(connection().lastVerb(), reply.text()));
        return;
    }
    connection().send(mCommands.at(mSent++));
}

void FtpCommandOperation::handleFinalReply(const FtpReply &reply)
{
    if (mExpect == Expect::Features)
        connection().rememberFeatures(reply);
    if (!reply.isPositive()) {
        finishWithReply(reply);
        return;
    }
    if (mExpect == Expect::Directory) {
        const auto directory = ParseDirectoryReply(reply.firstLineText());
        if (!directory) {
            finish(FtpResult::ProtocolViolation,
                   tr("The server named no folder: %1").arg(reply.text()));
            return;
        }
        setCurrentDirectory(*directory);
        connection().rememberDirectory(*directory, reply.text());
    }
    if (mExpect == Expect::Size) {
        const auto size = ParseSizeReply(reply.firstLineText());
        if (!size) {
            finish(FtpResult::ProtocolViolation,
                   tr("The server named no size: %1").arg(reply.text()));
            return;
        }
        setFileSize(*size);
    }
    finishWithReply(reply);
}
