#pragma once
#include "inetaddress.h"
#include "probesocket.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Echo probes with limited hop counts toward one destination, many under way at once, for the
// command line's IPv6 trace and the trace report. Either address family.
class PathProber {
public:
    using Clock = std::chrono::steady_clock;
    struct Probe {
        int ttl = 0;
        int round = 0; // attempt or cycle
        Clock::time_point sentAt;
        bool done = false;
        bool answered = false;
        bool final = false; // the destination answered, or a hop said it is unreachable
        InetAddress from;
        Clock::duration roundTrip{};
    };

    PathProber(ProbeSocket &socket, const InetAddress &destination, size_t dataBytes);

    // Sends one probe; a probe the system refuses is done (unanswered) at once.
    uint16_t send(int ttl, int round);
    // Waits at most waitMs for one message; the sequence of the probe it answered, if any.
    std::optional<uint16_t> receive(int waitMs);
    Probe &probe(uint16_t sequence) { return m_probes.at(sequence); }
    std::map<uint16_t, Probe> &probes() { return m_probes; }

private:
    ProbeSocket &m_socket;
    InetAddress m_destination;
    std::vector<uint8_t> m_data;
    uint16_t m_sequence;
    std::map<uint16_t, Probe> m_probes;
};

// Per-hop figures of a trace report, as mtr's report shows them.
struct HopReport {
    std::vector<InetAddress> addresses; // every address that answered, first seen first
    int sent = 0;
    int received = 0;
    long lastUs = 0, bestUs = 0, worstUs = 0;
    double meanUs = 0, squaresUs = 0; // running mean and sum of squared deviations
    void add(long us);
    double lossPercent() const { return sent ? 100.0 * (sent - received) / sent : 0.0; }
    double stdevUs() const;
};

struct ReportSettings {
    int cycles = 10;
    long intervalUs = 1000000;
    int maxTtl = 30;
    long timeoutUs = 2000000; // a probe is lost when nothing came by then
    // After the last cycle, a silent probe is given up once a farther hop of its cycle has
    // answered and nearFactor times that round trip (at least nearFloorUs) have passed.
    int nearFactor = 10;
    long nearFloorUs = 100000;
    size_t dataBytes = 56;
};

// Probes every hop once per cycle, all hops at once, and gathers what answered; hops up to the
// destination (or up to the farthest that answered when it never did).
std::vector<HopReport> runTraceReport(ProbeSocket &socket, const InetAddress &destination,
                                      const ReportSettings &settings,
                                      const std::atomic<bool> &stop);

// The report: "Start:" and "HOST:" lines, then one line per hop ("???" for a silent one) and
// one more line for each further address seen at a hop. names: the text per address
// (empty map: the addresses themselves).
std::string traceReportText(const std::vector<HopReport> &hops, const std::string &localHost,
                            const std::string &startTime,
                            const std::map<InetAddress, std::string> &names);

// A trace over either family with the hop-line rules of the trace-route window: every TTL
// gets up to `attempts` probes, a hop is shown by its first answer, or as silent once all its
// attempts went unanswered. Several TTLs are probed at once.
struct PathTraceSettings {
    int maxTtl = 30;
    int attempts = 3;
    long timeoutUs = 2400000;
    int maxInFlight = 16;
    // Once a farther hop has answered, a silent attempt is given up after nearFactor times
    // that round trip (at least nearFloorUs, so that a busy router's late answer still counts):
    // its silence is then the hop's own.
    int nearFactor = 10;
    long nearFloorUs = 100000;
    size_t dataBytes = 32;
};
struct TraceHop {
    int ttl = 0;
    bool answered = false;
    bool final = false; // the destination, or a hop that says it cannot be reached
    InetAddress from;
    long roundTripUs = 0;
};
// Reports each hop in TTL order as soon as it is settled; true when the destination answered.
bool runPathTrace(ProbeSocket &socket, const InetAddress &destination,
                  const PathTraceSettings &settings, const std::atomic<bool> &stop,
                  const std::function<void(const TraceHop &)> &report);
