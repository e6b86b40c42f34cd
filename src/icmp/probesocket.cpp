#include "probesocket.h"

#include "echosocket.h"
#include "icmp6packet.h"
#include "icmppacket.h"
#include "icmpsocketio.h"

#include <linux/errqueue.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <random>

std::unique_ptr<ProbeSocket> ProbeSocket::open(int family)
{
    std::unique_ptr<ProbeSocket> s(new ProbeSocket);
    s->m_family = family;
    if (family == AF_INET) {
        s->m_echo = EchoSocket::open();
        if (!s->m_echo)
            return nullptr;
        s->m_kind = s->m_echo->kind() == EchoSocket::Kind::Raw ? Kind::Raw : Kind::Datagram;
        return s;
    }
    if (family != AF_INET6)
        return nullptr;
    int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMPV6);
    s->m_kind = Kind::Datagram;
    if (fd < 0) {
        fd = ::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMPV6);
        s->m_kind = Kind::Raw;
    }
    if (fd < 0)
        return nullptr;
    s->m_fd = UniqueFd(fd);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on);
    if (s->m_kind == Kind::Datagram) {
        // The kernel picks the identifier and sends the errors to the error queue.
        const int identifier = icmpio::bindIdentifier(fd, AF_INET6);
        if (identifier < 0)
            return nullptr;
        s->m_identifier = uint16_t(identifier);
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
    } else {
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        for (int type : {ICMP6_ECHO_REPLY, ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG,
                         ICMP6_TIME_EXCEEDED, ICMP6_PARAM_PROB})
            ICMP6_FILTER_SETPASS(type, &filter);
        ::setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
        std::random_device random;
        s->m_identifier = uint16_t(random());
    }
    return s;
}

ProbeSocket::~ProbeSocket() = default;

uint16_t ProbeSocket::identifier() const { return m_echo ? m_echo->identifier() : m_identifier; }

int32_t ProbeSocket::send(const InetAddress &destination, std::span<const uint8_t> data,
                          int hopLimit, uint16_t sequence)
{
    // A datagram socket's send fails once with the error of an ICMP error it has queued (an
    // earlier probe's "time exceeded"), which that failure clears: the request goes again.
    errno = 0;
    int32_t status = sendOnce(destination, data, hopLimit, sequence);
    for (int again = 0; status != 0 && m_kind == Kind::Datagram && again < 4; ++again)
        status = sendOnce(destination, data, hopLimit, sequence);
    m_sendError = status == 0 ? 0 : errno ? errno : EIO;
    return status;
}

int32_t ProbeSocket::sendOnce(const InetAddress &destination, std::span<const uint8_t> data,
                              int hopLimit, uint16_t sequence)
{
    if (destination.family != m_family)
        return icmp::IP_BAD_DESTINATION;
    if (m_echo) {
        uint32_t address;
        std::memcpy(&address, destination.bytes.data(), 4);
        return m_echo->send(address, data, hopLimit, sequence);
    }
    if (hopLimit != m_hopLimit) {
        int value = hopLimit > 0 ? hopLimit : -1;
        if (::setsockopt(m_fd.get(), IPPROTO_IPV6, IPV6_UNICAST_HOPS, &value, sizeof value) != 0)
            return icmp::IP_GENERAL_FAILURE;
        m_hopLimit = hopLimit;
    }
    const auto packet = icmp6::buildEchoRequest(m_identifier, sequence, data);
    socklen_t length = 0;
    const sockaddr_storage to = destination.toSockaddr(0, length);
    return icmpio::sendPacket(m_fd.get(), packet, reinterpret_cast<const sockaddr *>(&to), length);
}

