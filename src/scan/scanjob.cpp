#include "scanjob.h"

#include <mutex>
#include <utility>

namespace scan {

struct ScanJob::Shared {
    std::mutex mutex;
    bool notified = false;
    ConnectScan *scan = nullptr; // while it runs
    Progress progress;
};

ScanJob::ScanJob(Request request, QObject *parent)
    : QObject(parent), m_shared(std::make_shared<Shared>())
{
    // Tells the window once per take() that something waits; with the mutex held.
    auto changed = [this](JobContext &job, Shared &shared) {
        if (!std::exchange(shared.notified, true))
            job.post([this] { Q_EMIT this->changed(); });
    };
    m_job.start([shared = m_shared, request = std::move(request), changed](JobContext &job) {
        Target target;
        std::string error;
        const auto resolved = job.blocking(
            [&] { return resolveTarget(request.host, target, error); });
        std::unique_lock lock(shared->mutex);
        if (!resolved || job.cancelled()) {
            shared->progress.phase = Phase::Stopped;
            changed(job, *shared);
            return;
        }
        if (!*resolved) {
            shared->progress.phase = Phase::Failed;
            shared->progress.error = error;
            changed(job, *shared);
            return;
        }
        ConnectScan scan(target, request.first, request.last, request.timeoutMs,
                         request.maxInFlight);
        shared->scan = &scan;
        shared->progress.phase = Phase::Scanning;
        shared->progress.address = target.text;
        changed(job, *shared);
        lock.unlock();

        ConnectScan::Outcome outcome;
        {
            const auto hook = job.onCancel([&scan] { scan.cancel(); });
            outcome = scan.run([&](const PortResult &r) {
                std::lock_guard guard(shared->mutex);
                shared->progress.results.push_back(r);
                changed(job, *shared);
            });
        }

        lock.lock();
        shared->scan = nullptr;
        shared->progress.phase = outcome == ConnectScan::Outcome::Finished ? Phase::Finished
                                 : outcome == ConnectScan::Outcome::Failed ? Phase::Failed
                                                                           : Phase::Stopped;
        if (outcome == ConnectScan::Outcome::Failed)
            shared->progress.error = "The scan failed (" + scan.error() + ").";
        changed(job, *shared);
    });
}

ScanJob::~ScanJob() = default;

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

void ScanJob::stop() { m_job.cancel(); }

int ScanJob::inFlight() const
{
    std::lock_guard guard(m_shared->mutex);
    return m_shared->scan ? m_shared->scan->inFlight() : 0;
}

} // namespace scan
