#include "iphlpapi.h"

#include "uniquefd.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace iphlp {

namespace {

uint32_t errnoResult(int e) { return e > 0 ? static_cast<uint32_t>(e) : ERROR_INVALID_DATA; }

// Reads a whole /proc file; 0 or an errno.
int readWholeFile(const char *path, std::string &text)
{
    UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (!fd.valid())
        return errno;
    text.clear();
    constexpr size_t chunk = 256 * 1024;
    for (;;) {
        const size_t used = text.size();
        text.resize(used + chunk);
        const ssize_t n = ::read(fd.get(), text.data() + used, chunk);
        if (n < 0) {
            text.resize(used);
            if (errno == EINTR)
                continue;
            return errno;
        }
        text.resize(used + static_cast<size_t>(n));
        if (n == 0)
            return 0;
    }
}

void storeLE32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

uint32_t loadLE32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

} // namespace

uint32_t dumpTcpSockets(uint8_t family, const std::function<void(const inet_diag_msg &)> &take)
{
    UniqueFd fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!fd.valid())
        return errnoResult(errno);

    // A dump of every state, listeners and time-wait included.
    auto request = [&fd](auto message, uint16_t type) {
        message.header.nlmsg_len = sizeof message;
        message.header.nlmsg_type = type;
        message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        message.header.nlmsg_seq = 1;
        message.request.idiag_states = ~0u;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        return ::sendto(fd.get(), &message, sizeof message, 0,
                        reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) >= 0;
    };
    bool sent;
    if (family == AF_UNSPEC) {
        // The older request walks the kernel's table once for both families, where a request
        // per family walks all of it for each.
        struct {
            nlmsghdr header;
            inet_diag_req request;
        } message{};
        sent = request(message, TCPDIAG_GETSOCK);
    } else {
        struct {
            nlmsghdr header;
            inet_diag_req_v2 request;
        } message{};
        message.request.sdiag_family = family;
        message.request.sdiag_protocol = IPPROTO_TCP;
        sent = request(message, SOCK_DIAG_BY_FAMILY);
    }
    if (!sent)
        return errnoResult(errno);

    // The kernel fills at most 32 KiB per datagram of a dump; twice that leaves room.
    constexpr size_t bufferSize = 64 * 1024;
    auto buffer = std::make_unique<uint8_t[]>(bufferSize);
    for (;;) {
        iovec iov{buffer.get(), bufferSize};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        const ssize_t n = ::recvmsg(fd.get(), &msg, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errnoResult(errno);
        }
        if (n == 0 || (msg.msg_flags & MSG_TRUNC))
            return ERROR_INVALID_DATA;
        int error = 0;
        switch (walkInetDiagDump(buffer.get(), static_cast<size_t>(n), take, &error)) {
        case DumpStep::More: break;
        case DumpStep::Done: return NO_ERROR;
        case DumpStep::Error: return errnoResult(error);
        case DumpStep::Malformed: return ERROR_INVALID_DATA;
        }
    }
}

uint32_t readTcpRowsNetlink(std::vector<MIB_TCPROW> &rows)
{
    // Rows only count once the whole dump arrived.
    std::vector<MIB_TCPROW> received;
    const uint32_t e = dumpTcpSockets(AF_INET, [&received](const inet_diag_msg &msg) {
        MIB_TCPROW row;
        if (tcpRowFromDiag(msg, row))
            received.push_back(row);
    });
    if (e == NO_ERROR)
        rows.insert(rows.end(), received.begin(), received.end());
    return e;
}

uint32_t readTcpRowsProc(std::vector<MIB_TCPROW> &rows)
{
    std::string text;
    if (const int e = readWholeFile("/proc/net/tcp", text))
        return errnoResult(e);
    std::vector<MIB_TCPROW> parsed;
    if (!parseProcTcp(text, parsed))
        return ERROR_INVALID_DATA;
    rows.insert(rows.end(), parsed.begin(), parsed.end());
    return NO_ERROR;
}

uint32_t readTcpRows(std::vector<MIB_TCPROW> &rows)
{
    if (readTcpRowsNetlink(rows) == NO_ERROR)
        return NO_ERROR;
    return readTcpRowsProc(rows);
}

size_t tcpTableSize(size_t rowCount) { return TcpTableHeader + rowCount * TcpRowBytes; }

void writeTcpTable(const std::vector<MIB_TCPROW> &rows, uint8_t *buffer)
{
    storeLE32(buffer, static_cast<uint32_t>(rows.size()));
    uint8_t *p = buffer + TcpTableHeader;
    for (const MIB_TCPROW &r : rows) {
        storeLE32(p, r.dwState);
        storeLE32(p + 4, r.dwLocalAddr);
        storeLE32(p + 8, r.dwLocalPort);
        storeLE32(p + 12, r.dwRemoteAddr);
        storeLE32(p + 16, r.dwRemotePort);
        p += TcpRowBytes;
    }
}

bool readTcpTableBlock(const uint8_t *buffer, size_t size, std::vector<MIB_TCPROW> &rows)
{
    if (!buffer || size < TcpTableHeader)
        return false;
    const uint32_t count = loadLE32(buffer);
    if (count > (size - TcpTableHeader) / TcpRowBytes)
        return false;
    rows.reserve(rows.size() + count);
    const uint8_t *p = buffer + TcpTableHeader;
    for (uint32_t i = 0; i < count; ++i, p += TcpRowBytes)
        rows.push_back(
            {loadLE32(p), loadLE32(p + 4), loadLE32(p + 8), loadLE32(p + 12), loadLE32(p + 16)});
    return true;
}

uint32_t GetTcpTable(void *buffer, uint32_t *size, bool sorted)
{
    if (!size)
        return ERROR_INVALID_PARAMETER;
    std::vector<MIB_TCPROW> rows;
    if (const uint32_t e = readTcpRows(rows))
        return e;
    if (rows.size() > (std::numeric_limits<uint32_t>::max() - TcpTableHeader) / TcpRowBytes)
        return ERROR_NOT_SUPPORTED;
    const auto needed = static_cast<uint32_t>(tcpTableSize(rows.size()));
    if (!buffer || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (sorted)
        sortTcpRows(rows);
    writeTcpTable(rows, static_cast<uint8_t *>(buffer));
    return NO_ERROR;
}

uint32_t GetTcpStatistics(MIB_TCPSTATS *stats)
{
    if (!stats)
        return ERROR_INVALID_PARAMETER;
    std::string text;
    if (const int e = readWholeFile("/proc/net/snmp", text))
        return errnoResult(e);
    MIB_TCPSTATS parsed;
    if (!parseSnmpTcp(text, parsed))
        return ERROR_INVALID_DATA;
    std::vector<MIB_TCPROW> rows;
    if (const uint32_t e = readTcpRows(rows))
        return e;
    parsed.dwNumConns = static_cast<uint32_t>(rows.size());
    *stats = parsed;
    return NO_ERROR;
}

} // namespace iphlp
