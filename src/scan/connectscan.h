#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include <sys/socket.h>

// A TCP connect scan: many non-blocking connects in flight over one epoll set, each given a
// fixed time to complete. No Qt, so the command-line tool and the window share it.
namespace scan {

enum class PortState : uint8_t { Open, Closed, Filtered };
// "open", "closed", "filtered"
const char *stateText(PortState state);

struct PortResult {
    uint16_t port;
    PortState state;
};

// One address of the host to scan.
struct Target {
    sockaddr_storage address{};
    socklen_t length = 0;
    std::string text; // numeric form
};

// Host name or numeric address to a target, IPv4 first where the host has both. On failure
// returns false and a message for the user.
bool resolveTarget(const std::string &host, Target &target, std::string &error);

// The TCP service the system's services database names for a port, or empty.
std::string serviceName(uint16_t port);

constexpr int DefaultInFlight = 4096;
// Connections this process may keep in flight: at most `wanted`, and always leaving room
// under the descriptor limit for the descriptors already open and a few more.
int inFlightBudget(int wanted);

class ConnectScan {
public:
    enum class Outcome { Finished, Cancelled, Failed };
    using ResultSink = std::function<void(const PortResult &)>;

    ConnectScan(const Target &target, uint16_t first, uint16_t last, int timeoutMs,
                int maxInFlight = DefaultInFlight);
    ~ConnectScan();
    ConnectScan(const ConnectScan &) = delete;
    ConnectScan &operator=(const ConnectScan &) = delete;

    // Scans every port of the range once, handing each result to the sink as it comes (on
    // the calling thread). Every socket is closed when it returns.
    Outcome run(const ResultSink &sink);
    // From any thread: run() returns Cancelled promptly.
    void cancel();

    const std::string &error() const { return m_error; }
    int inFlight() const { return m_inFlight.load(std::memory_order_relaxed); }
    int peakInFlight() const { return m_peak; }

private:
    Target m_target;
    uint16_t m_first, m_last;
    int m_timeoutMs;
    int m_maxInFlight;
    int m_wake = -1; // eventfd that cancel() signals
    std::atomic<bool> m_cancelled{false};
    std::atomic<int> m_inFlight{0};
    int m_peak = 0;
    std::string m_error;
};

} // namespace scan
