#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

// The TCP part of the IP Helper service on Linux: counters from /proc/net/snmp and the IPv4
// connection table from NETLINK_SOCK_DIAG (or /proc/net/tcp where netlink is unavailable).
// Addresses are 32-bit values in network byte order (first octet in the lowest byte); port
// fields hold the port in network byte order in their low 16 bits.
struct inet_diag_msg;

namespace iphlp {

constexpr uint32_t NO_ERROR = 0;
constexpr uint32_t ERROR_NOT_SUPPORTED = 50;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr uint32_t ERROR_INVALID_DATA = 13;

struct MIB_TCPSTATS {
    uint32_t dwRtoAlgorithm = 0;
    uint32_t dwRtoMin = 0;
    uint32_t dwRtoMax = 0;
    uint32_t dwMaxConn = 0;
    uint32_t dwActiveOpens = 0;
    uint32_t dwPassiveOpens = 0;
    uint32_t dwAttemptFails = 0;
    uint32_t dwEstabResets = 0;
    uint32_t dwCurrEstab = 0;
    uint32_t dwInSegs = 0;
    uint32_t dwOutSegs = 0;
    uint32_t dwRetransSegs = 0;
    uint32_t dwInErrs = 0;
    uint32_t dwOutRsts = 0;
    uint32_t dwNumConns = 0;
};

// Table state codes.
enum TcpState : uint32_t {
    MIB_TCP_STATE_CLOSED = 1,
    MIB_TCP_STATE_LISTEN = 2,
    MIB_TCP_STATE_SYN_SENT = 3,
    MIB_TCP_STATE_SYN_RCVD = 4,
    MIB_TCP_STATE_ESTAB = 5,
    MIB_TCP_STATE_FIN_WAIT1 = 6,
    MIB_TCP_STATE_FIN_WAIT2 = 7,
    MIB_TCP_STATE_CLOSE_WAIT = 8,
    MIB_TCP_STATE_CLOSING = 9,
    MIB_TCP_STATE_LAST_ACK = 10,
    MIB_TCP_STATE_TIME_WAIT = 11,
    MIB_TCP_STATE_DELETE_TCB = 12,
};

struct MIB_TCPROW {
    uint32_t dwState = 0;
    uint32_t dwLocalAddr = 0;
    uint32_t dwLocalPort = 0;
    uint32_t dwRemoteAddr = 0;
    uint32_t dwRemotePort = 0;
    bool operator==(const MIB_TCPROW &) const = default;
};

constexpr size_t TcpRowBytes = 20;   // five little-endian 32-bit fields
constexpr size_t TcpTableHeader = 4; // dwNumEntries

// Fills all fifteen counters. 0 on success; non-zero when a source can't be read or parsed.
uint32_t GetTcpStatistics(MIB_TCPSTATS *stats);

// Without a buffer (or with one smaller than needed) sets *size to the bytes needed and returns
// ERROR_INSUFFICIENT_BUFFER; otherwise writes the count and the rows and returns 0.
uint32_t GetTcpTable(void *buffer, uint32_t *size, bool sorted);

// --- Building blocks, public so the CLI and the tests can use them directly -------------

// Reads the current IPv4 table: netlink first, /proc/net/tcp when netlink is unavailable.
// Returns 0 or an error number; rows are in the kernel's order.
uint32_t readTcpRows(std::vector<MIB_TCPROW> &rows);
uint32_t readTcpRowsNetlink(std::vector<MIB_TCPROW> &rows);
// One whole NETLINK_SOCK_DIAG dump of the TCP sockets of a family (AF_UNSPEC: both), every
// state; take sees each socket's record. 0 or an error number (the records seen before a failure
// are incomplete).
uint32_t dumpTcpSockets(uint8_t family, const std::function<void(const inet_diag_msg &)> &take);
uint32_t readTcpRowsProc(std::vector<MIB_TCPROW> &rows);

// Linux TCP state number (TCP_ESTABLISHED = 1 ...) to the table's code; 0 when unknown.
uint32_t tcpStateFromLinux(unsigned linuxState);

// Ascending by local address, local port, remote address, remote port, each as a host-order
// number.
bool tcpRowLess(const MIB_TCPROW &a, const MIB_TCPROW &b);
void sortTcpRows(std::vector<MIB_TCPROW> &rows);

// Writes the byte block (count + rows) into buffer, which holds tcpTableSize(rows.size()) bytes.
size_t tcpTableSize(size_t rowCount);
void writeTcpTable(const std::vector<MIB_TCPROW> &rows, uint8_t *buffer);
// Reads a byte block back; false when it is shorter than its count says.
bool readTcpTableBlock(const uint8_t *buffer, size_t size, std::vector<MIB_TCPROW> &rows);

// Pure parsers.

// The "Tcp:" header and value lines of /proc/net/snmp, matched by field name. Fills every field
// but dwNumConns. False when the lines are missing, a field is missing or a value is garbage.
bool parseSnmpTcp(std::string_view text, MIB_TCPSTATS &stats);

// One data line of /proc/net/tcp ("  0: 0100007F:0277 00000000:0000 0A ..."). False for the
// header line and for anything malformed.
bool parseProcTcpLine(std::string_view line, MIB_TCPROW &row);
// Every data line of a /proc/net/tcp text; false when any non-header line is malformed.
bool parseProcTcp(std::string_view text, std::vector<MIB_TCPROW> &rows);

// Outcome of one received block of netlink messages of a sock_diag dump.
enum class DumpStep { More, Done, Error, Malformed };
// Walks the messages in one datagram of a sock_diag dump, handing each socket's record to take.
DumpStep walkInetDiagDump(const uint8_t *data, size_t length,
                          const std::function<void(const inet_diag_msg &)> &take,
                          int *error = nullptr);
// The row of an IPv4 socket's record; false for other families.
bool tcpRowFromDiag(const inet_diag_msg &msg, MIB_TCPROW &row);
// Parses the messages in one datagram, appending IPv4 rows. On Error, *error holds the
// (positive) errno the kernel reported.
DumpStep parseInetDiagDump(const uint8_t *data, size_t length, std::vector<MIB_TCPROW> &rows,
                           int *error = nullptr);

} // namespace iphlp
