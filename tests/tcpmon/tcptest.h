#pragma once
// Table rows from dotted addresses, and loopback sockets: a listener on an ephemeral port and
// connected pairs. Include winsock.h before this: glibc may define ntohs as a macro.
#include "iphlpapi.h"
#include "uniquefd.h"
#include "winsock.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

inline iphlp::MIB_TCPROW row(uint32_t state, const char *local, unsigned lport, const char *remote,
                             unsigned rport)
{
    const auto port = [](unsigned p) { return (p >> 8 & 0xFF) | (p & 0xFF) << 8; };
    return {state, winsock::inet_addr(local), port(lport), winsock::inet_addr(remote), port(rport)};
}

inline uint16_t localPort(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    return ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0 ? ntohs(a.sin_port) : 0;
}

// Binds (port 0: any free one) or connects to 127.0.0.1:port; an invalid UniqueFd on failure.
inline UniqueFd loopbackSocket(uint16_t port, bool connectTo)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    const auto *addr = reinterpret_cast<const sockaddr *>(&a);
    const bool ok = fd.valid() && (connectTo ? ::connect(fd.get(), addr, sizeof a) == 0
                                             : ::bind(fd.get(), addr, sizeof a) == 0 &&
                                                   ::listen(fd.get(), 64) == 0);
    return ok ? std::move(fd) : UniqueFd();
}

inline UniqueFd listenLoopback() { return loopbackSocket(0, false); }

// A connected pair to the listener: first the client end, then the accepted end.
inline std::pair<UniqueFd, UniqueFd> connectPair(const UniqueFd &listener)
{
    UniqueFd client = loopbackSocket(localPort(listener.get()), true);
    UniqueFd server(client.valid() ? ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC)
                                   : -1);
    return {std::move(client), std::move(server)};
}
