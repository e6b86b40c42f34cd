#include "icmpsocketio.h"

#include "echosocket.h"
#include "icmppacket.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace icmpio {

int bindIdentifier(int fd, int family)
{
    sockaddr_storage local{};
    local.ss_family = sa_family_t(family);
    const socklen_t size = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    socklen_t len = size;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), size) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &len) != 0)
        return -1;
    return family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port)
                              : ntohs(reinterpret_cast<sockaddr_in *>(&local)->sin_port);
}

short waitReadable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 ? p.revents : 0;
}

int32_t sendPacket(int fd, std::span<const uint8_t> packet, const sockaddr *to, unsigned length)
{
    ssize_t sent;
    do {
        sent = ::sendto(fd, packet.data(), packet.size(), 0, to, socklen_t(length));
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        return EchoSocket::statusForErrno(errno);
    return sent == ssize_t(packet.size()) ? 0 : icmp::IP_GENERAL_FAILURE;
}

ssize_t receiveMessage(int fd, std::span<uint8_t> buffer, void *name, unsigned nameSize,
                       char *control, size_t controlSize, int flags, msghdr &msg)
{
    iovec iov{buffer.data(), buffer.size()};
    msg = {};
    msg.msg_name = name;
    msg.msg_namelen = socklen_t(nameSize);
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = controlSize;
    const ssize_t n = ::recvmsg(fd, &msg, flags);
    // The payload pointer is only valid during the call.
    msg.msg_iov = nullptr;
    msg.msg_iovlen = 0;
    return n;
}

std::chrono::steady_clock::time_point arrivalTime(msghdr &msg)
{
    using namespace std::chrono;
    const auto now = steady_clock::now();
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec stamp;
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        // The stamp is wall-clock time; its age carries over to the steady clock.
        const auto age = system_clock::now().time_since_epoch() -
                         (seconds(stamp.tv_sec) + nanoseconds(stamp.tv_nsec));
        if (age > nanoseconds::zero() && age < seconds(60))
            return now - duration_cast<steady_clock::duration>(age);
    }
    return now;
}

} // namespace icmpio
