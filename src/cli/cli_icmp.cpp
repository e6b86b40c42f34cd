#include "cli.h"

std::vector<CliCommand> icmpCommands() { return {}; }
