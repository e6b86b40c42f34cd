#include "cli.h"

std::vector<CliCommand> tcpCommands() { return {}; }
