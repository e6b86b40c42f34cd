#include "cli.h"

#include "hostlookup.h"
#include "inetaddress.h"
#include "module3.h"

#include <cstdio>

// Prints what the resolver windows show: the found text on standard output, the windows'
// messages on standard error.
namespace {

int usage(const char *text)
{
    std::fprintf(stderr, "Usage: velmaric-cli %s\n", text);
    return 2;
}

int resolveAllAddresses(const std::string &name)
{
    const auto addresses = resolveAll(name, AF_UNSPEC);
    if (addresses.empty()) {
        std::fprintf(stderr, "velmaric-cli: host name '%s' not found\n", name.c_str());
        return 1;
    }
    for (const auto &a : addresses)
        std::printf("%s\n", a.text().c_str());
    return 0;
}

int resolveName(const std::vector<std::string> &args)
{
    if (args.size() == 2 && (args[0] == "--all" || args[1] == "--all")) {
        const std::string &name = args[args[0] == "--all" ? 1 : 0];
        if (name.empty() || name.starts_with('-'))
            return usage("resolve [--all] NAME");
        return resolveAllAddresses(name);
    }
    if (args.size() != 1 || args[0].starts_with('-'))
        return usage("resolve [--all] NAME");
    const std::string address = HostNameToIPText(args[0]);
    if (address.empty()) {
        // The window only empties its box; here the failure needs saying.
        std::fprintf(stderr, "velmaric-cli: host name '%s' not found\n", args[0].c_str());
        return 1;
    }
    std::printf("%s\n", address.c_str());
    return 0;
}

int reverseAddress(const std::vector<std::string> &args)
{
    if (args.size() != 1)
        return usage("reverse ADDRESS");
    // IPv6 text goes past the window, which knows dotted IPv4 only.
    if (args[0].find(':') != std::string::npos) {
        const auto address = InetAddress::parse(args[0]);
        if (!address) {
            std::fprintf(stderr, "%s\n", Module3::InvalidIPText);
            return 1;
        }
        const std::string name = nameOfAddress(*address);
        if (name.empty()) {
            std::fprintf(stderr, "velmaric-cli: no host name for %s\n", args[0].c_str());
            return 1;
        }
        std::printf("%s\n", terminalSafe(name).c_str());
        return 0;
    }
    bool reported = false;
    const std::string name = Module3::IPTextToHostName(
        args[0], [&reported](const std::string &text, int style) {
            std::fprintf(stderr, "%s\n", text.c_str());
            // The clean-up warning comes after a finished look-up and does not undo it.
            reported = reported || style != vbExclamation;
        });
    if (name.empty()) {
        if (!reported)
            std::fprintf(stderr, "velmaric-cli: no host name for %s\n", args[0].c_str());
        return 1;
    }
    std::printf("%s\n", name.c_str());
    return 0;
}

} // namespace

std::vector<CliCommand> resolveCommands()
{
    return {
        {"resolve", "resolve [--all] NAME",
         "first IPv4 address of a host name, as the Resolve IP Address window (--all: every "
         "IPv6 and IPv4 address, one a line, in the resolver's order)",
         resolveName},
        {"reverse", "reverse ADDRESS",
         "host name of a dotted IPv4 address, as the Resolve Host Name window, or of an IPv6 "
         "address",
         reverseAddress},
    };
}
