#include "ftpoperation.h"

#include "ftpcontrolconnection.h"
#include "ftpresult.h"

#include <algorithm>

FtpOperation::FtpOperation(FtpControlConnection &connection, const FtpTimeouts &timeouts)
    : mConnection(connection), mTimeouts(timeouts)
{
    mIdle.setSingleShot(true);
    mIdle.setInterval(mTimeouts.idle);
    connect(&mIdle, &QTimer::timeout, this, [this] {
        if (!mFinished)
            handleIdleTimeout();
    });
}

FtpOperation::~FtpOperation() = default;

void FtpOperation::start()
{
    if (mStarted)
        return;
    mStarted = true;
    connect(&mConnection, &FtpControlConnection::replyReceived, this,
            [this](const FtpReply &reply) {
                if (mFinished)
                    return;
                stillAlive();
                handleReply(reply);
            });
    connect(&mConnection, &FtpControlConnection::synchronised, this, [this] {
        if (mFinished)
            return;
        stillAlive();
        handleSynchronised();
    });
    connect(&mConnection, &FtpControlConnection::failed, this,
            [this](int result, const QString &description) {
                if (!mFinished)
                    handleConnectionFailure(result, description);
            });
    stillAlive();
    begin();
}

void FtpOperation::cancel(const QString &why)
{
    finish(FtpResult::Aborted, why);
}

void FtpOperation::handleConnectionFailure(int result, const QString &description)
{
    finish(static_cast<qint16>(result), description);
}

void FtpOperation::handleIdleTimeout()
{
    mConnection.close();
    finish(FtpResult::Timeout, tr("The server did not answer in time."));
}

void FtpOperation::finish(qint16 result, const QString &text)
{
    if (mFinished)
        return;
    mFinished = true;
    mIdle.stop();
    mConnection.disconnect(this);
    cleanUp();
    mOutcome.result = result;
    mOutcome.text = text;
    if (result >= FtpResult::ReplyBase)
        mOutcome.refusedCommand = mConnection.lastVerb();
    if (result != FtpResult::Success && result < FtpResult::ReplyBase)
        emit note(text);
    emit finished();
}

void FtpOperation::finishWithReply(const FtpReply &reply)
{
    const qint16 result = reply.isPositive()
                              ? qint16{FtpResult::Success}
                              : static_cast<qint16>(FtpResult::ReplyBase + reply.code);
    finish(result, reply.text());
}

void FtpOperation::hurry()
{
    mIdle.setInterval(std::min(mTimeouts.idle, mTimeouts.afterAbort));
    stillAlive();
}

void FtpOperation::stillAlive()
{
    if (!mFinished)
        mIdle.start();
}
