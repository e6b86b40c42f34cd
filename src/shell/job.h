#pragma once
#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>

// Long work off the window's thread: the one way the windows do it.
//
// A Job runs one function on a worker thread of its own. The work reports to the thread that
// made the job (the window's) only through JobContext::post: each posted call runs there, in
// order, as a queued call, and only while the Job object still lives. finished() follows the
// last of them.
//
// cancel() asks the work to end early: JobContext::cancelled() turns true, sleeps wake, and the
// calls registered with onCancel (a socket's own cancel, say) run at once. A cancelled job
// still delivers what it posts and its finished(), so a window can show "Stopped after ...".
//
// Destroying the Job (the window closes: do it in Form_Unload; the suite quits: a window's
// members go with it) cancels the work, drops whatever it would still report, and joins the
// worker. Only while the work sits in JobContext::blocking (a name look-up, which nothing can
// interrupt) is the worker left to end on its own instead: it keeps the job's shared state
// alive, so the work must own everything it touches (capture by value, no pointers into the
// window). QCoreApplication::aboutToQuit cancels every job, so all of them wind down at once.
//
// A modal progress box needs no nested event loop: open() a window-modal QProgressDialog,
// connect its canceled() to cancel() and close it from finished(). Work that checks
// cancelled() or sleeps through sleepFor() at least every 50 ms stops within that time.
class JobContext;

class Job : public QObject {
    Q_OBJECT
public:
    using Work = std::function<void(JobContext &)>;

    explicit Job(QObject *parent = nullptr);
    ~Job() override;
    Job(const Job &) = delete;
    Job &operator=(const Job &) = delete;

    // Runs work on a new thread; once per job. Where no thread can be had the work runs here
    // and now, its posted calls still queued.
    void start(Work work);
    void cancel();
    bool isCancelled() const;
    // Started and finished() not yet delivered.
    bool isRunning() const { return m_running; }

Q_SIGNALS:
    void finished();

private:
    friend class JobContext;
    struct State;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
    bool m_running = false;
};

// What the work sees of its job, on the worker thread.
class JobContext {
public:
    bool cancelled() const;
    // Runs call on the job's thread after the calls posted before it, unless the job is gone.
    void post(std::function<void()> call);
    // For progress that only needs its latest value shown: like post, but a call of an earlier
    // postLatest that has not run yet gives way to this one, which runs where that one was
    // queued. A fast stream of progress then never floods the window's event queue.
    void postLatest(std::function<void()> call);
    // Waits until the time has passed or the job is cancelled; true when cancelled.
    bool sleepFor(int ms);

    // Runs call from cancel() while the hook lives; at once when the job is cancelled already.
    // call runs on the cancelling thread and must be quick and thread-safe.
    class CancelHook {
    public:
        CancelHook(CancelHook &&other) noexcept;
        ~CancelHook();
        CancelHook(const CancelHook &) = delete;
        CancelHook &operator=(const CancelHook &) = delete;
        CancelHook &operator=(CancelHook &&) = delete;

    private:
        friend class JobContext;
        CancelHook(std::shared_ptr<Job::State> state, int id) : m_state(std::move(state)), m_id(id)
        {}
        std::shared_ptr<Job::State> m_state;
        int m_id;
    };
    [[nodiscard]] CancelHook onCancel(std::function<void()> call);

    // Runs a call that cannot be interrupted; a job destroyed meanwhile leaves the worker to
    // finish it (see above). Nothing runs, and the result is empty, once the job is cancelled.
    template<class F>
    auto blocking(F call) -> std::optional<std::invoke_result_t<F>>
    {
        if (!enterBlocking())
            return std::nullopt;
        struct Leave {
            JobContext *context;
            ~Leave() { context->leaveBlocking(); }
        } leave{this};
        return call();
    }

private:
    friend class Job;
    explicit JobContext(std::shared_ptr<Job::State> state) : m_state(std::move(state)) {}
    bool enterBlocking();
    void leaveBlocking();
    std::shared_ptr<Job::State> m_state;
};
