#pragma once
#include "connectscan.h"
#include "job.h"

#include <memory>
#include <string>
#include <vector>

namespace scan {

// A scan as a job of its own (see job.h): the host is looked up and scanned on the job's
// thread, and the results wait until the window takes them, so a fast scan updates the
// window a few times a second, not once per port.
class ScanJob : public QObject {
    Q_OBJECT
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

    // Starts at once. Destroying the job cancels the scan and closes its sockets; a look-up
    // still under way is left to end on its own.
    explicit ScanJob(Request request, QObject *parent = nullptr);
    ~ScanJob() override;

    Progress take();
    void stop();
    // Connections in flight now (for observers).
    int inFlight() const;

Q_SIGNALS:
    // Something new waits to be taken; not emitted again until take() has run.
    void changed();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    Job m_job;
};

} // namespace scan
