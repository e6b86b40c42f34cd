#include "cli.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

static std::vector<CliCommand> allCommands()
{
    std::vector<CliCommand> all;
    for (auto group : {&icmpCommands, &resolveCommands, &tcpCommands, &scanCommands, &ftpCommands,
                       &playCommands})
        for (auto &c : group())
            all.push_back(std::move(c));
    return all;
}

static void printHelp(const std::vector<CliCommand> &commands, FILE *out)
{
    std::fprintf(out, "Usage: velmaric-cli COMMAND [ARGS]\n\nCommands:\n");
    int width = 0;
    for (const auto &c : commands)
        width = std::max(width, int(std::strlen(c.usage)));
    for (const auto &c : commands)
        std::fprintf(out, "  %-*s %s\n", width, c.usage, c.summary);
    std::fprintf(out, "\nExit status: 0 success, 1 reported failure, 2 usage error.\n");
}

int main(int argc, char **argv)
{
    const auto commands = allCommands();
    if (argc < 2) {
        printHelp(commands, stderr);
        return 2;
    }
    if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        printHelp(commands, stdout);
        return 0;
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("velmaric-cli %s\n", VELMARIC_VERSION);
        return 0;
    }
    for (const auto &c : commands) {
        if (c.name == std::string(argv[1])) {
            std::vector<std::string> args(argv + 2, argv + argc);
            for (const auto &a : args) {
                if (a == "--help") {
                    // A command may have several forms, each with its own line.
                    for (const auto &form : commands)
                        if (!std::strcmp(form.name, c.name))
                            std::printf("Usage: velmaric-cli %s\n  %s\n", form.usage, form.summary);
                    return 0;
                }
            }
            return c.run(args);
        }
    }
    std::fprintf(stderr, "velmaric-cli: unknown command '%s'\n", argv[1]);
    printHelp(commands, stderr);
    return 2;
}
