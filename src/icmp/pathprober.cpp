#include "pathprober.h"

#include "icmppacket.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

PathProber::PathProber(ProbeSocket &socket, const InetAddress &destination, size_t dataBytes)
    : m_socket(socket), m_destination(destination), m_data(dataBytes)
{
    for (size_t k = 0; k < m_data.size(); ++k)
        m_data[k] = uint8_t(k);
    std::random_device random;
    m_sequence = uint16_t(random());
}

uint16_t PathProber::send(int ttl, int round)
{
    const uint16_t sequence = ++m_sequence;
    Probe &p = m_probes[sequence];
    p = Probe{};
    p.ttl = ttl;
    p.round = round;
    p.sentAt = Clock::now();
    if (m_socket.send(m_destination, m_data, ttl, sequence) != 0)
        p.done = true;
    return sequence;
}

std::optional<uint16_t> PathProber::receive(int waitMs)
{
    auto got = m_socket.receive(waitMs);
    if (!got)
        return std::nullopt;
    auto it = m_probes.find(got->sequence);
    if (it == m_probes.end() || it->second.answered)
        return std::nullopt;
    if (got->reply ? got->data != m_data || got->source != m_destination
                   : got->quotedDestination != m_destination)
        return std::nullopt;
    Probe &p = it->second;
    p.done = p.answered = true;
    p.from = got->source;
    p.roundTrip = std::max(got->arrived - p.sentAt, Clock::duration::zero());
    // Time exceeded means "farther on"; anything else ends the path here.
    p.final = got->reply || (got->status != icmp::IP_TTL_EXPIRED_TRANSIT &&
                             got->status != icmp::IP_TTL_EXPIRED_REASSEM);
    return it->first;
}

void HopReport::add(long us)
{
    ++received;
    lastUs = us;
    bestUs = received == 1 ? us : std::min(bestUs, us);
    worstUs = std::max(worstUs, us);
    const double previous = meanUs;
    meanUs += (double(us) - previous) / received;
    squaresUs += (double(us) - previous) * (double(us) - meanUs);
}

double HopReport::stdevUs() const
{
    return received > 1 ? std::sqrt(squaresUs / (received - 1)) : 0.0;
}

