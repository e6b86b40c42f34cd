#include "scanjob.h"

#include <mutex>

namespace scan {

struct ScanJob::Shared {
    std::mutex mutex;
    std::function<void()> notify;
    bool notified = false;
    bool cancelled = false;
    ConnectScan *scan = nullptr; // while it runs
    Progress progress;

    // Called with the mutex held.
    void changed()
    {
        if (!notified && notify) {
            notified = true;
            notify();
        }
    }
};

ScanJob::ScanJob(Request request, std::function<void()> notify)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->notify = std::move(notify);
    // The thread holds the shared part itself, so it may outlive this object.
    m_thread = std::thread([shared = m_shared, request = std::move(request)] {
        Target target;
        std::string error;
        const bool resolved = resolveTarget(request.host, target, error);
        std::unique_lock lock(shared->mutex);
        if (shared->cancelled) {
            shared->progress.phase = Phase::Stopped;
            shared->changed();
            return;
        }
        if (!resolved) {
            shared->progress.phase = Phase::Failed;
            shared->progress.error = error;
            shared->changed();
            return;
        }
        ConnectScan scan(target, request.first, request.last, request.timeoutMs,
                         request.maxInFlight);
        shared->scan = &scan;
        shared->progress.phase = Phase::Scanning;
        shared->progress.address = target.text;
        shared->changed();
        lock.unlock();

        const auto outcome = scan.run([&shared](const PortResult &r) {
            std::lock_guard guard(shared->mutex);
            shared->progress.results.push_back(r);
            shared->changed();
        });

        lock.lock();
        shared->scan = nullptr;
        shared->progress.phase = outcome == ConnectScan::Outcome::Finished ? Phase::Finished
                                 : outcome == ConnectScan::Outcome::Failed ? Phase::Failed
                                                                           : Phase::Stopped;
        if (outcome == ConnectScan::Outcome::Failed)
            shared->progress.error = "The scan failed (" + scan.error() + ").";
        shared->changed();
    });
}

ScanJob::~ScanJob()
{
    bool resolving;
    {
        std::lock_guard guard(m_shared->mutex);
        m_shared->notify = nullptr;
        m_shared->cancelled = true;
        if (m_shared->scan)
            m_shared->scan->cancel();
        resolving = m_shared->progress.phase == Phase::Resolving;
    }
    if (resolving)
        m_thread.detach();
    else
        m_thread.join();
}

ScanJob::Progress ScanJob::take()
{
    std::lock_guard guard(m_shared->mutex);
    Progress p;
    p.phase = m_shared->progress.phase;
    p.address = m_shared->progress.address;
    p.error = m_shared->progress.error;
    p.results.swap(m_shared->progress.results);
    m_shared->notified = false;
    return p;
}

void ScanJob::stop()
{
    std::lock_guard guard(m_shared->mutex);
    m_shared->cancelled = true;
    if (m_shared->scan)
        m_shared->scan->cancel();
}

int ScanJob::inFlight() const
{
    std::lock_guard guard(m_shared->mutex);
    return m_shared->scan ? m_shared->scan->inFlight() : 0;
}

} // namespace scan
