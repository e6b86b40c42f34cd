#include "trustedkeys.h"

#include "atomicfile.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string pathFromEnvironment()
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    const char *home = std::getenv("HOME");
    std::string dir = config && *config ? config : std::string(home ? home : "") + "/.config";
    return dir + "/velmaric/known_hosts";
}

// Read while the process starts, before any thread could be running.
std::string g_path = pathFromEnvironment();
std::mutex g_mutex; // one writer at a time within the process; guards g_path too

std::vector<std::string> readLines()
{
    std::vector<std::string> lines;
    std::ifstream in(g_path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

std::string trustedKeysPath()
{
    std::lock_guard lock(g_mutex);
    return g_path;
}

void setTrustedKeysPath(const std::string &path)
{
    std::lock_guard lock(g_mutex);
    g_path = path;
}

std::optional<PinnedKey> findPinnedKey(const std::string &hostPort)
{
    std::lock_guard lock(g_mutex);
    for (const std::string &line : readLines()) {
        std::istringstream fields(line);
        std::string host;
        PinnedKey key;
        if (fields >> host >> key.pin && host == hostPort && key.pin.rfind("sha256//", 0) == 0) {
            fields >> key.fingerprint;
            return key;
        }
    }
    return std::nullopt;
}

bool savePinnedKey(const std::string &hostPort, const PinnedKey &key)
{
    std::lock_guard lock(g_mutex);
    const std::string dir = g_path.substr(0, g_path.rfind('/'));
    ::mkdir(dir.substr(0, dir.rfind('/')).c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
    // Other processes trusting other servers at the same moment: each reads the file only
    // after the one before has replaced it, so no line is lost.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    const struct DirLock {
        int fd;
        ~DirLock() { ::close(fd); } // releases the lock
    } dirLock{dirFd};
    while (::flock(dirFd, LOCK_EX) < 0)
        if (errno != EINTR)
            return false;
    std::string text;
    for (const std::string &line : readLines()) {
        std::istringstream fields(line);
        std::string host;
        fields >> host;
        if (host != hostPort)
            text += line + "\n";
    }
    text += hostPort + " " + key.pin + (key.fingerprint.empty() ? "" : " " + key.fingerprint) +
            "\n";
    AtomicFile file(g_path);
    if (file.fd() < 0) {
        errno = file.error();
        return false;
    }
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t w = ::write(file.fd(), text.data() + done, text.size() - done);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            return false;
        done += std::size_t(w);
    }
    if (const int err = file.commit()) {
        errno = err;
        return false;
    }
    return true;
}