std::vector<HopReport> runTraceReport(ProbeSocket &socket, const InetAddress &destination,
                                      const ReportSettings &settings, const std::atomic<bool> &stop)
{
    using Clock = PathProber::Clock;
    using std::chrono::microseconds;
    PathProber prober(socket, destination, settings.dataBytes);
    std::vector<HopReport> hops(size_t(settings.maxTtl) + 1); // by TTL, 0 unused
    int lastTtl = settings.maxTtl; // lowered once the path's end answered
    int farthest = 0;
    const auto start = Clock::now();
    int cycle = 0;
    // Round trips of the answers by cycle and TTL, while that cycle may still have silent
    // probes to pace.
    std::map<int, std::map<int, Clock::duration>> answers;
    // When a probe still under way counts as lost.
    auto deadline = [&](const PathProber::Probe &p) {
        Clock::time_point limit = p.sentAt + microseconds(settings.timeoutUs);
        auto round = answers.find(p.round);
        if (round == answers.end())
            return limit;
        if (auto farther = round->second.upper_bound(p.ttl); farther != round->second.end())
            limit = std::min(
                limit, p.sentAt + std::max<Clock::duration>(settings.nearFactor * farther->second,
                                                            microseconds(settings.nearFloorUs)));
        return limit;
    };
    auto take = [&](uint16_t sequence) {
        const PathProber::Probe &p = prober.probe(sequence);
        if (p.ttl > lastTtl)
            return;
        HopReport &hop = hops[size_t(p.ttl)];
        if (std::find(hop.addresses.begin(), hop.addresses.end(), p.from) == hop.addresses.end())
            hop.addresses.push_back(p.from);
        hop.add(long(std::chrono::duration_cast<microseconds>(p.roundTrip).count()));
        answers[p.round][p.ttl] = p.roundTrip;
        farthest = std::max(farthest, p.ttl);
        if (p.final && p.ttl < lastTtl) {
            // Hops past the end were probed for nothing; their answers no longer count.
            lastTtl = p.ttl;
            farthest = std::min(farthest, lastTtl);
        }
    };
    for (;;) {
        const auto now = Clock::now();
        if (stop.load()) {
            // Probes still under way when stopped are neither answered nor lost.
            for (const auto &[sequence, p] : prober.probes())
                if (!p.done && p.ttl <= lastTtl)
                    --hops[size_t(p.ttl)].sent;
            break;
        }
        if (cycle < settings.cycles && now >= start + microseconds(settings.intervalUs) * cycle) {
            ++cycle;
            std::erase_if(answers, [&](const auto &round) {
                return start + microseconds(settings.intervalUs) * (round.first - 1) +
                           microseconds(settings.timeoutUs) <
                       now;
            });
            for (int ttl = 1; ttl <= lastTtl; ++ttl) {
                prober.send(ttl, cycle);
                ++hops[size_t(ttl)].sent;
            }
        }
        bool waiting = false;
        Clock::time_point wake = cycle < settings.cycles
                                     ? start + microseconds(settings.intervalUs) * cycle
                                     : Clock::time_point::max();
        auto &probes = prober.probes();
        for (auto it = probes.begin(); it != probes.end();) {
            PathProber::Probe &p = it->second;
            if (!p.done && p.ttl <= lastTtl) {
                const auto limit = deadline(p);
                if (now >= limit) {
                    p.done = true;
                } else {
                    waiting = true;
                    wake = std::min(wake, limit);
                }
            }
            if (p.done || p.ttl > lastTtl)
                it = probes.erase(it);
            else
                ++it;
        }
        if (cycle >= settings.cycles && !waiting)
            break;
        const long long waitMs = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
        // One answer waited for, then every one already in, however short the interval.
        for (auto answered = prober.receive(int(std::clamp<long long>(waitMs, 0, 100))); answered;
             answered = prober.receive(0))
            take(*answered);
    }
    const bool reached = lastTtl < settings.maxTtl || !hops[size_t(lastTtl)].addresses.empty();
    hops.resize(size_t(std::max(reached ? lastTtl : farthest, 1)) + 1);
    hops.erase(hops.begin());
    return hops;
}

std::string traceReportText(const std::vector<HopReport> &hops, const std::string &localHost,
                            const std::string &startTime,
                            const std::map<InetAddress, std::string> &names)
{
    auto nameOf = [&](const InetAddress &a) {
        auto it = names.find(a);
        return it == names.end() || it->second.empty() ? a.text() : it->second;
    };
    size_t width = 26;
    for (const auto &hop : hops)
        for (const auto &a : hop.addresses)
            width = std::max(width, nameOf(a).size() + 1);
    // Names and the local host's name pad their columns: the text is not made in a fixed buffer.
    auto pad = [](std::string text, size_t width) {
        text.resize(std::max(text.size(), width), ' ');
        return text;
    };
    char figures[128];
    std::string text = "Start: " + startTime + "\n";
    std::snprintf(figures, sizeof figures, "%s%6s%7s%6s%6s%6s%6s\n", "Loss%", "Snt", "Last", "Avg",
                  "Best", "Wrst", "StDev");
    text += "HOST: " + pad(localHost, width + 2) + figures;
    for (size_t k = 0; k < hops.size(); ++k) {
        const HopReport &hop = hops[k];
        const std::string first = hop.addresses.empty() ? "???" : nameOf(hop.addresses.front());
        // A whole loss takes the percent sign's place, as in mtr.
        char loss[16];
        std::snprintf(loss, sizeof loss, "%4.1f%%", hop.lossPercent());
        loss[5] = '\0';
        std::snprintf(figures, sizeof figures, "%s%6d%7.1f%6.1f%6.1f%6.1f%6.1f\n", loss, hop.sent,
                      hop.lastUs / 1000.0, hop.meanUs / 1000.0, hop.bestUs / 1000.0,
                      hop.worstUs / 1000.0, hop.stdevUs() / 1000.0);
        char number[32];
        std::snprintf(number, sizeof number, "%3zu.|-- ", k + 1);
        text += number + pad(first, width) + figures;
        for (size_t i = 1; i < hop.addresses.size(); ++i)
            text += "        " + nameOf(hop.addresses[i]) + "\n";
    }
    return text;
}