std::optional<ProbeSocket::Received> ProbeSocket::receive(int timeoutMs)
{
    if (!m_echo)
        return receive6(timeoutMs);
    auto got = m_echo->receive(timeoutMs);
    if (!got || got->message.identifier != m_echo->identifier())
        return std::nullopt;
    const icmp::Message &m = got->message;
    Received r;
    r.reply = !m.isError();
    r.status = icmp::statusFor(m.type, m.code).value_or(icmp::IP_GENERAL_FAILURE);
    r.type = m.type;
    r.code = m.code;
    r.sequence = m.sequence;
    r.source = InetAddress::fromIpv4(m.source);
    r.quotedDestination = InetAddress::fromIpv4(m.quotedDestination);
    r.hopLimit = r.reply && m.ttl ? m.ttl : -1;
    r.data.assign(m.data.begin(), m.data.end());
    r.arrived = got->arrived;
    return r;
}

std::optional<ProbeSocket::Received> ProbeSocket::receive6(int timeoutMs)
{
    const short revents = icmpio::waitReadable(m_fd.get(), timeoutMs);
    if (!revents)
        return std::nullopt;
    if (revents & POLLERR)
        return receiveError6();

    uint8_t bytes[65536];
    sockaddr_in6 from{};
    alignas(cmsghdr) char control[256];
    msghdr msg;
    const ssize_t n = icmpio::receiveMessage(m_fd.get(), bytes, &from, sizeof from, control,
                                             sizeof control, 0, msg);
    if (n <= 0)
        return std::nullopt;
    const auto m = icmp6::parse(std::span<const uint8_t>(bytes, size_t(n)));
    if (!m || m->identifier != m_identifier)
        return std::nullopt;
    Received r;
    r.arrived = icmpio::arrivalTime(msg);
    r.reply = !m->isError();
    r.status = *icmp6::statusFor(m->type, m->code);
    r.type = m->type;
    r.code = m->code;
    r.mtu = m->mtu;
    r.sequence = m->sequence;
    r.source = InetAddress::fromSockaddr(reinterpret_cast<sockaddr *>(&from));
    if (m->isError()) {
        r.quotedDestination.family = AF_INET6;
        std::memcpy(r.quotedDestination.bytes.data(), m->quotedDestination, 16);
    }
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c))
        if (r.reply && c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT)
            std::memcpy(&r.hopLimit, CMSG_DATA(c), sizeof r.hopLimit);
    r.data.assign(m->data.begin(), m->data.end());
    return r;
}

// ICMPv6 errors about a datagram socket's requests: type, code and sender from the kernel,
// the request's destination as the message name, the request itself as the payload.
std::optional<ProbeSocket::Received> ProbeSocket::receiveError6()
{
    uint8_t bytes[1280];
    sockaddr_in6 original{};
    alignas(cmsghdr) char control[512];
    msghdr msg;
    const ssize_t n = icmpio::receiveMessage(m_fd.get(), bytes, &original, sizeof original,
                                             control, sizeof control, MSG_ERRQUEUE, msg);
    if (n < 8)
        return std::nullopt;
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != IPPROTO_IPV6 || c->cmsg_type != IPV6_RECVERR)
            continue;
        sock_extended_err ee;
        std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
        const auto status = icmp6::statusFor(ee.ee_type, ee.ee_code);
        if (ee.ee_origin != SO_EE_ORIGIN_ICMP6 || !status || ee.ee_type == icmp6::TypeEchoReply)
            return std::nullopt;
        sockaddr_in6 offender;
        std::memcpy(&offender, SO_EE_OFFENDER(reinterpret_cast<sock_extended_err *>(CMSG_DATA(c))),
                    sizeof offender);
        Received r;
        r.arrived = icmpio::arrivalTime(msg);
        r.status = *status;
        r.type = ee.ee_type;
        r.code = ee.ee_code;
        r.mtu = ee.ee_type == icmp6::TypePacketTooBig ? ee.ee_info : 0;
        r.sequence = uint16_t(bytes[6] << 8 | bytes[7]);
        r.source = InetAddress::fromSockaddr(reinterpret_cast<sockaddr *>(&offender));
        r.quotedDestination = InetAddress::fromSockaddr(reinterpret_cast<sockaddr *>(&original));
        return r;
    }
    return std::nullopt;
}
