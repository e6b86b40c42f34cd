#pragma once
// A handler of the FTP window written as the sequence of steps it is: a coroutine that
// co_awaits each long call (FtpProgress::call) and each procedure that may make one, and goes
// on with its next step when that has ended. Nothing runs a nested event loop meanwhile.
//
// FtpSteps starts only when awaited or handed to an FtpStepsRunner. Destroying it destroys the
// suspended steps with everything they hold, the running call's job included (cancelled and
// joined), and nothing after the step that was waiting runs.
//
// Steps that are awaited at once may take arguments by reference: the caller's arguments live
// until the awaited steps end. Steps handed to a runner take none. GCC 12 destroys a class
// temporary made by a conditional operator in a statement that awaits twice: name it first.

#include <QObject>

#include <coroutine>
#include <exception>
#include <utility>

class FtpStepsRunner;

class FtpSteps {
public:
    struct promise_type {
        std::coroutine_handle<> continuation;
        FtpStepsRunner *runner = nullptr; // resumes the steps after each call

        FtpSteps get_return_object()
        {
            return FtpSteps(std::coroutine_handle<promise_type>::from_promise(*this));
        }
        std::suspend_always initial_suspend() noexcept { return {}; }
        auto final_suspend() noexcept
        {
            struct Resume {
                bool await_ready() noexcept { return false; }
                std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> h) noexcept
                {
                    const auto next = h.promise().continuation;
                    return next ? next : std::noop_coroutine();
                }
                void await_resume() noexcept {}
            };
            return Resume{};
        }
        void return_void() {}
        // A step that throws ends its sequence as a return would; the window stays usable.
        void unhandled_exception() {}
    };

    FtpSteps() = default;
    FtpSteps(FtpSteps &&other) noexcept : m_handle(std::exchange(other.m_handle, {})) {}
    FtpSteps &operator=(FtpSteps &&other) noexcept
    {
        if (this != &other) {
            destroy();
            m_handle = std::exchange(other.m_handle, {});
        }
        return *this;
    }
    FtpSteps(const FtpSteps &) = delete;
    FtpSteps &operator=(const FtpSteps &) = delete;
    ~FtpSteps() { destroy(); }

    explicit operator bool() const { return bool(m_handle); }
    bool done() const { return !m_handle || m_handle.done(); }

    // Awaited by other steps: they go on when these have ended.
    bool await_ready() const noexcept { return done(); }
    template<class Promise>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<Promise> caller) noexcept
    {
        m_handle.promise().continuation = caller;
        m_handle.promise().runner = caller.promise().runner;
        return m_handle;
    }
    void await_resume() const noexcept {}

private:
    friend class FtpStepsRunner;
    explicit FtpSteps(std::coroutine_handle<promise_type> handle) : m_handle(handle) {}
    void destroy()
    {
        if (m_handle)
            std::exchange(m_handle, {}).destroy();
    }
    std::coroutine_handle<promise_type> m_handle;
};

// Runs one handler's steps at a time, as the window's thread once ran one handler at a time:
// a handler started while another's steps still wait is ignored. finished() follows the end of
// each sequence that was not stopped.
class FtpStepsRunner : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    bool isRunning() const { return bool(m_steps); }
    // Runs steps up to their first wait; false, and steps dropped unstarted, while others run.
    bool run(FtpSteps steps);
    // Drops the running steps with their call (cancelled and joined). Steps that are running
    // right now (a message box of theirs is open) go as soon as they wait, before their call
    // starts.
    void stop();
    bool isStopping() const { return m_stopping; }
    // Goes on with steps that waited for a call; the call's end calls it.
    void resume(std::coroutine_handle<> waiting);

Q_SIGNALS:
    void finished();

private:
    FtpSteps m_steps;
    bool m_executing = false;
    bool m_stopping = false;
};
