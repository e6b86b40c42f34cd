// Times reading the IPv4 TCP table with N open loopback connections: velmaric-cli tcptable
// against ss -tan4 (and cat /proc/net/tcp for reference), each writing to /dev/null.
//
//   bench_tcptable_read [--runs R] [N ...]      (default: 10000 50000, 11 runs)
//
// As root every N gets a network namespace of its own, so only the benchmark's connections
// (and nothing of other programs) are in the table. A process may hold at most 20,000
// descriptors here, so the connections are spread over workers of 9,000 each, every worker
// with its own listener.
#include "uniquefd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int PerWorker = 9000;

bool privateNetwork()
{
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0)
        return false;
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (::ioctl(fd.get(), SIOCGIFFLAGS, &ifr) != 0)
        return false;
    ifr.ifr_flags = short(ifr.ifr_flags | IFF_UP);
    return ::ioctl(fd.get(), SIOCSIFFLAGS, &ifr) == 0;
}

// Worker body: a listener and `count` connected pairs, held until the parent closes `hold`.
[[noreturn]] void worker(int count, int ready, int hold)
{
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) == 0) {
        lim.rlim_cur = lim.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &lim);
    }
    std::vector<UniqueFd> fds;
    fds.reserve(size_t(2 * count + 1));
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listener.get(), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        ::listen(listener.get(), 4096) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr *>(&a), &len) != 0)
        ::_exit(1);
    for (int i = 0; i < count; ++i) {
        UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (client.get() < 0 ||
            ::connect(client.get(), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            ::_exit(2);
        UniqueFd server(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (server.get() < 0)
            ::_exit(3);
        fds.push_back(std::move(client));
        fds.push_back(std::move(server));
    }
    const char ok = 1;
    if (::write(ready, &ok, 1) != 1)
        ::_exit(4);
    char c;
    while (::read(hold, &c, 1) > 0) {}
    ::_exit(0);
}

struct Workers {
    std::vector<pid_t> pids;
    int hold = -1;

    ~Workers()
    {
        if (hold >= 0)
            ::close(hold); // workers see end-of-file and exit
        for (pid_t p : pids)
            ::waitpid(p, nullptr, 0);
    }
};

bool openConnections(int n, Workers &workers)
{
    int readyPipe[2];
    int holdPipe[2];
    if (::pipe2(readyPipe, O_CLOEXEC) != 0 || ::pipe2(holdPipe, O_CLOEXEC) != 0)
        return false;
    workers.hold = holdPipe[1];
    int started = 0;
    for (int left = n; left > 0; left -= PerWorker) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(readyPipe[0]);
            ::close(holdPipe[1]);
            worker(std::min(left, PerWorker), readyPipe[1], holdPipe[0]);
        }
        if (pid < 0)
            break;
        workers.pids.push_back(pid);
        ++started;
    }
    ::close(readyPipe[1]);
    ::close(holdPipe[0]);
    int ready = 0;
    char c;
    while (ready < started && ::read(readyPipe[0], &c, 1) == 1)
        ++ready;
    ::close(readyPipe[0]);
    return ready == started && started > 0;
}

// Wall time of one run of the command, its output going to /dev/null; negative on failure.
double timeCommand(const std::vector<std::string> &argv)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long countLines(const std::vector<std::string> &argv)
{
    std::string cmd;
    for (const auto &a : argv)
        cmd += a + ' ';
    cmd += "| wc -l";
    FILE *p = ::popen(cmd.c_str(), "r");
    long lines = -1;
    if (p) {
        if (std::fscanf(p, "%ld", &lines) != 1)
            lines = -1;
        ::pclose(p);
    }
    return lines;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 11;
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::atoi(argv[i]) > 0)
            counts.push_back(std::atoi(argv[i]));
        else {
            std::fprintf(stderr, "usage: %s [--runs R] [N ...]\n", argv[0]);
            return 2;
        }
    }
    if (counts.empty())
        counts = {10000, 50000};

    const std::vector<std::string> ours{VELMARIC_CLI, "tcptable"};
    const std::vector<std::string> ss{"ss", "-tan4"};
    const std::vector<std::string> proc{"cat", "/proc/net/tcp"};

    std::printf("%-8s %-8s %10s %10s %10s %10s %12s\n", "N", "rows", "ours ms", "ss ms", "proc ms",
                "ours/ss", "median ratio");
    for (int n : counts) {
        const bool isolated = privateNetwork();
        Workers workers;
        if (!openConnections(n, workers)) {
            std::fprintf(stderr, "could not open %d connections\n", n);
            return 1;
        }
        std::vector<double> a;
        std::vector<double> b;
        std::vector<double> c;
        std::vector<double> ratios;
        for (int r = 0; r < runs; ++r) {
            // Alternate who goes first so caches favour neither.
            if (r % 2) {
                a.push_back(timeCommand(ours));
                b.push_back(timeCommand(ss));
            } else {
                b.push_back(timeCommand(ss));
                a.push_back(timeCommand(ours));
            }
            c.push_back(timeCommand(proc));
            if (a.back() < 0 || b.back() < 0) {
                std::fprintf(stderr, "a command failed\n");
                return 1;
            }
            ratios.push_back(a.back() / b.back());
        }
        std::printf("%-8d %-8ld %10.1f %10.1f %10.1f %10.2f %12.2f%s\n", n, countLines(ours),
                    median(a) * 1e3, median(b) * 1e3, median(c) * 1e3, median(a) / median(b),
                    median(ratios), isolated ? "" : "  (shared namespace)");
        std::fflush(stdout);
    }
    return 0;
}
