#include "iphlpapi.h"

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <iterator>
#include <tuple>

namespace iphlp {

namespace {

// The kernel prints a __be32 address as the host-order number of its bytes.
uint32_t addressFromKernelHex(uint32_t v)
{
    if constexpr (std::endian::native == std::endian::little)
        return v;
    else
        return __builtin_bswap32(v);
}

uint32_t portFieldFromHost(unsigned port) { return ((port >> 8) & 0xFFu) | ((port & 0xFFu) << 8); }

uint32_t hostOrderAddress(uint32_t a)
{
    return (a & 0xFFu) << 24 | (a & 0xFF00u) << 8 | (a >> 8 & 0xFF00u) | a >> 24;
}

uint32_t hostOrderPort(uint32_t field) { return (field & 0xFFu) << 8 | (field >> 8 & 0xFFu); }

void skipSpaces(std::string_view &s)
{
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    s.remove_prefix(i);
}

std::string_view nextToken(std::string_view &s)
{
    skipSpaces(s);
    size_t i = 0;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t')
        ++i;
    std::string_view token = s.substr(0, i);
    s.remove_prefix(i);
    return token;
}

bool parseHex(std::string_view text, size_t digits, uint32_t &value)
{
    if (text.size() != digits)
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return ec == std::errc() && end == text.data() + text.size();
}

// "0100007F:0277": address and host-order port.
bool parseEndpoint(std::string_view text, uint32_t &address, uint32_t &portField)
{
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return false;
    uint32_t hexAddress = 0;
    uint32_t port = 0;
    if (!parseHex(text.substr(0, colon), 8, hexAddress) ||
        !parseHex(text.substr(colon + 1), 4, port))
        return false;
    address = addressFromKernelHex(hexAddress);
    portField = portFieldFromHost(port);
    return true;
}

// A value of /proc/net/snmp: signed (MaxConn is -1) or an unsigned counter that may exceed
// 32 bits on 64-bit kernels; both keep their low 32 bits, as the 32-bit record would.
bool parseCounter(std::string_view text, uint32_t &value)
{
    if (text.empty())
        return false;
    const bool negative = text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    uint64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 10);
    if (ec != std::errc() || end != text.data() + text.size())
        return false;
    value = static_cast<uint32_t>(negative ? 0 - v : v);
    return true;
}

} // namespace

uint32_t tcpStateFromLinux(unsigned linuxState)
{
    // Index: TCP_ESTABLISHED (1) ... TCP_NEW_SYN_RECV (12), from include/net/tcp_states.h.
    static constexpr uint32_t map[] = {
        0,                        // 0: unused
        MIB_TCP_STATE_ESTAB,      // TCP_ESTABLISHED
        MIB_TCP_STATE_SYN_SENT,   // TCP_SYN_SENT
        MIB_TCP_STATE_SYN_RCVD,   // TCP_SYN_RECV
        MIB_TCP_STATE_FIN_WAIT1,  // TCP_FIN_WAIT1
        MIB_TCP_STATE_FIN_WAIT2,  // TCP_FIN_WAIT2
        MIB_TCP_STATE_TIME_WAIT,  // TCP_TIME_WAIT
        MIB_TCP_STATE_CLOSED,     // TCP_CLOSE
        MIB_TCP_STATE_CLOSE_WAIT, // TCP_CLOSE_WAIT
        MIB_TCP_STATE_LAST_ACK,   // TCP_LAST_ACK
        MIB_TCP_STATE_LISTEN,     // TCP_LISTEN
        MIB_TCP_STATE_CLOSING,    // TCP_CLOSING
        MIB_TCP_STATE_SYN_RCVD,   // TCP_NEW_SYN_RECV: a pending request socket
    };
    return linuxState < std::size(map) ? map[linuxState] : 0;
}

bool tcpRowLess(const MIB_TCPROW &a, const MIB_TCPROW &b)
{
    auto key = [](const MIB_TCPROW &r) {
        return std::tuple(hostOrderAddress(r.dwLocalAddr), hostOrderPort(r.dwLocalPort),
                          hostOrderAddress(r.dwRemoteAddr), hostOrderPort(r.dwRemotePort));
    };
    return key(a) < key(b);
}

