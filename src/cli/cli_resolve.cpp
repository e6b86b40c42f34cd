#include "cli.h"

#include "hostlookup.h"
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

int resolveName(const std::vector<std::string> &args)
{
    if (args.size() != 1)
        return usage("resolve NAME");
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
        {"resolve", "resolve NAME",
         "first IPv4 address of a host name, as the Resolve IP Address window", resolveName},
        {"reverse", "reverse ADDRESS",
         "host name of a dotted IPv4 address, as the Resolve Host Name window", reverseAddress},
    };
}
