// Full-range TCP connect scan of loopback: velmaric-cli scan 127.0.0.1 1 65535 against
// nmap -sT -p- -n 127.0.0.1, median wall time of whole processes, and the open ports each
// found. As root the scans run in a network namespace of their own, so only the listeners
// made here are open; otherwise on this machine's loopback, where its own listeners show too.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sched.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

const int Listeners[] = {22, 80, 443, 8080, 31337, 50000, 65535};

struct Run {
    double ms = -1;
    std::set<int> open;
};

// Runs a command, collecting its output; the open ports are read with the given parser.
Run timedRun(const std::string &command, bool nmapOutput)
{
    Run r;
    const auto start = std::chrono::steady_clock::now();
    FILE *out = ::popen(command.c_str(), "r");
    if (!out)
        return r;
    char line[512];
    while (std::fgets(line, sizeof line, out)) {
        int port = 0;
        char state[32] = {};
        if (nmapOutput
                ? std::sscanf(line, "%d/tcp %31s", &port, state) == 2 && !std::strcmp(state, "open")
                : std::sscanf(line, "%d\t", &port) == 1 && std::strchr(line, '\t'))
            r.open.insert(port);
    }
    const int status = ::pclose(out);
    const auto end = std::chrono::steady_clock::now();
    if (status == 0)
        r.ms = std::chrono::duration<double, std::milli>(end - start).count();
    return r;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string text(const std::set<int> &ports)
{
    std::string s;
    for (int p : ports)
        s += (s.empty() ? "" : ",") + std::to_string(p);
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 5;
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
    if (std::system("command -v nmap >/dev/null 2>&1") != 0) {
        std::fprintf(stderr, "bench_scan: nmap is not installed\n");
        return 1;
    }
    const bool isolated = geteuid() == 0 && ::unshare(CLONE_NEWNET) == 0 &&
                          std::system("ip link set lo up") == 0;
    std::printf("loopback: %s\n", isolated ? "a private network namespace"
                                           : "this machine's (other listeners show too)");

    std::vector<int> sockets;
    std::set<int> listening;
    for (int port : Listeners) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && ::listen(fd, 128) == 0)
            listening.insert(port);
        sockets.push_back(fd);
    }
    std::printf("listeners: %s\n\n", text(listening).c_str());

    const std::string ours = std::string(VELMARIC_CLI) + " scan 127.0.0.1 1 65535";
    const std::string peer = "nmap -sT -p- -n 127.0.0.1";
    std::vector<double> a, b;
    std::set<int> oursOpen, peerOpen;
    for (int i = 0; i < runs; ++i) {
        // Alternating, so both see the same conditions.
        const Run x = timedRun(ours, false), y = timedRun(peer, true);
        if (x.ms < 0 || y.ms < 0) {
            std::fprintf(stderr, "bench_scan: %s failed\n", x.ms < 0 ? ours.c_str() : peer.c_str());
            return 1;
        }
        a.push_back(x.ms);
        b.push_back(y.ms);
        oursOpen = x.open;
        peerOpen = y.open;
    }
    const double ratio = median(a) / median(b);
    const std::string heading = "median wall time of " + std::to_string(runs) + " runs (ms)";
    std::printf("%-48s %12s %12s %8s\n", heading.c_str(), "velmaric-cli", "nmap", "ratio");
    std::printf("%-48s %12.0f %12.0f %8.2f   <= 1.0 %s\n", "ports 1-65535 on 127.0.0.1", median(a),
                median(b), ratio, ratio <= 1.0 ? "met" : "MISSED");
    std::printf("open ports: velmaric-cli %s; nmap %s: %s\n", text(oursOpen).c_str(),
                text(peerOpen).c_str(), oursOpen == peerOpen ? "same" : "DIFFERENT");
    for (int fd : sockets)
        ::close(fd);
    return oursOpen == peerOpen && ratio <= 1.0 ? 0 : 1;
}
