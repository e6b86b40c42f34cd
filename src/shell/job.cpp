#include "job.h"

#include <QCoreApplication>

#include <condition_variable>
#include <map>
#include <mutex>
#include <system_error>
#include <utility>

struct Job::State {
    std::mutex mutex;
    std::condition_variable wake;
    Job *job = nullptr; // null once the Job is gone: nothing more is delivered
    bool cancelled = false;
    bool blocking = false;
    int nextHook = 0;
    std::map<int, std::function<void()>> hooks;
    std::function<void()> latest; // postLatest's call, until it runs
    bool latestQueued = false;

    // With the mutex held.
    void cancelLocked()
    {
        if (cancelled)
            return;
        cancelled = true;
        for (auto &[id, hook] : hooks)
            hook();
    }
    // With the mutex held: queues call for the job's thread while the job lives.
    void deliverLocked(std::function<void()> call)
    {
        if (job)
            QMetaObject::invokeMethod(job, std::move(call), Qt::QueuedConnection);
    }
};

Job::Job(QObject *parent) : QObject(parent), m_state(std::make_shared<State>())
{
    m_state->job = this;
    if (auto *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &Job::cancel);
}

Job::~Job()
{
    bool blocking;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->job = nullptr;
        m_state->cancelLocked();
        blocking = m_state->blocking;
    }
    m_state->wake.notify_all();
    if (!m_thread.joinable())
        return;
    if (blocking)
        m_thread.detach();
    else
        m_thread.join();
}

void Job::start(Work work)
{
    Q_ASSERT(!m_running && !m_thread.joinable());
    m_running = true;
    auto run = [state = m_state, work = std::move(work)]() mutable {
        JobContext context(state);
        try {
            work(context);
        } catch (...) {
            // An exception ends the work as a return would; the window still hears of the end.
        }
        work = nullptr; // what the work holds goes before the window hears of the end
        std::lock_guard lock(state->mutex);
        state->deliverLocked([job = state->job] {
            job->m_running = false;
            Q_EMIT job->finished();
        });
    };
    try {
        m_thread = std::thread(run); // a copy: run stays whole for the fallback below
    } catch (const std::system_error &) {
        run();
    }
}

void Job::cancel()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->cancelLocked();
    }
    m_state->wake.notify_all();
}

bool Job::isCancelled() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

bool JobContext::cancelled() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->cancelled;
}

void JobContext::post(std::function<void()> call)
{
    std::lock_guard lock(m_state->mutex);
    m_state->deliverLocked(std::move(call));
}

void JobContext::postLatest(std::function<void()> call)
{
    std::lock_guard lock(m_state->mutex);
    m_state->latest = std::move(call);
    if (std::exchange(m_state->latestQueued, true))
        return;
    m_state->deliverLocked([state = m_state] {
        std::function<void()> latest;
        {
            std::lock_guard lock(state->mutex);
            latest = std::move(state->latest);
            state->latestQueued = false;
        }
        latest();
    });
}

bool JobContext::sleepFor(int ms)
{
    std::unique_lock lock(m_state->mutex);
    return m_state->wake.wait_for(lock, std::chrono::milliseconds(ms),
                                  [this] { return m_state->cancelled; });
}

JobContext::CancelHook JobContext::onCancel(std::function<void()> call)
{
    std::lock_guard lock(m_state->mutex);
    const int id = m_state->nextHook++;
    if (m_state->cancelled)
        call();
    else
        m_state->hooks.emplace(id, std::move(call));
    return CancelHook(m_state, id);
}

JobContext::CancelHook::CancelHook(CancelHook &&other) noexcept
    : m_state(std::move(other.m_state)), m_id(other.m_id)
{}

JobContext::CancelHook::~CancelHook()
{
    if (!m_state)
        return;
    std::lock_guard lock(m_state->mutex);
    m_state->hooks.erase(m_id);
}

bool JobContext::enterBlocking()
{
    std::lock_guard lock(m_state->mutex);
    if (m_state->cancelled)
        return false;
    m_state->blocking = true;
    return true;
}

void JobContext::leaveBlocking()
{
    std::lock_guard lock(m_state->mutex);
    m_state->blocking = false;
}
