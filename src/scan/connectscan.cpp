#include "connectscan.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <dirent.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

namespace scan {

namespace {

using Clock = std::chrono::steady_clock;

// Descriptors kept free for the rest of the process (the epoll set, the wake-up, files, X).
constexpr long ReservedDescriptors = 64;
constexpr uint64_t WakeKey = ~uint64_t(0);

long openDescriptors()
{
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return ReservedDescriptors;
    long n = 0;
    while (const dirent *e = ::readdir(dir))
        n += e->d_name[0] != '.';
    ::closedir(dir);
    return n;
}

// Errors that say "no room now" rather than anything about the port.
bool isResourceError(int e)
{
    return e == EMFILE || e == ENFILE || e == ENOBUFS || e == ENOMEM || e == EADDRNOTAVAIL ||
           e == EAGAIN;
}

// Errors of a connect that tell the port's state; false for those that tell nothing.
bool stateOfError(int e, PortState &state)
{
    switch (e) {
    case ECONNREFUSED: state = PortState::Closed; return true;
    case ECONNRESET: // a reset after the handshake: something accepted
        state = PortState::Open;
        return true;
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case EHOSTDOWN:
    case ENETDOWN:
    case EACCES:
    case EPERM: state = PortState::Filtered; return true;
    default: return false;
    }
}

uint16_t portOf(const sockaddr_storage &a)
{
    return ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6 &>(a).sin6_port
                                         : reinterpret_cast<const sockaddr_in &>(a).sin_port);
}

bool sameAddress(const sockaddr_storage &a, const sockaddr_storage &b)
{
    if (a.ss_family != b.ss_family)
        return false;
    if (a.ss_family == AF_INET6)
        return !std::memcmp(&reinterpret_cast<const sockaddr_in6 &>(a).sin6_addr,
                            &reinterpret_cast<const sockaddr_in6 &>(b).sin6_addr, sizeof(in6_addr));
    return reinterpret_cast<const sockaddr_in &>(a).sin_addr.s_addr ==
           reinterpret_cast<const sockaddr_in &>(b).sin_addr.s_addr;
}

struct Slot {
    UniqueFd fd;
    uint16_t port = 0;
    uint32_t generation = 0;
};

} // namespace

const char *stateText(PortState state)
{
    switch (state) {
    case PortState::Open: return "open";
    case PortState::Closed: return "closed";
    case PortState::Filtered: break;
    }
    return "filtered";
}

bool resolveTarget(const std::string &host, Target &target, std::string &error)
{
    if (host.empty()) {
        error = "Enter a host name or address.";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || !found) {
        error = rc == EAI_AGAIN
                    ? "Host \"" + host + "\" could not be looked up now; try again later."
                    : "Host \"" + host + "\" not found.";
        return false;
    }
    const addrinfo *pick = found;
    for (const addrinfo *a = found; a; a = a->ai_next) {
        if (a->ai_family == AF_INET) {
            pick = a;
            break;
        }
    }
    target = Target{};
    std::memcpy(&target.address, pick->ai_addr, pick->ai_addrlen);
    target.length = pick->ai_addrlen;
    char text[INET6_ADDRSTRLEN] = {};
    ::getnameinfo(pick->ai_addr, pick->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    target.text = text;
    ::freeaddrinfo(found);
    return true;
}

std::string serviceName(uint16_t port)
{
    servent entry{};
    servent *found = nullptr;
    std::vector<char> buffer(1024);
    while (::getservbyport_r(htons(port), "tcp", &entry, buffer.data(), buffer.size(), &found) ==
               ERANGE &&
           buffer.size() < 65536)
        buffer.resize(buffer.size() * 2);
    return found && found->s_name ? std::string(found->s_name) : std::string();
}

int inFlightBudget(int wanted)
{
    rlimit limit{};
    long room = 1L << 20;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        room = long(limit.rlim_cur) - openDescriptors() - ReservedDescriptors;
    return int(std::clamp<long>(std::min<long>(wanted, room), 1, std::max(wanted, 1)));
}

ConnectScan::ConnectScan(const Target &target, uint16_t first, uint16_t last, int timeoutMs,
                         int maxInFlight)
    : m_target(target), m_first(first), m_last(last), m_timeoutMs(std::max(timeoutMs, 1)),
      m_maxInFlight(maxInFlight), m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{}

void ConnectScan::cancel()
{
    m_cancelled.store(true);
    if (m_wake) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake.get(), &one, sizeof one);
    }
}

