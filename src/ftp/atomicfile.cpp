#include "atomicfile.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What open(..., 0666) would give: the umask is read from /proc, since umask() can only be read
// by setting it, which would race with other threads.
mode_t newFileMode()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    unsigned long mask = 022;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            mask = std::strtoul(line.c_str() + 6, nullptr, 8);
    return mode_t(0666 & ~mask);
}

std::string randomSuffix()
{
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    static const char chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string s;
    for (int i = 0; i < 8; ++i)
        s += chars[rng() % (sizeof chars - 1)];
    return s;
}

} // namespace

AtomicFile::AtomicFile(std::string target) : m_target(std::move(target))
{
    const auto slash = m_target.rfind('/');
    m_dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : m_target.substr(0, slash));
    const std::string base = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    m_fd = ::open(m_dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd >= 0)
        return;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        m_errno = errno;
        return;
    }
    for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
        m_temp = m_dir + "/." + base.substr(0, 200) + "." + randomSuffix() + ".part";
        m_fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newFileMode());
        if (m_fd < 0 && errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        m_errno = errno;
        m_temp.clear();
    }
}
AtomicFile::~AtomicFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_temp.empty())
        ::unlink(m_temp.c_str());
}
int AtomicFile::commit()
{
    if (m_temp.empty()) { // O_TMPFILE: give it a temporary name, then move it over the target
        const std::string proc = "/proc/self/fd/" + std::to_string(m_fd);
        for (int attempt = 0; attempt < 16; ++attempt) {
            std::string name = m_dir + "/.velmaric-get." + randomSuffix() + ".part";
            if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                m_temp = std::move(name);
                break;
            }
            if (errno != EEXIST)
                return errno;
        }
        if (m_temp.empty())
            return EEXIST;
    }
    if (::close(m_fd) != 0) {
        m_fd = -1;
        return errno;
    }
    m_fd = -1;
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0)
        return errno;
    m_temp.clear();
    return 0;
}
