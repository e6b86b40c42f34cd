#pragma once
#include "namelookup.h"
#include "icmpapi.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace icmp {
struct Message;
}

// The trace route: texts, the packet-size rule and the engine that runs one trace.

// "<10 ms" below 10 ms, "N ms" up to 1200 ms, "*" above.
std::string HopTimeText(uint32_t roundTripMs);
// "Hop #\t<ttl>\t<time>\t<address>[\t<name>]\r\n"
std::string HopLine(int ttl, const std::string &timeText, const std::string &address,
                    const std::string &hostName = {});
// "Tracing Route to <target>:\r\n\r\n"
std::string TraceHeader(const std::string &target);
inline constexpr const char *TraceCompleteText = "\r\nTrace Route Complete";

// The packet-size box: the corrected box text (the same text when it stays) and the size.
struct PacketSize {
    std::string text;
    int32_t size;
};
PacketSize correctPacketSize(const std::string &boxText);
// Reads text as a number the way the box does: optional blanks and sign, digits with an
// optional decimal point and exponent. Empty for anything else.
std::optional<double> readNumber(const std::string &text);

// Runs one trace. Attempts are reported strictly in order (TTL 1 until it answers or has
// had maxAttempts attempts, then TTL 2 ...), exactly as one echo at a time would give them,
// while several TTLs and the later attempts of a silent TTL are probed at once.
class TraceRoute {
public:
    struct Settings {
        int timeoutMs = 2400; // per attempt
        int maxAttempts = 3;  // without answer at one TTL, then the "*" line
        int maxTtl = 255;
        int maxInFlight = 16;   // probes under way at once
        int retryAfterMs = 600; // a silent attempt's next one goes out at the latest then
        // Once a farther hop has answered, a silent hop is given up after nearFactor times
        // that answer's round trip (plus nearSlackUs), as traceroute does: its silence is
        // then its own, not the path's. 0 keeps the full time-out.
        int nearFactor = 10;
        int nearSlackUs = 100;
        bool resolveNames = false; // hop lines name the hop (reverse look-up)
        // Names are looked up off the caller's thread as soon as a hop answers; a hop line
        // waits at most this long after the answer for its name, then shows the address alone.
        int nameWaitMs = 1000;
    };

    // addressText is what the window shows as the target's address; the trace is complete
    // when a hop's address text equals it.
    TraceRoute(IcmpHandle handle, uint32_t destination, std::string addressText, int packetSize,
               Settings settings);

    // The TTL of the attempt the trace waits for; 0 once the trace is over.
    int currentTtl() const { return m_finished ? 0 : m_ttl; }
    bool finished() const { return m_finished; }
    // The trace reached its target ("Trace Route Complete").
    bool complete() const { return m_complete; }

    // What one finished attempt adds to the output.
    struct Step {
        int ttl = 0;
        bool answered = false;
        std::string hopLine; // empty when the attempt adds no hop line
    };
    // Waits at most waitMs for the current attempt to finish.
    std::optional<Step> next(int waitMs);

private:
    using Clock = std::chrono::steady_clock;
    struct Attempt {
        bool sent = false;
        bool done = false;
        bool answered = false;
        uint16_t sequence = 0;
        Clock::time_point sentAt;
        uint32_t address = 0;
        uint32_t roundTripMs = 0;
        Clock::duration roundTrip{};
    };
    Attempt &head();
    void launch();
    void send(int ttl, int attempt);
    // Waits at most waitMs for one message and takes it in.
    void receive(int waitMs);
    // Takes in every message already waiting, without waiting.
    void receiveWaiting();
    void take(const icmp::Message &message, Clock::time_point arrived);
    // The name look-up of an answered attempt; null when names are off.
    const NameLookup *nameOf(const Attempt &a) const;
    void expire();
    // When an attempt still under way counts as unanswered.
    Clock::time_point deadline(int ttl, const Attempt &a) const;
    int inFlight() const;
    std::string hopLineFor(int ttl, const Attempt &a) const;

    IcmpHandle m_handle;
    uint32_t m_destination;
    std::string m_addressText;
    std::vector<uint8_t> m_data;
    Settings m_settings;

    int m_ttl = 1;
    int m_attempt = 1;
    std::string m_hopAddress;
    bool m_finished = false;
    bool m_complete = false;
    int m_lastTtlToProbe; // lowered once the destination answered
    int m_highestAnswered = 0;
    std::map<int, std::vector<Attempt>> m_attempts;          // by TTL
    std::map<uint16_t, std::pair<int, int>> m_bySequence;    // sent attempts only
    std::map<uint32_t, std::unique_ptr<NameLookup>> m_names; // by hop address
};