ConnectScan::Outcome ConnectScan::run(const ResultSink &sink)
{
    m_error.clear();
    m_peak = 0;
    m_inFlight.store(0);
    auto fail = [this](const std::string &what, int e) {
        m_error = what + ": " + std::strerror(e);
        return Outcome::Failed;
    };
    if (m_first > m_last || m_first == 0)
        return fail("port range", EINVAL);
    if (!m_wake)
        return fail("eventfd", errno);
    UniqueFd epoll(::epoll_create1(EPOLL_CLOEXEC));
    if (!epoll)
        return fail("epoll_create1", errno);
    epoll_event wakeEvent{};
    wakeEvent.events = EPOLLIN;
    wakeEvent.data.u64 = WakeKey;
    if (::epoll_ctl(epoll.get(), EPOLL_CTL_ADD, m_wake.get(), &wakeEvent) != 0)
        return fail("epoll_ctl", errno);

    const int total = int(m_last) - int(m_first) + 1;
    int cap = std::min(inFlightBudget(m_maxInFlight), total);
    std::vector<Slot> slots(static_cast<size_t>(cap));
    std::vector<int> freeSlots;
    for (int i = cap - 1; i >= 0; --i)
        freeSlots.push_back(i);
    // Every connect gets the same time, so deadlines expire in the order the connects began.
    struct Pending {
        Clock::time_point deadline;
        int slot;
        uint32_t generation;
    };
    std::deque<Pending> deadlines;
    std::vector<uint16_t> retry; // ports whose connect found no room; tried again first
    int next = m_first;
    int inFlight = 0;
    const auto timeout = std::chrono::milliseconds(m_timeoutMs);
    const int family = m_target.address.ss_family;

    auto release = [&](int index) {
        Slot &s = slots[size_t(index)];
        s.fd.reset();
        ++s.generation;
        freeSlots.push_back(index);
        --inFlight;
        m_inFlight.store(inFlight, std::memory_order_relaxed);
    };
    auto finish = [&](int index, PortState state) {
        Slot &s = slots[size_t(index)];
        if (state == PortState::Open) {
            // Reset rather than close: no TIME_WAIT is left behind for a port only probed.
            const linger abort{1, 0};
            ::setsockopt(s.fd.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        release(index);
        sink(PortResult{s.port, state});
    };

    // A connect that found itself: with the port in the local range, the kernel may pick the
    // probed port as the source and the socket connects to itself. Nothing listens there.
    auto selfConnected = [&](int fd, uint16_t port) {
        sockaddr_storage local{};
        socklen_t len = sizeof local;
        return ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &len) == 0 &&
               portOf(local) == port && sameAddress(local, m_target.address);
    };

    // Starts one connect; returns 0, or the errno of a failure that is no answer from the port
    // (noRoom tells whether it is only a lack of descriptors or local ports).
    auto launch = [&](uint16_t port, bool &noRoom) -> int {
        UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
        if (!fd) {
            const int e = errno;
            noRoom = isResourceError(e);
            return e;
        }
        sockaddr_storage to = m_target.address;
        if (family == AF_INET6)
            reinterpret_cast<sockaddr_in6 &>(to).sin6_port = htons(port);
        else
            reinterpret_cast<sockaddr_in &>(to).sin_port = htons(port);
        const int index = freeSlots.back();
        Slot &s = slots[size_t(index)];
        s.port = port;
        s.fd = std::move(fd);
        freeSlots.pop_back();
        ++inFlight;
        m_peak = std::max(m_peak, inFlight);
        m_inFlight.store(inFlight, std::memory_order_relaxed);

        int e = 0;
        if (::connect(s.fd.get(), reinterpret_cast<sockaddr *>(&to), m_target.length) != 0)
            e = errno;
        if (e == EINPROGRESS) {
            // Loopback answers inside the call: a refusal is already known here.
            socklen_t len = sizeof e;
            if (::getsockopt(s.fd.get(), SOL_SOCKET, SO_ERROR, &e, &len) != 0)
                e = 0;
            if (e == 0)
                e = EINPROGRESS;
        }
        PortState state;
        if (e == 0) {
            finish(index, selfConnected(s.fd.get(), port) ? PortState::Closed : PortState::Open);
            return 0;
        }
        if (e != EINPROGRESS) {
            if (stateOfError(e, state)) {
                finish(index, state);
                return 0;
            }
            // Not this port's doing: put it back and tell the caller.
            release(index);
            noRoom = isResourceError(e);
            return e;
        }
        epoll_event ev{};
        ev.events = EPOLLOUT;
        ev.data.u64 = (uint64_t(s.generation) << 32) | uint32_t(index);
        if (::epoll_ctl(epoll.get(), EPOLL_CTL_ADD, s.fd.get(), &ev) != 0) {
            const int err = errno;
            release(index);
            noRoom = isResourceError(err);
            return err;
        }
        deadlines.push_back({Clock::now() + timeout, index, s.generation});
        return 0;
    };

    std::vector<epoll_event> events(1024);
    while (true) {
        if (m_cancelled.load())
            return Outcome::Cancelled;
        while (inFlight < cap && !freeSlots.empty() && (!retry.empty() || next <= m_last)) {
            uint16_t port;
            if (retry.empty()) {
                port = uint16_t(next++);
            } else {
                port = retry.back();
                retry.pop_back();
            }
            bool noRoom = false;
            if (const int e = launch(port, noRoom)) {
                if (!noRoom || inFlight == 0)
                    return fail("connect to port " + std::to_string(port), e);
                // Fewer at a time from now on: the ones in flight make room as they end.
                cap = inFlight;
                retry.push_back(port);
                break;
            }
            if (m_cancelled.load())
                return Outcome::Cancelled;
        }
        if (inFlight == 0 && retry.empty() && next > m_last)
            return Outcome::Finished;

        int waitMs = -1;
        while (!deadlines.empty() &&
               slots[size_t(deadlines.front().slot)].generation != deadlines.front().generation)
            deadlines.pop_front();
        if (!deadlines.empty()) {
            const auto left = deadlines.front().deadline - Clock::now();
            waitMs = int(
                std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        const int n = ::epoll_wait(epoll.get(), events.data(), int(events.size()), waitMs);
        if (n < 0 && errno != EINTR)
            return fail("epoll_wait", errno);
        for (int i = 0; i < n; ++i) {
            const uint64_t key = events[size_t(i)].data.u64;
            if (key == WakeKey)
                continue; // the cancel flag is looked at on top of the loop
            const int index = int(uint32_t(key));
            Slot &s = slots[size_t(index)];
            if (s.generation != uint32_t(key >> 32) || !s.fd)
                continue;
            int e = 0;
            socklen_t len = sizeof e;
            if (::getsockopt(s.fd.get(), SOL_SOCKET, SO_ERROR, &e, &len) != 0)
                e = errno;
            PortState state = PortState::Filtered;
            if (e == 0)
                state = selfConnected(s.fd.get(), s.port) ? PortState::Closed : PortState::Open;
            else
                stateOfError(e, state);
            finish(index, state);
        }
        const auto now = Clock::now();
        while (!deadlines.empty() && deadlines.front().deadline <= now) {
            const Pending p = deadlines.front();
            deadlines.pop_front();
            if (slots[size_t(p.slot)].generation == p.generation && slots[size_t(p.slot)].fd)
                finish(p.slot, PortState::Filtered);
        }
    }
}

} // namespace scan
