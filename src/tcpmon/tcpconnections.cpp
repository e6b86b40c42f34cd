#include "tcpconnections.h"

#include "iphlpapi.h"
#include "uniquefd.h"

#include <dirent.h>
#include <endian.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>

namespace iphlp {

TcpConnection tcpConnectionFromDiag(const inet_diag_msg &msg)
{
    TcpConnection c;
    const size_t bytes = msg.idiag_family == AF_INET6 ? 16 : 4;
    c.local.family = c.remote.family = msg.idiag_family;
    std::memcpy(c.local.bytes.data(), msg.id.idiag_src, bytes);
    std::memcpy(c.remote.bytes.data(), msg.id.idiag_dst, bytes);
    c.localPort = ntohs(msg.id.idiag_sport);
    c.remotePort = ntohs(msg.id.idiag_dport);
    c.state = tcpStateFromLinux(msg.idiag_state);
    c.inode = msg.idiag_inode;
    return c;
}

uint32_t readTcpConnections(int family, std::vector<TcpConnection> &rows)
{
    const size_t before = rows.size();
    const uint32_t e = dumpTcpSockets(uint8_t(family), [&](const inet_diag_msg &msg) {
        if (msg.idiag_family == family ||
            (family == AF_UNSPEC && (msg.idiag_family == AF_INET || msg.idiag_family == AF_INET6)))
            rows.push_back(tcpConnectionFromDiag(msg));
    });
    if (e != NO_ERROR)
        rows.resize(before); // half a dump is no table
    return e;
}

namespace {
// An address's bytes as two big-endian numbers: compared as integers, in byte order.
uint64_t half(const InetAddress &a, size_t offset)
{
    uint64_t v;
    std::memcpy(&v, a.bytes.data() + offset, sizeof v);
    return be64toh(v);
}
} // namespace

void sortTcpConnections(std::vector<TcpConnection> &rows)
{
    std::stable_sort(rows.begin(), rows.end(), [](const TcpConnection &a, const TcpConnection &b) {
        auto key = [](const TcpConnection &c) {
            return std::tuple(c.local.family, half(c.local, 0), half(c.local, 8), c.localPort,
                              half(c.remote, 0), half(c.remote, 8), c.remotePort);
        };
        return key(a) < key(b);
    });
}

uint32_t socketInode(std::string_view link)
{
    if (!link.starts_with("socket:[") || !link.ends_with("]"))
        return 0;
    const std::string_view digits = link.substr(8, link.size() - 9);
    uint32_t inode = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), inode);
    return ec == std::errc() && end == digits.data() + digits.size() ? inode : 0;
}

std::unordered_map<uint32_t, std::string> socketOwners()
{
    std::map<uint32_t, std::vector<std::pair<long, std::string>>> owners;
    std::unique_ptr<DIR, int (*)(DIR *)> proc(::opendir("/proc"), ::closedir);
    while (proc) {
        const dirent *entry = ::readdir(proc.get());
        if (!entry)
            break;
        long pid = 0;
        const std::string_view name = entry->d_name;
        if (std::from_chars(name.data(), name.data() + name.size(), pid).ptr !=
            name.data() + name.size())
            continue;
        const std::string base = "/proc/" + std::string(name);
        // Descriptors of processes this user may not inspect stay unreadable: skipped.
        std::unique_ptr<DIR, int (*)(DIR *)> fds(::opendir((base + "/fd").c_str()), ::closedir);
        if (!fds)
            continue;
        std::string command;
        {
            UniqueFd comm(::open((base + "/comm").c_str(), O_RDONLY | O_CLOEXEC));
            char text[64];
            const ssize_t n = comm ? ::read(comm.get(), text, sizeof text) : -1;
            command.assign(text, size_t(std::max<ssize_t>(n, 0)));
            if (!command.empty() && command.back() == '\n')
                command.pop_back();
        }
        const int dirFd = ::dirfd(fds.get());
        while (const dirent *fd = ::readdir(fds.get())) {
            if (fd->d_name[0] == '.')
                continue;
            char link[64];
            const ssize_t n = ::readlinkat(dirFd, fd->d_name, link, sizeof link);
            if (n <= 0)
                continue;
            if (const uint32_t inode = socketInode(std::string_view(link, size_t(n)))) {
                auto &list = owners[inode];
                if (list.empty() || list.back().first != pid)
                    list.emplace_back(pid, command);
            }
        }
    }
    std::unordered_map<uint32_t, std::string> texts;
    texts.reserve(owners.size());
    for (auto &[inode, list] : owners) {
        std::sort(list.begin(), list.end());
        std::string text;
        for (const auto &[pid, command] : list)
            text += (text.empty() ? "" : ",") + std::to_string(pid) + "/" + terminalSafe(command);
        texts.emplace(inode, std::move(text));
    }
    return texts;
}

} // namespace iphlp
