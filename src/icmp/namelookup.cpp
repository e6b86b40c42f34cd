#include "namelookup.h"

#include "hostlookup.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

struct NameLookup::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::string result;

    void finish(std::string found)
    {
        {
            std::lock_guard lock(mutex);
            result = std::move(found);
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

NameLookup::NameLookup(std::function<std::string()> lookUp, bool mayGiveUp)
    : m_state(std::make_shared<State>()), m_started(Clock::now())
{
    if (running.fetch_add(1) >= MaxRunning && mayGiveUp) {
        running.fetch_sub(1);
        m_state->finish({});
        return;
    }
    try {
        std::thread([state = m_state, lookUp] {
            state->finish(lookUp());
            running.fetch_sub(1);
        }).detach();
    } catch (const std::system_error &) {
        running.fetch_sub(1);
        // Without a thread a hop goes without its name; the target is looked up here and now.
        m_state->finish(mayGiveUp ? std::string() : lookUp());
    }
}

std::unique_ptr<NameLookup> NameLookup::ofHop(uint32_t address)
{
    return std::make_unique<NameLookup>(
        [address] {
            auto entry = winsock::gethostbyaddr(address);
            return entry ? entry->name : std::string();
        },
        true);
}

bool NameLookup::waitUntil(Clock::time_point until) const
{
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_until(lock, until, [this] { return m_state->done; });
}

std::string NameLookup::result() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->result;
}
