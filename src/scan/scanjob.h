#pragma once
#include "connectscan.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace scan {

// A scan on a thread of its own, for a window that must stay responsive: the host is looked
// up and scanned there, and the results wait in a queue until the owner takes them.
class ScanJob {
public:
    struct Request {
        std::string host;
        uint16_t first = 1;
        uint16_t last = 1;
        int timeoutMs = 1000;
        int maxInFlight = DefaultInFlight;
    };
    enum class Phase { Resolving, Scanning, Finished, Stopped, Failed };
    struct Progress {
        Phase phase = Phase::Resolving;
        std::vector<PortResult> results; // since the last take()
        std::string address;             // once resolved
        std::string error;               // Failed: the message for the user
    };

    // notify runs on the job's thread whenever something new waits to be taken; it is not
    // called again until take() has run.
    ScanJob(Request request, std::function<void()> notify);
    // Cancels and stops notifying. Waits for the scan to end; a look-up cannot be
    // interrupted, so a thread still in one is left to end on its own.
    ~ScanJob();
    ScanJob(const ScanJob &) = delete;
    ScanJob &operator=(const ScanJob &) = delete;

    Progress take();
    void stop();
    // Connections in flight now (for observers).
    int inFlight() const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

} // namespace scan
