#include "hopnames.h"

#include "hostlookup.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

struct HopName::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::string name;

    void finish(std::string found)
    {
        {
            std::lock_guard lock(mutex);
            name = std::move(found);
            done = true;
        }
        changed.notify_all();
    }
};

namespace {
// Look-ups stuck on a silent resolver outlive their traces for the resolver's whole time-out;
// beyond this many at once, further hops go without a name rather than pile up threads.
constexpr int MaxRunning = 64;
std::atomic<int> running{0};
} // namespace

HopName::HopName(uint32_t address) : m_state(std::make_shared<State>()), m_started(Clock::now())
{
    if (running.fetch_add(1) >= MaxRunning) {
        running.fetch_sub(1);
        m_state->finish({});
        return;
    }
    try {
        std::thread([state = m_state, address] {
            auto entry = winsock::gethostbyaddr(address);
            state->finish(entry ? entry->name : std::string());
            running.fetch_sub(1);
        }).detach();
    } catch (const std::system_error &) {
        running.fetch_sub(1);
        m_state->finish({});
    }
}

bool HopName::waitUntil(Clock::time_point until) const
{
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_until(lock, until, [this] { return m_state->done; });
}

std::string HopName::name() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->name;
}
