#pragma once
// Runs a whole process, as a user would start it, for the benchmarks that set ours beside a
// peer tool's.
#include <chrono>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

struct TimedRun {
    double ms = -1; // wall time, -1 on failure
    long maxRssKb = 0;
};

// Standard output is always discarded; standard error only when asked.
inline TimedRun timedRun(const std::vector<std::string> &argv, bool discardStderr)
{
    std::vector<char *> args;
    for (const auto &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (discardStderr)
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    TimedRun r;
    if (rc != 0)
        return r;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        r.ms = std::chrono::duration<double, std::milli>(end - start).count();
    r.maxRssKb = usage.ru_maxrss;
    return r;
}