void sortTcpRows(std::vector<MIB_TCPROW> &rows)
{
    std::stable_sort(rows.begin(), rows.end(), tcpRowLess);
}

bool parseSnmpTcp(std::string_view text, MIB_TCPSTATS &stats)
{
    // The first "Tcp:" line names the fields, the second carries their values.
    std::string_view header;
    std::string_view values;
    bool haveHeader = false;
    bool haveValues = false;
    while (!text.empty() && !haveValues) {
        const size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (line.substr(0, 4) != "Tcp:")
            continue;
        line.remove_prefix(4);
        if (!haveHeader) {
            header = line;
            haveHeader = true;
        } else {
            values = line;
            haveValues = true;
        }
    }
    if (!haveValues)
        return false;

    struct Field {
        std::string_view name;
        uint32_t MIB_TCPSTATS::*member;
        bool seen;
    } fields[] = {
        {"RtoAlgorithm", &MIB_TCPSTATS::dwRtoAlgorithm, false},
        {"RtoMin", &MIB_TCPSTATS::dwRtoMin, false},
        {"RtoMax", &MIB_TCPSTATS::dwRtoMax, false},
        {"MaxConn", &MIB_TCPSTATS::dwMaxConn, false},
        {"ActiveOpens", &MIB_TCPSTATS::dwActiveOpens, false},
        {"PassiveOpens", &MIB_TCPSTATS::dwPassiveOpens, false},
        {"AttemptFails", &MIB_TCPSTATS::dwAttemptFails, false},
        {"EstabResets", &MIB_TCPSTATS::dwEstabResets, false},
        {"CurrEstab", &MIB_TCPSTATS::dwCurrEstab, false},
        {"InSegs", &MIB_TCPSTATS::dwInSegs, false},
        {"OutSegs", &MIB_TCPSTATS::dwOutSegs, false},
        {"RetransSegs", &MIB_TCPSTATS::dwRetransSegs, false},
        {"InErrs", &MIB_TCPSTATS::dwInErrs, false},
        {"OutRsts", &MIB_TCPSTATS::dwOutRsts, false},
    };

    MIB_TCPSTATS parsed = stats;
    for (;;) {
        const std::string_view name = nextToken(header);
        const std::string_view value = nextToken(values);
        if (name.empty() != value.empty())
            return false; // header and values differ in length
        if (name.empty())
            break;
        uint32_t number = 0;
        if (!parseCounter(value, number))
            return false;
        for (auto &f : fields) {
            if (f.name == name) {
                parsed.*f.member = number;
                f.seen = true;
            }
        }
    }
    if (!std::all_of(std::begin(fields), std::end(fields), [](const Field &f) { return f.seen; }))
        return false;
    stats = parsed;
    return true;
}

bool parseProcTcpLine(std::string_view line, MIB_TCPROW &row)
{
    const std::string_view slot = nextToken(line);
    if (slot.size() < 2 || slot.back() != ':')
        return false;
    unsigned slotNumber = 0;
    auto [end, ec] = std::from_chars(slot.data(), slot.data() + slot.size() - 1, slotNumber);
    if (ec != std::errc() || end != slot.data() + slot.size() - 1)
        return false;

    MIB_TCPROW r;
    uint32_t state = 0;
    if (!parseEndpoint(nextToken(line), r.dwLocalAddr, r.dwLocalPort) ||
        !parseEndpoint(nextToken(line), r.dwRemoteAddr, r.dwRemotePort) ||
        !parseHex(nextToken(line), 2, state))
        return false;
    r.dwState = tcpStateFromLinux(state);
    row = r;
    return true;
}

bool parseProcTcp(std::string_view text, std::vector<MIB_TCPROW> &rows)
{
    bool first = true;
    while (!text.empty()) {
        const size_t eol = text.find('\n');
        const std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (first) {
            first = false;
            std::string_view rest = line;
            if (nextToken(rest) == "sl")
                continue;
        }
        std::string_view rest = line;
        skipSpaces(rest);
        if (rest.empty())
            continue;
        MIB_TCPROW row;
        if (!parseProcTcpLine(line, row))
            return false;
        rows.push_back(row);
    }
    return true;
}

