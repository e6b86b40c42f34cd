#include "echosocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

std::unique_ptr<EchoSocket> EchoSocket::open()
{
    if (auto s = open(Kind::Datagram))
        return s;
    return open(Kind::Raw);
}

std::unique_ptr<EchoSocket> EchoSocket::open(Kind kind)
{
    int type = kind == Kind::Datagram ? SOCK_DGRAM : SOCK_RAW;
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
    if (fd < 0)
        return nullptr;
    std::unique_ptr<EchoSocket> s(new EchoSocket(fd, kind));
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    if (kind == Kind::Datagram) {
        // The kernel picks the identifier (the socket's "port") and keeps other
        // processes' replies away; errors arrive on the error queue.
        sockaddr_in local{};
        local.sin_family = AF_INET;
        socklen_t len = sizeof local;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &len) != 0)
            return nullptr;
        s->m_identifier = ntohs(local.sin_port);
        ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
        ::setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &on, sizeof on);
    } else {
        // Only the message types that can answer an echo reach this socket.
        icmp_filter filter{};
        filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) |
                        (1u << ICMP_SOURCE_QUENCH) | (1u << ICMP_TIME_EXCEEDED) |
                        (1u << ICMP_PARAMETERPROB));
        ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
        std::random_device random;
        s->m_identifier = uint16_t(random());
    }
    std::random_device random;
    s->m_sequence = uint16_t(random());
    return s;
}

EchoSocket::EchoSocket(int fd, Kind kind) : m_fd(fd), m_kind(kind) {}

int32_t EchoSocket::statusForErrno(int error)
{
    switch (error) {
    case ENETUNREACH: return icmp::IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH: return icmp::IP_DEST_HOST_UNREACHABLE;
    case EMSGSIZE: return icmp::IP_PACKET_TOO_BIG;
    case EACCES: // broadcast, or a destination the firewall refuses
    case EPERM:
    case EINVAL:
    case EADDRNOTAVAIL: return icmp::IP_BAD_DESTINATION;
    case ENOBUFS:
    case ENOMEM: return icmp::IP_NO_RESOURCES;
    default: return icmp::IP_GENERAL_FAILURE;
    }
}

int32_t EchoSocket::send(uint32_t destination, std::span<const uint8_t> data, int ttl,
                         uint16_t sequence)
{
    if (ttl != m_ttl) {
        int value = ttl > 0 ? ttl : -1; // -1: back to the system's default
        if (::setsockopt(m_fd.get(), IPPROTO_IP, IP_TTL, &value, sizeof value) != 0)
            return icmp::IP_GENERAL_FAILURE;
        m_ttl = ttl;
    }
    auto packet = icmp::buildEchoRequest(m_identifier, sequence, data);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    ssize_t sent;
    do {
        sent = ::sendto(m_fd.get(), packet.data(), packet.size(), 0,
                        reinterpret_cast<sockaddr *>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        return statusForErrno(errno);
    return sent == ssize_t(packet.size()) ? 0 : icmp::IP_GENERAL_FAILURE;
}

std::optional<EchoSocket::Received> EchoSocket::receive(int timeoutMs)
{
    pollfd p{m_fd.get(), POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return std::nullopt;
    if (p.revents & POLLERR)
        return receiveError();

    Received r;
    r.bytes.resize(65536);
    sockaddr_in from{};
    char control[256];
    msghdr msg{};
    ssize_t n = receiveMessage(r, from, control, sizeof control, 0, msg);
    if (n <= 0)
        return std::nullopt;
    r.bytes.resize(size_t(n));
    auto parsed = icmp::parse(r.bytes, m_kind == Kind::Raw);
    if (!parsed)
        return std::nullopt;
    r.message = *parsed;
    if (m_kind == Kind::Datagram) {
        r.message.source = from.sin_addr.s_addr;
        for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) {
                int ttl;
                std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
                r.message.ttl = uint8_t(ttl);
            }
    }
    return r;
}

ssize_t EchoSocket::receiveMessage(Received &r, sockaddr_in &name, char *control,
                                   size_t controlSize, int flags, msghdr &msg)
{
    iovec iov{r.bytes.data(), r.bytes.size()};
    msg = {};
    msg.msg_name = &name;
    msg.msg_namelen = sizeof name;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = controlSize;
    const ssize_t n = ::recvmsg(m_fd.get(), &msg, flags);
    // The payload pointer is only valid during the call.
    msg.msg_iov = nullptr;
    msg.msg_iovlen = 0;
    if (n > 0)
        r.arrived = arrivalTime(msg);
    return n;
}

std::chrono::steady_clock::time_point EchoSocket::arrivalTime(msghdr &msg)
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

// ICMP errors about a datagram socket's requests: the kernel gives the error's type, code
// and sender, the request's destination as the message name, and the quoted ICMP header.
std::optional<EchoSocket::Received> EchoSocket::receiveError()
{
    Received r;
    r.bytes.resize(576);
    sockaddr_in original{};
    char control[512];
    msghdr msg{};
    ssize_t n = receiveMessage(r, original, control, sizeof control, MSG_ERRQUEUE, msg);
    if (n < 8)
        return std::nullopt;
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR)
            continue;
        sock_extended_err ee;
        std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
        if (ee.ee_origin != SO_EE_ORIGIN_ICMP || !icmp::statusFor(ee.ee_type, ee.ee_code) ||
            ee.ee_type == icmp::TypeEchoReply)
            return std::nullopt;
        sockaddr_in offender;
        std::memcpy(&offender, SO_EE_OFFENDER(reinterpret_cast<sock_extended_err *>(CMSG_DATA(c))),
                    sizeof offender);
        const uint8_t *quoted = r.bytes.data();
        r.message.type = ee.ee_type;
        r.message.code = ee.ee_code;
        r.message.source = offender.sin_addr.s_addr;
        r.message.quotedDestination = original.sin_addr.s_addr;
        r.message.identifier = uint16_t(quoted[4] << 8 | quoted[5]);
        r.message.sequence = uint16_t(quoted[6] << 8 | quoted[7]);
        return r;
    }
    return std::nullopt;
}
