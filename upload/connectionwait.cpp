#include "connectionwait.h"

#include "ftpcontrol.h"
#include "ftperror.h"

void ConnectionWait::expect(quint64 requestNumber)
{
    mAwaited = requestNumber;
    mArrived.reset();
    // A wake meant for a pause that has ended since must not end the wait for this request.
    mWoken = false;
}

void ConnectionWait::completed(quint64 requestNumber, int result, const QString &replyText)
{
    if (requestNumber == 0 || requestNumber != mAwaited)
        return;
    mAwaited = 0;
    mArrived = RequestOutcome::completed(static_cast<qint16>(result), replyText);
}

std::optional<RequestOutcome> ConnectionWait::takeArrived()
{
    return std::exchange(mArrived, std::nullopt);
}

void ConnectionWait::forget()
{
    mAwaited = 0;
    mArrived.reset();
    mWaiter = {};
    mWoken = false;
}

bool ConnectionWait::resumeIfReady()
{
    if (!mWaiter || (!mArrived && !mWoken))
        return false;
    mWoken = false;
    std::exchange(mWaiter, {}).resume();
    return true;
}

ConnectionWait::Request::Request(ConnectionWait &wait, FtpControl &component,
                                 std::function<void(FtpControl &)> &start)
    : mWait(wait), mComponent(component), mStart(start)
{}

ConnectionWait::Request::~Request()
{
    // The step was ended while it waited (the run was cancelled): the completion still to come
    // finds nobody.
    if (mSuspended && mWait.mWaiter == mSuspended)
        mWait.forget();
}

bool ConnectionWait::Request::await_suspend(std::coroutine_handle<> waiting)
{
    try {
        mStart(mComponent);
    } catch (const FtpError &) {
        return false;
    }
    mStarted = true;
    mWait.expect(mComponent.requestNumber());
    mWait.mWaiter = waiting;
    mSuspended = waiting;
    return true;
}

RequestOutcome ConnectionWait::Request::await_resume()
{
    mSuspended = {};
    if (!mStarted)
        return RequestOutcome::notStarted();
    std::optional<RequestOutcome> arrived = mWait.takeArrived();
    mWait.forget();
    return arrived ? *arrived : RequestOutcome::interrupted();
}

ConnectionWait::Pause::~Pause()
{
    if (mSuspended && mWait.mWaiter == mSuspended)
        mWait.forget();
}

void ConnectionWait::Pause::await_suspend(std::coroutine_handle<> waiting)
{
    mWait.mWoken = false;
    mWait.mWaiter = waiting;
    mSuspended = waiting;
}