namespace {
// A dump's error number arrives negated. Numbers beyond any errno (INT_MIN among them, which
// has no negation) mean the message is damaged.
DumpStep failure(int value, int *error)
{
    const int64_t number = value < 0 ? -int64_t(value) : int64_t(value);
    if (number > 4095)
        return DumpStep::Malformed;
    if (error)
        *error = int(number);
    return DumpStep::Error;
}
} // namespace

DumpStep walkInetDiagDump(const uint8_t *data, size_t length,
                          const std::function<void(const inet_diag_msg &)> &take, int *error)
{
    size_t offset = 0;
    while (offset < length) {
        nlmsghdr header;
        if (length - offset < sizeof header)
            return DumpStep::Malformed;
        std::memcpy(&header, data + offset, sizeof header);
        if (header.nlmsg_len < NLMSG_HDRLEN || header.nlmsg_len > length - offset)
            return DumpStep::Malformed;
        const uint8_t *payload = data + offset + NLMSG_HDRLEN;
        const size_t payloadLength = header.nlmsg_len - NLMSG_HDRLEN;

        switch (header.nlmsg_type) {
        case NLMSG_DONE: {
            // Newer kernels put the dump's result after the header; negative means it failed.
            int result = 0;
            if (payloadLength >= sizeof result)
                std::memcpy(&result, payload, sizeof result);
            if (result < 0)
                return failure(result, error);
            return DumpStep::Done;
        }
        case NLMSG_ERROR: {
            nlmsgerr err;
            if (payloadLength < sizeof err.error)
                return DumpStep::Malformed;
            std::memcpy(&err.error, payload, sizeof err.error);
            if (err.error != 0)
                return failure(err.error, error);
            break; // an acknowledgement
        }
        case SOCK_DIAG_BY_FAMILY:
        case TCPDIAG_GETSOCK: { // the answer to a request for both families
            inet_diag_msg msg;
            if (payloadLength < sizeof msg)
                return DumpStep::Malformed;
            std::memcpy(&msg, payload, sizeof msg);
            take(msg);
            break;
        }
        default: break; // NLMSG_NOOP and anything else carries no row
        }
        offset += NLMSG_ALIGN(header.nlmsg_len);
    }
    return DumpStep::More;
}

bool tcpRowFromDiag(const inet_diag_msg &msg, MIB_TCPROW &row)
{
    if (msg.idiag_family != AF_INET)
        return false;
    // Ports and addresses arrive in network byte order, as the row wants them.
    uint8_t src[4];
    uint8_t dst[4];
    std::memcpy(src, &msg.id.idiag_src[0], 4);
    std::memcpy(dst, &msg.id.idiag_dst[0], 4);
    uint8_t sport[2];
    uint8_t dport[2];
    std::memcpy(sport, &msg.id.idiag_sport, 2);
    std::memcpy(dport, &msg.id.idiag_dport, 2);
    row.dwState = tcpStateFromLinux(msg.idiag_state);
    row.dwLocalAddr = src[0] | src[1] << 8 | src[2] << 16 | uint32_t(src[3]) << 24;
    row.dwLocalPort = sport[0] | sport[1] << 8;
    row.dwRemoteAddr = dst[0] | dst[1] << 8 | dst[2] << 16 | uint32_t(dst[3]) << 24;
    row.dwRemotePort = dport[0] | dport[1] << 8;
    return true;
}

DumpStep parseInetDiagDump(const uint8_t *data, size_t length, std::vector<MIB_TCPROW> &rows,
                           int *error)
{
    return walkInetDiagDump(
        data, length,
        [&rows](const inet_diag_msg &msg) {
            MIB_TCPROW row;
            if (tcpRowFromDiag(msg, row))
                rows.push_back(row);
        },
        error);
}

} // namespace iphlp
