#include "cli.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <unistd.h>

// "ftp" is handed over to velmaric-ftp beside this executable, so that libcurl and its
// libraries load only for FTP and every other command starts as quickly as before.
namespace {

int handOver(const std::vector<std::string> &args)
{
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        std::fprintf(stderr, "velmaric-cli: can't find its own location: %s\n",
                     std::strerror(errno));
        return 1;
    }
    std::string companion(self, size_t(n));
    companion = companion.substr(0, companion.rfind('/') + 1) + "velmaric-ftp";
    std::vector<char *> argv{companion.data()};
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(companion.c_str(), argv.data());
    std::fprintf(stderr, "velmaric-cli: can't run %s: %s\n", companion.c_str(),
                 std::strerror(errno));
    return 1;
}

} // namespace

std::vector<CliCommand> ftpCommands()
{
    return {{"ftp", "ftp ls|get|put ARGS",
             "FTP: ls URL, get URL LOCAL, put LOCAL URL [--ascii] [--active] [--proxy TEXT];"
             " URL ftp://[user[:password]@]host[:port]/path",
             handOver}};
}
