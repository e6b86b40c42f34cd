#include "cli.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <unistd.h>

int execCompanion(const char *name, const std::vector<std::string> &args)
{
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        std::fprintf(stderr, "velmaric-cli: can't find its own location: %s\n",
                     std::strerror(errno));
        return 1;
    }
    const std::string here(self, size_t(n));
    const std::string companion = here.substr(0, here.rfind('/') + 1) + name;
    std::vector<char *> argv{const_cast<char *>(companion.c_str())};
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::fflush(stdout);
    ::execv(companion.c_str(), argv.data());
    std::fprintf(stderr, "velmaric-cli: can't run %s: %s\n", companion.c_str(),
                 std::strerror(errno));
    return 1;
}
