#include "echosocket.h"

#include "icmpsocketio.h"

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
        const int identifier = icmpio::bindIdentifier(fd, AF_INET);
        if (identifier < 0)
            return nullptr;
        s->m_identifier = uint16_t(identifier);
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
    return icmpio::sendPacket(m_fd.get(), packet, reinterpret_cast<sockaddr *>(&to), sizeof to);
}

std::optional<EchoSocket::Received> EchoSocket::receive(int timeoutMs)
{
    const short revents = icmpio::waitReadable(m_fd.get(), timeoutMs);
    if (!revents)
        return std::nullopt;
    if (revents & POLLERR)
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
    const ssize_t n = icmpio::receiveMessage(m_fd.get(), r.bytes, &name, sizeof name, control,
                                             controlSize, flags, msg);
    if (n > 0)
        r.arrived = icmpio::arrivalTime(msg);
    return n;
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
