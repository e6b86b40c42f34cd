#include "cli.h"

#include "connectscan.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/resource.h>

namespace {

constexpr const char *Usage = "scan HOST FROM TO [--timeout MS]";

int usage(const char *why)
{
    std::fprintf(stderr, "velmaric-cli: %s\nUsage: velmaric-cli %s\n", why, Usage);
    return 2;
}

// A whole decimal number within [low, high], nothing else.
bool parseNumber(const std::string &text, long low, long high, long &value)
{
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::strtol(text.c_str(), nullptr, 10);
    return value >= low && value <= high;
}

int scanPorts(const std::vector<std::string> &args)
{
    std::vector<std::string> positional;
    long timeoutMs = 1000;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--timeout") {
            if (i + 1 == args.size() || !parseNumber(args[++i], 1, 600000, timeoutMs))
                return usage("the time-out must be a number of milliseconds from 1 to 600000");
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 3)
        return usage("a host and the first and last port are needed");
    long from = 0, to = 0;
    if (!parseNumber(positional[1], 1, 65535, from) || !parseNumber(positional[2], 1, 65535, to))
        return usage("ports are numbers from 1 to 65535");
    if (from > to)
        return usage("the first port is greater than the last");

    scan::Target target;
    std::string error;
    if (!scan::resolveTarget(positional[0], target, error)) {
        std::fprintf(stderr, "velmaric-cli: %s\n", error.c_str());
        return 1;
    }
    // Like nmap, take the descriptors the hard limit allows: more connections in flight.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    const auto start = std::chrono::steady_clock::now();
    int counts[3] = {};
    scan::ConnectScan scan(target, uint16_t(from), uint16_t(to), int(timeoutMs));
    const auto outcome = scan.run([&counts](const scan::PortResult &r) {
        ++counts[int(r.state)];
        if (r.state == scan::PortState::Open) {
            std::printf("%u\t%s\n", r.port, scan::serviceName(r.port).c_str());
            std::fflush(stdout);
        }
    });
    if (outcome != scan::ConnectScan::Outcome::Finished) {
        std::fprintf(stderr, "velmaric-cli: the scan failed (%s)\n", scan.error().c_str());
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s: %d open, %d closed, %d filtered of %ld ports in %.2f s\n", target.text.c_str(),
                counts[int(scan::PortState::Open)], counts[int(scan::PortState::Closed)],
                counts[int(scan::PortState::Filtered)], to - from + 1, seconds);
    return 0;
}

} // namespace

std::vector<CliCommand> scanCommands()
{
    return {{"scan", Usage,
             "TCP connect scan: one line per open port (port<TAB>service), then a summary",
             scanPorts}};
}
