// ICMP benchmarks, run by hand as root: ours against the peer tools, median wall time of
// whole processes (start-up included, as a user would see them).
//   (a) one echo on loopback: velmaric-cli ping vs ping -c 1 -W 1
//   (b) a trace through a 5-hop namespace chain: velmaric-cli trace vs traceroute -n -q 1
//   (c) the same chain with router 2 silent: velmaric-cli trace vs traceroute -n
//   (f) a process doing nothing vs the peer of (c): the floor of any ratio there
#include "timedrun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Alternates ours and the peer so both see the same conditions; prints one table row.
void compare(const char *name, int runs, const std::vector<std::string> &ours,
             const std::vector<std::string> &peer, double goal, int pauseSeconds = 0)
{
    std::vector<double> a, b;
    for (int i = 0; i < runs; ++i) {
        if (i > 0 && pauseSeconds > 0)
            sleep(unsigned(pauseSeconds));
        double x = timedRun(ours, true).ms, y = timedRun(peer, true).ms;
        if (x < 0 || y < 0) {
            std::printf("%-44s failed: %s\n", name, x < 0 ? ours[0].c_str() : peer[0].c_str());
            return;
        }
        a.push_back(x);
        b.push_back(y);
    }
    const double ratio = median(a) / median(b);
    std::printf("%-44s %10.2f %10.2f %8.2f   <= %.1f %s\n", name, median(a), median(b), ratio, goal,
                ratio <= goal ? "met" : "MISSED");
}

bool hasProgram(const char *name)
{
    std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

bool shell(const std::string &cmd) { return std::system(cmd.c_str()) == 0; }

} // namespace

int main(int argc, char **argv)
{
    std::string cli = VELMARIC_CLI;
    int runs = 201;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--cli") && i + 1 < argc)
            cli = argv[++i];
        else {
            std::fprintf(stderr, "Usage: bench_icmp [--runs N] [--cli PATH]\n");
            return 2;
        }
    }
    if (geteuid() != 0) {
        std::fprintf(stderr, "bench_icmp: needs root (network namespaces)\n");
        return 1;
    }
    for (const char *peer : {"ping", "traceroute", "ip", "nft"})
        if (!hasProgram(peer)) {
            std::fprintf(stderr, "bench_icmp: %s is missing (see scripts/packages.txt)\n", peer);
            return 1;
        }

    std::printf("%-44s %10s %10s %8s   %s\n", "case (median of whole runs)", "ours ms", "peer ms",
                "ratio", "goal");
    compare("(a) loopback echo vs ping -c 1 -W 1", runs, {cli, "ping", "127.0.0.1", "bench"},
            {"ping", "-c", "1", "-W", "1", "127.0.0.1"}, 1.1);

    // Four routers and the target: five hops. The fixture's reaper removes the chain
    // should this program die early.
    const std::string script = NETNS_CHAIN_SCRIPT;
    const std::string prefix = "vb" + std::to_string(getpid());
    if (!shell(script + " up " + prefix + " 4 --owner " + std::to_string(getpid()) +
               " >/dev/null")) {
        std::fprintf(stderr, "bench_icmp: could not build the namespace chain\n");
        return 1;
    }
    const std::string target = "10.99.4.2";
    int ns = open(("/run/netns/" + prefix + "-0").c_str(), O_RDONLY | O_CLOEXEC);
    if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) {
        std::fprintf(stderr, "bench_icmp: could not enter the source namespace\n");
        shell(script + " down " + prefix);
        return 1;
    }
    close(ns);
    compare("(b) 5-hop trace vs traceroute -n -q 1", runs, {cli, "trace", target},
            {"traceroute", "-n", "-q", "1", target}, 1.0);

    // One router silent. First with the kernel's default ICMP rate limits, as real hosts
    // have them (traceroute's many simultaneous probes then meet rate-limited answers),
    // a pause between runs letting the limits' tokens come back; then with the limits off.
    shell("printf 'table inet silent { chain errors { type filter hook output priority 0; "
          "icmp type time-exceeded drop; }; }\\n' | ip netns exec " +
          prefix + "-2 nft -f -");
    auto setRateLimit = [&](const char *ms) {
        for (int i = 0; i <= 5; ++i)
            shell("ip netns exec " + prefix + "-" + std::to_string(i) +
                  " sysctl -qw net.ipv4.icmp_ratelimit=" + ms);
    };
    setRateLimit("1000");
    compare("(c) router 2 silent, vs traceroute -n", 3, {cli, "trace", target},
            {"traceroute", "-n", target}, 0.5, 6);
    // What bounds (c): a process that does nothing at all, started the same way. When
    // traceroute meets no rate-limited answers, start-up is most of both figures.
    compare("(f) start-up floor: true vs traceroute -n", 3, {"true"}, {"traceroute", "-n", target},
            0.5, 6);
    setRateLimit("0");
    compare("(c') as (c), ICMP rate limits off", 3, {cli, "trace", target},
            {"traceroute", "-n", target}, 0.5);
    shell(script + " down " + prefix);
    return 0;
}
