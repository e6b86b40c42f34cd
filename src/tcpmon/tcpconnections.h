#pragma once
#include "inetaddress.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct inet_diag_msg;

// The TCP table of either family with what the command line shows beyond the window: IPv6
// rows and the processes that own each socket.
namespace iphlp {

struct TcpConnection {
    InetAddress local;
    InetAddress remote;
    uint16_t localPort = 0; // host order
    uint16_t remotePort = 0;
    uint32_t state = 0; // the table's state code
    uint32_t inode = 0; // 0 for sockets without one (time-wait, pending requests)
};

// The connection of an IPv4 or IPv6 socket's record.
TcpConnection tcpConnectionFromDiag(const inet_diag_msg &msg);
// Appends every TCP socket of the family (AF_INET, AF_INET6, AF_UNSPEC for both, read in one
// pass); 0 or an error number.
uint32_t readTcpConnections(int family, std::vector<TcpConnection> &rows);
// IPv4 rows first, then IPv6; each ascending by local address, local port, remote address,
// remote port.
void sortTcpConnections(std::vector<TcpConnection> &rows);

// Socket inode to its owners, "pid/command" joined by commas in pid order, for every process
// whose descriptors this user may read (as ss -p finds them).
std::unordered_map<uint32_t, std::string> socketOwners();
// The socket inode of an fd link text "socket:[12345]"; 0 for anything else.
uint32_t socketInode(std::string_view link);

} // namespace iphlp
