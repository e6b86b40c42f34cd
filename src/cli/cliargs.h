#pragma once
#include "inetaddress.h"

#include <atomic>
#include <optional>
#include <string>
#include <vector>

// Option values of the command-line tools, read strictly: a malformed value is a usage error.

// A whole number from min to max.
std::optional<long> cliNumber(const std::string &text, long min, long max);
// Seconds as a decimal number, not negative, in whole microseconds.
std::optional<long> cliSeconds(const std::string &text);
// Prints "velmaric-cli: <message>" and the usage line to standard error; returns 2.
int cliUsageError(const std::string &message, const char *usage);

// The address a tool should use for a host: numeric text of the requested family, or the
// resolver's first address of it (family AF_UNSPEC for either). On failure prints why, sets
// exitStatus to 2 and leaves the result invalid.
InetAddress cliTarget(const std::string &host, int family, const char *usage, int &exitStatus);

// From cliCatchInterrupts on, SIGINT and SIGTERM set this flag: a long run stops and reports.
const std::atomic<bool> &cliInterrupted();
void cliCatchInterrupts();

// Prints a window's text with plain line ends (no carriage returns) at once.
void cliPrintWindowText(std::string text);

// The ping and trace commands beyond the windows: counting, IPv6 and report modes.
int countingPing(const std::vector<std::string> &args);
int extendedTrace(const std::vector<std::string> &args);
// The trace-route window's IPv4 trace.
int windowTrace(const std::string &host, bool resolveNames);
