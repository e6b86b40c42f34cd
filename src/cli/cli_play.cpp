#include "cli.h"

#include <cstdio>

namespace {

// The player needs Qt: `play` hands over to velmaric-play.
int play(const std::vector<std::string> &files)
{
    if (files.empty()) {
        std::fprintf(stderr, "Usage: velmaric-cli play FILE...\n");
        return 2;
    }
    return execCompanion("velmaric-play", files);
}

} // namespace

std::vector<CliCommand> playCommands()
{
    return {
        {"play", "play FILE...", "play MP3 files in order, one \"Now Playing: \" line each", play}};
}
