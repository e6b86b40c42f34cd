#include "cliargs.h"
#include "pingsession.h"

#include <netinet/in.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string_view>

// ping with options: counts, intervals and IPv6, printed as ping prints them.
namespace {

constexpr const char *Usage =
    "ping [-4|-6] [-c COUNT] [-i SECONDS] [-W SECONDS] [-s SIZE] HOST [TEXT]";

} // namespace

int countingPing(const std::vector<std::string> &args)
{
    int family = AF_UNSPEC;
    PingOptions options;
    long size = -1;
    // Options may come before or after the host, as ping takes them; "--" ends them.
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            operands.push_back(a);
            continue;
        }
        // A value may be joined to its option ("-c3"), as ping takes it.
        std::optional<std::string> joined;
        if (a.size() > 2 && a[1] != '-' &&
            std::string_view("ciWs").find(a[1]) != std::string::npos) {
            joined = a.substr(2);
            a.resize(2);
        }
        if (a == "--") {
            optionsEnded = true;
            continue;
        }
        if (a == "-4" || a == "-6") {
            family = a == "-4" ? AF_INET : AF_INET6;
            continue;
        }
        if (a != "-c" && a != "-i" && a != "-W" && a != "-s")
            return cliUsageError("unknown option '" + a + "'", Usage);
        if (!joined && i + 1 == args.size())
            return cliUsageError("option " + a + " needs a value", Usage);
        const std::string value = joined ? *joined : args[++i];
        if (a == "-c") {
            const auto count = cliNumber(value, 1, 1L << 40);
            if (!count)
                return cliUsageError(
                    "the count must be a whole number of at least 1, not '" + value + "'", Usage);
            options.count = *count;
        } else if (a == "-s") {
            const auto bytes = cliNumber(value, 0, 65500);
            if (!bytes)
                return cliUsageError("the size must be 0 to 65500 bytes, not '" + value + "'",
                                     Usage);
            size = *bytes;
        } else {
            const auto us = cliSeconds(value);
            if (!us)
                return cliUsageError(std::string(a == "-i" ? "the interval" : "the wait") +
                                         " must be a number of seconds, 0 or more, not '" + value +
                                         "'",
                                     Usage);
            (a == "-i" ? options.intervalUs : options.waitUs) = *us;
        }
    }
    if (operands.empty() || operands[0].empty())
        return cliUsageError("no host given", Usage);
    if (operands.size() > 2)
        return cliUsageError("too many arguments", Usage);
    // Flooding a host is the administrator's decision, as with ping.
    if (options.intervalUs < 200000 && ::geteuid() != 0)
        return cliUsageError("intervals below 0.2 seconds are for the superuser only", Usage);

    const std::string host = operands[0];
    if (operands.size() > 1) {
        const std::string &text = operands[1];
        const size_t bytes = size >= 0 ? size_t(size) : text.size();
        for (size_t k = 0; !text.empty() && k < bytes; ++k)
            options.data.push_back(uint8_t(text[k % text.size()]));
        options.data.resize(bytes);
    } else {
        for (long k = 0; k < (size >= 0 ? size : 56); ++k)
            options.data.push_back(uint8_t(k));
    }
    int status = 0;
    const InetAddress address = cliTarget(host, family, Usage, status);
    if (!address.valid())
        return status;

    cliCatchInterrupts();
    const auto &interrupted = cliInterrupted();
    const int result = runPing(host, address, options, interrupted, [](const std::string &line) {
        std::fputs(line.c_str(), stdout);
        if (line.empty() || line.back() != '\n')
            std::fputc('\n', stdout);
        std::fflush(stdout);
    });
    if (result == 2)
        std::fprintf(stderr, "velmaric-cli: no %s socket may be opened by this user\n",
                     address.family == AF_INET6 ? "ICMPv6" : "ICMP");
    return result;
}
