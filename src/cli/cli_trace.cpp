#include "cliargs.h"
#include "pathprober.h"
#include "traceroute.h"

#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

// trace beyond the window: IPv6, and the per-hop report of repeated cycles.
namespace {

struct LookupState {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::string name;
};

constexpr const char *Usage =
    "trace [-4|-6] [--report [--cycles N] [--interval SECONDS]] [--resolve] HOST";

// Reverse look-ups on threads of their own: a silent resolver holds the output up by at most
// the wait given, after which the address stands alone. A look-up still running at exit ends
// with the process.
class NameLookups {
public:
    // The name of an address, or empty text; starts its look-up unless one was started.
    std::string nameOf(const InetAddress &address, std::chrono::steady_clock::time_point until)
    {
        auto state = start(address);
        std::unique_lock lock(state->mutex);
        state->ended.wait_until(lock, until, [&] { return state->done; });
        return state->done ? state->name : std::string();
    }
    std::shared_ptr<LookupState> start(const InetAddress &address)
    {
        auto &state = m_lookups[address];
        if (!state) {
            state = std::make_shared<LookupState>();
            std::thread([state, address] {
                std::string name = terminalSafe(nameOfAddress(address));
                const std::lock_guard lock(state->mutex);
                state->name = std::move(name);
                state->done = true;
                state->ended.notify_all();
            }).detach();
        }
        return state;
    }

private:
    std::map<InetAddress, std::shared_ptr<LookupState>> m_lookups;
};

constexpr auto NameWait = std::chrono::seconds(1);

int report(const InetAddress &address, const ReportSettings &settings, bool resolve)
{
    auto socket = ProbeSocket::open(address.family);
    if (!socket) {
        std::fprintf(stderr, "velmaric-cli: no %s socket may be opened by this user\n",
                     address.family == AF_INET6 ? "ICMPv6" : "ICMP");
        return 1;
    }
    char start[64];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    std::strftime(start, sizeof start, "%Y-%m-%dT%H:%M:%S%z", localtime_r(&now, &local));
    const auto hops = runTraceReport(*socket, address, settings, cliInterrupted());
    std::map<InetAddress, std::string> names;
    if (resolve) {
        NameLookups lookups;
        for (const auto &hop : hops)
            for (const auto &a : hop.addresses)
                lookups.start(a);
        const auto until = std::chrono::steady_clock::now() + NameWait;
        for (const auto &hop : hops)
            for (const auto &a : hop.addresses)
                names.emplace(a, lookups.nameOf(a, until));
    }
    char local_host[256] = {};
    ::gethostname(local_host, sizeof local_host - 1);
    std::fputs(traceReportText(hops, terminalSafe(local_host), start, names).c_str(), stdout);
    const bool reached = !hops.empty() && !hops.back().addresses.empty() &&
                         hops.back().addresses.front() == address;
    return reached ? 0 : 1;
}

int trace(const std::string &host, const InetAddress &address, bool resolve)
{
    auto socket = ProbeSocket::open(address.family);
    if (!socket) {
        std::fprintf(stderr, "velmaric-cli: no %s socket may be opened by this user\n",
                     address.family == AF_INET6 ? "ICMPv6" : "ICMP");
        return 1;
    }
    cliPrintWindowText(TraceHeader(host));
    NameLookups lookups;
    const bool complete = runPathTrace(
        *socket, address, PathTraceSettings{}, cliInterrupted(), [&](const TraceHop &hop) {
            const std::string name =
                resolve && hop.answered
                    ? lookups.nameOf(hop.from, std::chrono::steady_clock::now() + NameWait)
                    : std::string();
            cliPrintWindowText(hop.answered
                                   ? HopLine(hop.ttl, HopTimeText(uint32_t(hop.roundTripUs / 1000)),
                                             hop.from.text(), name)
                                   : HopLine(hop.ttl, "*", {}));
        });
    if (complete)
        cliPrintWindowText(std::string(TraceCompleteText) + "\n");
    return complete ? 0 : 1;
}

} // namespace

int extendedTrace(const std::vector<std::string> &args)
{
    int family = AF_UNSPEC;
    bool reportMode = false, resolve = false, reportOption = false;
    ReportSettings settings;
    std::string host;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        if (a == "-4" || a == "-6") {
            family = a == "-4" ? AF_INET : AF_INET6;
        } else if (a == "--report") {
            reportMode = true;
        } else if (a == "--resolve") {
            resolve = true;
        } else if (a == "--cycles" || a == "--interval") {
            if (i + 1 == args.size())
                return cliUsageError("option " + a + " needs a value", Usage);
            reportOption = true;
            const std::string &value = args[++i];
            if (a == "--cycles") {
                const auto cycles = cliNumber(value, 1, 1000000);
                if (!cycles)
                    return cliUsageError("the cycles must be a whole number of at least 1, not '" +
                                             value + "'",
                                         Usage);
                settings.cycles = int(*cycles);
            } else {
                const auto us = cliSeconds(value);
                if (!us)
                    return cliUsageError("the interval must be a number of seconds, 0 or more, "
                                         "not '" +
                                             value + "'",
                                         Usage);
                settings.intervalUs = *us;
            }
        } else if (!a.empty() && a[0] == '-') {
            return cliUsageError("unknown option '" + a + "'", Usage);
        } else if (a.empty()) {
            return cliUsageError("no host given", Usage);
        } else if (host.empty()) {
            host = a;
        } else {
            return cliUsageError("too many arguments", Usage);
        }
    }
    if (host.empty())
        return cliUsageError("no host given", Usage);
    if (reportOption && !reportMode)
        return cliUsageError("--cycles and --interval belong to --report", Usage);
    if (reportMode && settings.intervalUs < 200000 && ::geteuid() != 0)
        return cliUsageError("intervals below 0.2 seconds are for the superuser only", Usage);
    const auto numeric = InetAddress::parse(host);
    // IPv4 traces without a report are the window's, texts and all.
    if (!reportMode && family != AF_INET6 && !(numeric && numeric->family == AF_INET6) &&
        !(family == AF_INET && numeric && numeric->family != AF_INET))
        return windowTrace(host, resolve);
    int status = 0;
    const InetAddress address = cliTarget(host, family, Usage, status);
    if (!address.valid())
        return status;
    cliCatchInterrupts();
    return reportMode ? report(address, settings, resolve) : trace(host, address, resolve);
}
