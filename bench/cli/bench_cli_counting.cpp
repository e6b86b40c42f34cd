// The command line's counting modes against the tools users know, run by hand as root; median
// wall time of whole processes, ours beside the peer's, in one run:
//   (a) ping -6 -c 100 -i 0.002 ::1 against iputils ping with the same options
//   (b) trace --report --cycles 10 --interval 0.1 over a 5-hop namespace chain against
//       mtr --report -c 10 -i 0.1, with the loss each shows per hop
//   (c) tcptable --all with about 100,000 rows (half IPv6) against ss -tan
//
//   bench_cli_counting [--runs N]      (default 5)
#include "timedrun.h"
#include "uniquefd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

void row(const char *name, double ours, double peer, double goal)
{
    const double ratio = ours / peer;
    std::printf("%-52s %9.1f %9.1f %7.2f  <= %.1f %s\n", name, ours, peer, ratio, goal,
                ours > 0 && peer > 0 && ratio <= goal ? "met" : "MISSED");
}

// Alternates ours and the peer so both see the same conditions.
void compare(const char *name, int runs, const std::vector<std::string> &ours,
             const std::vector<std::string> &peer, double goal)
{
    std::vector<double> a, b;
    for (int i = 0; i < runs; ++i) {
        a.push_back(timedRun(ours, true).ms);
        b.push_back(timedRun(peer, true).ms);
        if (a.back() < 0 || b.back() < 0) {
            std::printf("%-52s failed: %s\n", name, (a.back() < 0 ? ours : peer)[0].c_str());
            return;
        }
    }
    row(name, median(a), median(b), goal);
}

std::string output(const std::string &command)
{
    std::string text;
    if (FILE *p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
            text.append(buffer, n);
        ::pclose(p);
    }
    return text;
}

// The Loss% column of a report, hop by hop ("???" hops included).
std::string lossColumn(const std::string &report)
{
    std::istringstream lines(report);
    std::string line, column;
    while (std::getline(lines, line)) {
        if (line.find(".|-- ") == std::string::npos)
            continue;
        std::istringstream fields(line);
        std::string hop, address, loss;
        fields >> hop >> address >> loss;
        if (!loss.empty() && loss.back() != '%')
            loss += '%';
        column += (column.empty() ? "" : " ") + loss;
    }
    return column;
}

bool enter(const std::string &ns)
{
    const UniqueFd fd(::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC));
    return fd && ::setns(fd.get(), CLONE_NEWNET) == 0;
}

bool privateNetwork()
{
    if (::unshare(CLONE_NEWNET) != 0)
        return false;
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (::ioctl(fd.get(), SIOCGIFFLAGS, &ifr) != 0)
        return false;
    ifr.ifr_flags = short(ifr.ifr_flags | IFF_UP);
    return ::ioctl(fd.get(), SIOCSIFFLAGS, &ifr) == 0;
}