bool runPathTrace(ProbeSocket &socket, const InetAddress &destination,
                  const PathTraceSettings &settings, const std::atomic<bool> &stop,
                  const std::function<void(const TraceHop &)> &report)
{
    using Clock = PathProber::Clock;
    using std::chrono::microseconds;
    PathProber prober(socket, destination, settings.dataBytes);
    struct Hop {
        int tries = 0;
        std::optional<uint16_t> pending; // the attempt under way
        std::optional<TraceHop> answer;
    };
    std::map<int, Hop> hops;
    int next = 1; // the first TTL not reported yet
    int lastTtl = settings.maxTtl;
    auto deadline = [&](int ttl, const PathProber::Probe &p) {
        auto limit = p.sentAt + microseconds(settings.timeoutUs);
        for (auto it = hops.upper_bound(ttl); it != hops.end(); ++it)
            if (it->second.answer) {
                const auto near = std::max<Clock::duration>(
                    settings.nearFactor * microseconds(it->second.answer->roundTripUs),
                    microseconds(settings.nearFloorUs));
                limit = std::min(limit, p.sentAt + near);
                break;
            }
        return limit;
    };
    while (!stop.load()) {
        const auto now = Clock::now();
        Clock::time_point wake = now + std::chrono::milliseconds(100);
        int inFlight = 0;
        for (auto &[ttl, hop] : hops) {
            if (!hop.pending)
                continue;
            PathProber::Probe &p = prober.probe(*hop.pending);
            if (!p.done && now >= deadline(ttl, p))
                p.done = true;
            if (p.done) {
                prober.probes().erase(*hop.pending);
                hop.pending.reset();
            } else {
                ++inFlight;
                wake = std::min(wake, deadline(ttl, p));
            }
        }
        // Settled hops, in order.
        for (;;) {
            auto it = hops.find(next);
            if (it == hops.end() || !(it->second.answer || (it->second.tries == settings.attempts &&
                                                            !it->second.pending)))
                break;
            TraceHop silent;
            silent.ttl = next;
            const TraceHop shown = it->second.answer.value_or(silent);
            report(shown);
            if (shown.final)
                return shown.from == destination;
            if (++next > lastTtl)
                return false;
        }
        // Next attempts: silent ones again, then new TTLs.
        for (int ttl = next; ttl <= lastTtl && inFlight < settings.maxInFlight; ++ttl) {
            Hop &hop = hops[ttl];
            if (hop.answer || hop.pending || hop.tries == settings.attempts)
                continue;
            hop.pending = prober.send(ttl, ++hop.tries);
            ++inFlight;
            wake = now;
        }
        const long long waitMs = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
        const auto answered = prober.receive(int(std::clamp<long long>(waitMs, 0, 100)));
        if (!answered)
            continue;
        const PathProber::Probe p = prober.probe(*answered);
        Hop &hop = hops[p.ttl];
        if (hop.pending == *answered)
            hop.pending.reset();
        prober.probes().erase(*answered);
        if (hop.answer || p.ttl > lastTtl)
            continue;
        hop.answer = TraceHop{p.ttl, true, p.final, p.from,
                              long(std::chrono::duration_cast<microseconds>(p.roundTrip).count())};
        if (p.final)
            lastTtl = p.ttl;
    }
    return false;
}
