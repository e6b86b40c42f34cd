#include "cliargs.h"

#include <netinet/in.h>
#include <signal.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<bool> interrupted{false};

void onInterrupt(int) { interrupted.store(true); }
} // namespace

std::optional<long> cliNumber(const std::string &text, long min, long max)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno || value < min || value > max)
        return std::nullopt;
    return long(value);
}

std::optional<long> cliSeconds(const std::string &text)
{
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos ||
        text.find('.') != text.rfind('.') || text == ".")
        return std::nullopt;
    const double seconds = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(seconds) || seconds > 86400.0 * 365)
        return std::nullopt;
    return long(std::llround(seconds * 1e6));
}

int cliUsageError(const std::string &message, const char *usage)
{
    std::fprintf(stderr, "velmaric-cli: %s\nUsage: velmaric-cli %s\n", message.c_str(), usage);
    return 2;
}

InetAddress cliTarget(const std::string &host, int family, const char *usage, int &exitStatus)
{
    if (const auto numeric = InetAddress::parse(host)) {
        if (family != AF_UNSPEC && numeric->family != family) {
            exitStatus = cliUsageError(
                "'" + host + "' is an " + (numeric->family == AF_INET6 ? "IPv6" : "IPv4") +
                    " address, but -" + (family == AF_INET ? "4" : "6") + " was given",
                usage);
            return {};
        }
        return *numeric;
    }
    const auto found = resolveAll(host, family);
    if (found.empty()) {
        std::fprintf(stderr, "velmaric-cli: host name '%s' not found%s\n", host.c_str(),
                     family == AF_INET6  ? " (IPv6)"
                     : family == AF_INET ? " (IPv4)"
                                         : "");
        exitStatus = 2;
        return {};
    }
    return found.front();
}

const std::atomic<bool> &cliInterrupted() { return interrupted; }

void cliCatchInterrupts()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void cliPrintWindowText(std::string text)
{
    std::erase(text, '\r');
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}
