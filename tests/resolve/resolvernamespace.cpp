#include "resolvernamespace.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace ResolverNamespace {

namespace {

constexpr const char *InsideEnv = "VELMARIC_RESOLVER_NETNS";
constexpr const char *SkipEnv = "VELMARIC_RESOLVER_NETNS_SKIP";
constexpr const char *Prefix = "velmaric-resolve-";

volatile sig_atomic_t g_child = 0;

void forwardSignal(int sig)
{
    if (g_child > 0)
        kill(pid_t(g_child), sig);
}

std::string findTool(const char *name)
{
    for (const char *dir : {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}) {
        const std::string path = std::string(dir) + "/" + name;
        if (access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

// Runs a program and waits for it; its output goes where ours goes.
int runProgram(const std::vector<std::string> &args, bool quiet = false)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (quiet) {
            std::freopen("/dev/null", "w", stdout);
            std::freopen("/dev/null", "w", stderr);
        }
        std::vector<char *> argv;
        for (const auto &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string hostsFile()
{
    std::ostringstream out;
    out << "127.0.0.1\tlocalhost\n";
    for (const char *a : MultiAddresses)
        out << a << '\t' << MultiName << ' ' << MultiAlias << '\n';
    out << ReverseAddress << '\t' << ReverseName << '\n';
    out << LongAddress << '\t' << longName() << '\n';
    return out.str();
}

// The system's switch file with the hosts line reduced to the hosts file.
std::string nsswitchFile()
{
    std::ifstream in("/etc/nsswitch.conf");
    std::ostringstream out;
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("hosts:", 0) != 0)
            out << line << '\n';
    out << "hosts: files\n";
    return out.str();
}

bool writeFile(const fs::path &path, const std::string &text)
{
    std::ofstream out(path);
    out << text;
    return bool(out.flush());
}

// A namespace of ours left behind by a run that was killed outright.
void removeStale(const std::string &ip)
{
    for (const char *dir : {"/run/netns", "/etc/netns"}) {
        std::error_code ec;
        for (const auto &entry : fs::directory_iterator(dir, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(Prefix, 0) != 0)
                continue;
            const long pid = std::strtol(name.c_str() + std::strlen(Prefix), nullptr, 10);
            if (pid > 0 && (kill(pid_t(pid), 0) == 0 || errno != ESRCH))
                continue;
            runProgram({ip, "netns", "del", name}, true);
            fs::remove_all(fs::path("/etc/netns") / name, ec);
        }
    }
}

// Creates the namespace and its files; the destructor removes both.
class Namespace {
public:
    Namespace(std::string ip, std::string name)
        : m_ip(std::move(ip)), m_name(std::move(name)), m_dir(fs::path("/etc/netns") / m_name)
    {
        std::error_code ec;
        fs::create_directories(m_dir, ec);
        if (ec) {
            m_error = "cannot create " + m_dir.string() + ": " + ec.message();
            return;
        }
        m_madeDir = true;
        if (!writeFile(m_dir / "hosts", hostsFile())
            || !writeFile(m_dir / "nsswitch.conf", nsswitchFile())
            || !writeFile(m_dir / "host.conf", "multi on\n")
            || !writeFile(m_dir / "resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n")) {
            m_error = "cannot write the files in " + m_dir.string();
            return;
        }
        if (runProgram({m_ip, "netns", "add", m_name}) != 0) {
            m_error = "ip netns add " + m_name + " failed";
            return;
        }
        m_added = true;
        if (runProgram({m_ip, "-n", m_name, "link", "set", "lo", "up"}) != 0)
            m_error = "cannot bring up lo in " + m_name;
    }
    ~Namespace()
    {
        if (m_added)
            runProgram({m_ip, "netns", "del", m_name});
        std::error_code ec;
        if (m_madeDir)
            fs::remove_all(m_dir, ec);
    }
    Namespace(const Namespace &) = delete;
    Namespace &operator=(const Namespace &) = delete;

    const std::string &error() const { return m_error; }

private:
    std::string m_ip;
    std::string m_name;
    fs::path m_dir;
    std::string m_error;
    bool m_madeDir = false;
    bool m_added = false;
};

int runHere(int argc, char **argv, const std::function<int(int, char **)> &testMain,
            const char *reason)
{
    setenv(SkipEnv, reason, 1);
    return testMain(argc, argv);
}

} // namespace

const char *longName()
{
    static const std::string name = std::string(200, 'l') + ".velmaric.test";
    return name.c_str();
}

bool inside() { return std::getenv(InsideEnv) != nullptr; }

const char *skipReason()
{
    const char *reason = std::getenv(SkipEnv);
    return reason ? reason : "not running inside the resolver namespace";
}

int run(int argc, char **argv, const std::function<int(int, char **)> &testMain)
{
    if (inside())
        return testMain(argc, argv);
    if (geteuid() != 0)
        return runHere(argc, argv, testMain, "needs root to create a network namespace");
    const std::string ip = findTool("ip");
    if (ip.empty())
        return runHere(argc, argv, testMain, "the ip tool (iproute2) is missing");
    // nscd would answer from the host's resolver, outside the namespace's files.
    if (access("/run/nscd/socket", F_OK) == 0)
        return runHere(argc, argv, testMain, "nscd is running; host look-ups bypass the namespace");

    std::error_code ec;
    const std::string self = fs::read_symlink("/proc/self/exe", ec).string();
    if (ec) {
        std::fprintf(stderr, "cannot find this program's path: %s\n", ec.message().c_str());
        return 1;
    }

    removeStale(ip);
    const std::string name = Prefix + std::to_string(getpid());
    const Namespace ns(ip, name);
    if (!ns.error().empty()) {
        std::fprintf(stderr, "resolver namespace: %s\n", ns.error().c_str());
        return 1;
    }

    struct sigaction forward {};
    forward.sa_handler = forwardSignal;
    sigemptyset(&forward.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &forward, nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return 1;
    }
    if (pid == 0) {
        // The inner run must not outlive us when we are killed outright.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        setenv(InsideEnv, name.c_str(), 1);
        std::vector<std::string> args = {ip, "netns", "exec", name, self};
        args.insert(args.end(), argv + 1, argv + argc);
        std::vector<char *> cargs;
        for (auto &a : args)
            cargs.push_back(a.data());
        cargs.push_back(nullptr);
        execv(cargs[0], cargs.data());
        _exit(127);
    }
    g_child = pid;
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    g_child = 0;
    if (waited < 0) {
        std::perror("waitpid");
        return 1;
    }
    if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "the run inside %s ended by signal %d\n", name.c_str(),
                     WTERMSIG(status));
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}

} // namespace ResolverNamespace
