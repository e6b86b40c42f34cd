#pragma once
#include <functional>
#include <string>
#include <vector>

// One velmaric-cli command. Exit codes: 0 success, 1 a reported failure, 2 a usage error.
struct CliCommand {
    const char *name;
    const char *usage;   // e.g. "ping ADDRESS [TEXT]"
    const char *summary; // one line for --help
    std::function<int(const std::vector<std::string> &args)> run;
};

// Each subsystem contributes its commands through one function declared here.
std::vector<CliCommand> icmpCommands();
std::vector<CliCommand> tcpCommands();
std::vector<CliCommand> resolveCommands();
std::vector<CliCommand> playCommands();
std::vector<CliCommand> scanCommands();
std::vector<CliCommand> ftpCommands();

// Replaces this process with the named companion executable installed beside it, for commands
// whose libraries (Qt, libcurl) the others must not load. Returns 1 only when that fails.
int execCompanion(const char *name, const std::vector<std::string> &args);
