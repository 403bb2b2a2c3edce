#pragma once

// moc reads every header a Q_OBJECT file includes but parses no C++20 library headers; it needs
// none of this, only the name.
#ifdef Q_MOC_RUN
class ConnectionWait;
#else

#include "requestoutcome.h"

#include <QtGlobal>
#include <coroutine>
#include <functional>
#include <optional>

class FtpControl;

// What the session waits for on one connection: the request it started there last, known by the
// number the component gave it, and, when a step of the run (an AsyncStep) waits for it, that
// step. A completion that carries another number belongs to a request nobody waits for any more
// (one given up by a cancellation, say) and is let go; so a completion left over from an earlier
// request can never end the wait for the next one.
//
// The wait does not resume a step from inside the component's signal: it notes the outcome, and
// the session's event loop resumes the step (resumeIfReady), where no signal of the component is
// half way through.
class ConnectionWait
{
public:
    ConnectionWait() = default;
    ConnectionWait(const ConnectionWait &) = delete;
    ConnectionWait &operator=(const ConnectionWait &) = delete;

    // From now on the completion numbered requestNumber is the one waited for.
    void expect(quint64 requestNumber);
    // The component's OperationComplete.
    void completed(quint64 requestNumber, int result, const QString &replyText);
    [[nodiscard]] bool hasArrived() const { return mArrived.has_value(); }
    // The outcome that arrived, once; nothing while it is still to come.
    [[nodiscard]] std::optional<RequestOutcome> takeArrived();
    // Nobody waits any more; a completion still to come is let go.
    void forget();
    // Whether a request is awaited whose completion has not arrived yet.
    [[nodiscard]] bool isAwaiting() const { return mAwaited != 0 && !mArrived; }

    // Resumes the step that waits here, when what it waits for has come. True if it did.
    bool resumeIfReady();
    // Ends a pause (see Pause) before its time: the paused step goes on at the next resumption.
    // A step waiting for a request here waits on: only the request's completion ends that wait
    // (a cancellation aborts the request, which completes it).
    void wake()
    {
        if (mAwaited == 0)
            mWoken = true;
    }

    // Awaited by a step (co_await): starts a request on the component and suspends the step until
    // the request's completion has arrived. A request the component refuses to start gives
    // RequestOutcome::notStarted() at once, without suspending.
    class Request
    {
    public:
        // start is a named variable of the step, never a temporary: g++ 12 destroys a
        // temporary made in the operand of co_await twice, so a lambda's captures (a shared
        // digest, a string) were released twice. The non-const reference makes a temporary
        // a compile error.
        Request(ConnectionWait &wait, FtpControl &component,
                std::function<void(FtpControl &)> &start);
        ~Request();
        Request(const Request &) = delete;
        Request &operator=(const Request &) = delete;

        bool await_ready() const noexcept { return false; }
        bool await_suspend(std::coroutine_handle<> waiting);
        RequestOutcome await_resume();

    private:
        ConnectionWait &mWait;
        FtpControl &mComponent;
        std::function<void(FtpControl &)> &mStart;
        std::coroutine_handle<> mSuspended;
        bool mStarted = false;
    };

    // Awaited by a step: suspends it until wake() is called (a timer that the session starts for
    // the pause, or the user's cancellation).
    class Pause
    {
    public:
        explicit Pause(ConnectionWait &wait) : mWait(wait) {}
        ~Pause();
        Pause(const Pause &) = delete;
        Pause &operator=(const Pause &) = delete;

        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiting);
        void await_resume() noexcept { mSuspended = {}; }

    private:
        ConnectionWait &mWait;
        std::coroutine_handle<> mSuspended;
    };

private:
    quint64 mAwaited = 0;
    std::optional<RequestOutcome> mArrived;
    std::coroutine_handle<> mWaiter;
    bool mWoken = false;
};

#endif // Q_MOC_RUN
