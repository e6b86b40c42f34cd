#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// One name look-up on a thread of its own, so that a slow or silent resolver never holds up a
// trace or its window: the caller decides how long the answer is worth waiting for. The thread
// owns what it writes, so the look-up may be dropped while it is still under way.
class NameLookup {
public:
    using Clock = std::chrono::steady_clock;

    // Starts lookUp. A hop's reverse look-up may be given up from the start when too many are
    // stuck already; the trace's own target never is.
    explicit NameLookup(std::function<std::string()> lookUp, bool mayGiveUp = false);
    // The reverse look-up of a hop address (network byte order).
    static std::unique_ptr<NameLookup> ofHop(uint32_t address);

    Clock::time_point started() const { return m_started; }
    // Waits until the look-up is over or until the given time; true when it is over.
    bool waitUntil(Clock::time_point until) const;
    // What the look-up found; empty while it runs and when it found nothing.
    std::string result() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
    Clock::time_point m_started;
};
