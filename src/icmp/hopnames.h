#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

// The reverse look-up of one hop address on a thread of its own, so that a slow or silent
// resolver never holds up a trace: the caller decides how long a name is worth waiting for.
// The thread owns what it writes, so the look-up may be dropped while it is still under way.
class HopName {
public:
    using Clock = std::chrono::steady_clock;

    // Starts looking up address (network byte order).
    explicit HopName(uint32_t address);

    Clock::time_point started() const { return m_started; }
    // Waits until the look-up is over or until the given time; true when it is over.
    bool waitUntil(Clock::time_point until) const;
    // The name found; empty while the look-up runs and when the address has none.
    std::string name() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
    Clock::time_point m_started;
};