// A worker: a listener of the family and `count` connected pairs to it, held until the parent
// closes `hold`. 2 * count + 1 descriptors, under the 20,000 a process may hold here.
[[noreturn]] void worker(int family, int count, int ready, int hold)
{
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) == 0) {
        lim.rlim_cur = lim.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &lim);
    }
    sockaddr_storage a{};
    socklen_t len = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (family == AF_INET) {
        auto *in = reinterpret_cast<sockaddr_in *>(&a);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    } else {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&a);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
    }
    auto *address = reinterpret_cast<sockaddr *>(&a);
    std::vector<UniqueFd> fds;
    UniqueFd listener(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::bind(listener.get(), address, len) != 0 || ::listen(listener.get(), 4096) != 0 ||
        ::getsockname(listener.get(), address, &len) != 0)
        ::_exit(1);
    for (int i = 0; i < count; ++i) {
        UniqueFd client(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (client.get() < 0 || ::connect(client.get(), address, len) != 0)
            ::_exit(2);
        UniqueFd server(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (server.get() < 0)
            ::_exit(3);
        fds.push_back(std::move(client));
        fds.push_back(std::move(server));
    }
    const char ok = 1;
    if (::write(ready, &ok, 1) != 1)
        ::_exit(4);
    char c;
    while (::read(hold, &c, 1) > 0) {}
    ::_exit(0);
}

// Starts workers for `perFamily` connections of each family; returns the pipe end that holds
// them (closing it lets them go), -1 on failure.
int openConnections(int perFamily, int perWorker)
{
    int readyPipe[2], holdPipe[2];
    if (::pipe2(readyPipe, O_CLOEXEC) != 0 || ::pipe2(holdPipe, O_CLOEXEC) != 0)
        return -1;
    int started = 0;
    for (int family : {AF_INET, AF_INET6})
        for (int left = perFamily; left > 0; left -= perWorker) {
            if (::fork() == 0) {
                ::close(readyPipe[0]);
                ::close(holdPipe[1]);
                worker(family, std::min(left, perWorker), readyPipe[1], holdPipe[0]);
            }
            ++started;
        }
    ::close(readyPipe[1]);
    ::close(holdPipe[0]);
    int ready = 0;
    char c;
    while (ready < started && ::read(readyPipe[0], &c, 1) == 1)
        ++ready;
    ::close(readyPipe[0]);
    return ready == started ? holdPipe[1] : -1;
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 5;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "Usage: bench_cli_counting [--runs N]\n");
            return 2;
        }
    }
    if (::geteuid() != 0) {
        std::fprintf(stderr, "bench_cli_counting: needs root (network namespaces)\n");
        return 1;
    }
    const std::string cli = VELMARIC_CLI;
    std::printf("%-52s %9s %9s %7s  %s\n", "case (median of runs, wall ms)", "ours", "peer",
                "ratio", "goal");

    // (b) first, from the chain's source namespace.
    const std::string prefix = "vb" + std::to_string(::getpid());
    if (std::system((std::string(NETNS_CHAIN_SCRIPT) + " up " + prefix + " 4 --owner " +
                     std::to_string(::getpid()))
                        .c_str()) != 0 ||
        !enter(prefix + "-0")) {
        std::fprintf(stderr, "bench_cli_counting: the namespace chain did not come up\n");
        return 1;
    }
    for (const char *target : {"fd99:4::2", "10.99.4.2"})
        std::system(("ping -c 2 -i 0.2 -W 1 " + std::string(target) + " >/dev/null").c_str());
    struct Trace {
        const char *name;
        const char *target;
        bool silentHop3;
    };
    for (const Trace &t : {Trace{"(b) report, 5 hops, IPv6", "fd99:4::2", false},
                           Trace{"(b) report, 5 hops, IPv4", "10.99.4.2", false},
                           Trace{"(b) report, 5 hops, IPv6, hop 3 silent", "fd99:4::2", true}}) {
        const std::string rule = t.silentHop3 ? "add table inet t; add chain inet t out { type "
                                                "filter hook output priority 0; }; add rule inet "
                                                "t out icmpv6 type time-exceeded drop"
                                              : "flush ruleset";
        std::system(("ip netns exec " + prefix + "-3 nft '" + rule + "'").c_str());
        const std::vector<std::string> ours{cli,  "trace",      "--report", "--cycles",
                                            "10", "--interval", "0.1",      t.target};
        const std::vector<std::string> mtr{"mtr", "-n", "--report", "-c",
                                           "10",  "-i", "0.1",      t.target};
        compare(t.name, runs, ours, mtr, 1.0);
        auto quoted = [](const std::vector<std::string> &v) {
            std::string s;
            for (const auto &a : v)
                s += a + ' ';
            return s;
        };
        std::printf("    loss per hop: ours %s | mtr %s\n",
                    lossColumn(output(quoted(ours))).c_str(),
                    lossColumn(output(quoted(mtr))).c_str());
    }
    std::system((std::string(NETNS_CHAIN_SCRIPT) + " down " + prefix).c_str());

    // (a) and (c) in a network namespace of their own: only the benchmark's sockets.
    if (!privateNetwork()) {
        std::fprintf(stderr, "bench_cli_counting: no private network namespace\n");
        return 1;
    }
    compare("(a) ping -6 -c 100 -i 0.002 ::1", runs,
            {cli, "ping", "-6", "-c", "100", "-i", "0.002", "::1"},
            {"ping", "-6", "-c", "100", "-i", "0.002", "::1"}, 1.0);

    const int hold = openConnections(25000, 8334);
    if (hold < 0) {
        std::fprintf(stderr, "bench_cli_counting: the connections could not be opened\n");
        return 1;
    }
    const std::string rows = output(cli + " tcptable --all | wc -l");
    const std::string six = output(cli + " tcptable -6 | wc -l");
    const std::string ssRows = output("ss -tanH | wc -l");
    char name[96];
    std::snprintf(name, sizeof name, "(c) tcptable --all, %ld rows (%ld IPv6; ss %ld)",
                  std::atol(rows.c_str()), std::atol(six.c_str()), std::atol(ssRows.c_str()));
    compare(name, runs, {cli, "tcptable", "--all"}, {"ss", "-tan"}, 0.6);
    ::close(hold);
    return 0;
}
