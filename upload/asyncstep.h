#pragma once

// moc reads every header a Q_OBJECT file includes but parses no C++20 library headers; it needs
// none of this, only the name.
#ifdef Q_MOC_RUN
template <typename T = void> class AsyncStep;
#else

#include <coroutine>
#include <exception>
#include <optional>
#include <utility>

// A step of the run that waits for the FTP component without blocking the thread: a coroutine
// that suspends at every request (see ConnectionWait::Request) and is resumed once the request's
// completion has arrived. Several such steps, one per connection, can be under way at once on the
// one thread, which the nested waits of a synchronous step cannot: a wait inside a wait only ends
// after the inner one.
//
// A step starts when it is awaited by another step (co_await), or when start() is called for the
// outermost one, and runs until its first suspension before that call returns. The awaiting step
// resumes, with the step's value, as soon as the step has returned. An exception leaves the step
// and is raised again where it is awaited, or by result(). Destroying a suspended step ends it
// there: every object of the step, a request it waits for included, is destroyed.
template <typename T> class AsyncStep;

namespace asyncstep_detail {

struct PromiseBase
{
    std::coroutine_handle<> continuation;
    std::exception_ptr error;

    std::suspend_always initial_suspend() noexcept { return {}; }

    struct FinalAwaiter
    {
        bool await_ready() noexcept { return false; }
        template <typename Promise>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<Promise> done) noexcept
        {
            const std::coroutine_handle<> next = done.promise().continuation;
            return next ? next : std::noop_coroutine();
        }
        void await_resume() noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return {}; }
    void unhandled_exception() noexcept { error = std::current_exception(); }
};

template <typename T> struct Promise : PromiseBase
{
    std::optional<T> value;
    AsyncStep<T> get_return_object();
    template <typename V> void return_value(V &&returned)
    {
        value.emplace(std::forward<V>(returned));
    }
    T take()
    {
        if (error)
            std::rethrow_exception(error);
        return std::move(*value);
    }
};

template <> struct Promise<void> : PromiseBase
{
    AsyncStep<void> get_return_object();
    void return_void() noexcept {}
    void take()
    {
        if (error)
            std::rethrow_exception(error);
    }
};

} // namespace asyncstep_detail

template <typename T = void> class [[nodiscard]] AsyncStep
{
public:
    using promise_type = asyncstep_detail::Promise<T>;
    using Handle = std::coroutine_handle<promise_type>;

    explicit AsyncStep(Handle handle) : mHandle(handle) {}
    AsyncStep(AsyncStep &&other) noexcept : mHandle(std::exchange(other.mHandle, {})) {}
    AsyncStep &operator=(AsyncStep &&other) noexcept
    {
        if (this != &other) {
            if (mHandle)
                mHandle.destroy();
            mHandle = std::exchange(other.mHandle, {});
        }
        return *this;
    }
    AsyncStep(const AsyncStep &) = delete;
    AsyncStep &operator=(const AsyncStep &) = delete;
    ~AsyncStep()
    {
        if (mHandle)
            mHandle.destroy();
    }

    // Awaited by another step: that step goes on once this one has returned.
    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiting) noexcept
    {
        mHandle.promise().continuation = awaiting;
        return mHandle;
    }
    T await_resume() { return mHandle.promise().take(); }

    // The outermost step: started by its owner, who waits until it is done.
    void start() { mHandle.resume(); }
    [[nodiscard]] bool done() const { return mHandle.done(); }
    T result() { return mHandle.promise().take(); }

private:
    Handle mHandle;
};

template <typename T> AsyncStep<T> asyncstep_detail::Promise<T>::get_return_object()
{
    return AsyncStep<T>(std::coroutine_handle<Promise<T>>::from_promise(*this));
}

inline AsyncStep<void> asyncstep_detail::Promise<void>::get_return_object()
{
    return AsyncStep<void>(std::coroutine_handle<Promise<void>>::from_promise(*this));
}

#endif // Q_MOC_RUN
