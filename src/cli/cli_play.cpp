#include "cli.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// The player needs Qt; the other commands must start without loading it, so `play` hands
// over to its companion, installed beside this executable.
std::string companionPath()
{
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "velmaric-play";
    const std::string path(self, size_t(n));
    return path.substr(0, path.rfind('/') + 1) + "velmaric-play";
}

int play(const std::vector<std::string> &files)
{
    if (files.empty()) {
        std::fprintf(stderr, "Usage: velmaric-cli play FILE...\n");
        return 2;
    }
    const std::string companion = companionPath();
    std::vector<char *> argv{const_cast<char *>(companion.c_str())};
    for (const auto &f : files)
        argv.push_back(const_cast<char *>(f.c_str()));
    argv.push_back(nullptr);
    std::fflush(stdout);
    ::execv(companion.c_str(), argv.data());
    std::fprintf(stderr, "velmaric-cli: cannot start %s: %s\n", companion.c_str(),
                 std::strerror(errno));
    return 1;
}

} // namespace

std::vector<CliCommand> playCommands()
{
    return {
        {"play", "play FILE...", "play MP3 files in order, one \"Now Playing: \" line each", play}};
}
