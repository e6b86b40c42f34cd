#include "icmppacket.h"

#include <algorithm>

namespace icmp {

namespace {
uint16_t be16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t rawAddress(const uint8_t *p)
{
    // Kept in network byte order: first octet in the lowest byte.
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Length of a valid IPv4 header at the start of bytes, or 0.
size_t ipHeaderLength(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 20 || (bytes[0] >> 4) != 4)
        return 0;
    size_t ihl = size_t(bytes[0] & 0x0F) * 4;
    return ihl >= 20 && ihl <= bytes.size() ? ihl : 0;
}
} // namespace

std::optional<int32_t> statusFor(uint8_t type, uint8_t code)
{
    switch (type) {
    case TypeEchoReply: return IP_SUCCESS;
    case TypeTimeExceeded: return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case TypeParameterProblem: return IP_PARAM_PROBLEM;
    case TypeSourceQuench: return IP_SOURCE_QUENCH;
    case TypeDestinationUnreachable:
        switch (code) {
        case 0:  // net
        case 6:  // net unknown
        case 11: // net for type of service
            return IP_DEST_NET_UNREACHABLE;
        case 2:  // protocol
        case 9:  // net administratively prohibited
        case 10: // host administratively prohibited
        case 13: // communication administratively prohibited
        case 14: // host precedence violation
        case 15: // precedence cut-off
            // The echo service reports "prohibited" with the protocol-unreachable number.
            return IP_DEST_PROT_UNREACHABLE;
        case 3: return IP_DEST_PORT_UNREACHABLE;
        case 4: return IP_PACKET_TOO_BIG;
        case 5: // source route failed
            return IP_BAD_ROUTE;
        default: // host, host unknown, source isolated, host for type of service, new codes
            return IP_DEST_HOST_UNREACHABLE;
        }
    default: return std::nullopt;
    }
}

uint16_t checksum(std::span<const uint8_t> bytes)
{
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += be16(&bytes[i]);
    if (i < bytes.size())
        sum += uint32_t(bytes[i]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

std::vector<uint8_t> buildEcho(uint8_t type, uint16_t identifier, uint16_t sequence,
                               std::span<const uint8_t> data)
{
    std::vector<uint8_t> packet(8 + data.size());
    packet[0] = type;
    packet[4] = uint8_t(identifier >> 8);
    packet[5] = uint8_t(identifier);
    packet[6] = uint8_t(sequence >> 8);
    packet[7] = uint8_t(sequence);
    std::copy(data.begin(), data.end(), packet.begin() + 8);
    return packet;
}

std::vector<uint8_t> buildEchoRequest(uint16_t identifier, uint16_t sequence,
                                      std::span<const uint8_t> data)
{
    auto packet = buildEcho(TypeEchoRequest, identifier, sequence, data);
    uint16_t sum = checksum(packet);
    packet[2] = uint8_t(sum >> 8);
    packet[3] = uint8_t(sum);
    return packet;
}

std::optional<Message> parse(std::span<const uint8_t> bytes, bool withIpHeader)
{
    Message m;
    if (withIpHeader) {
        size_t ihl = ipHeaderLength(bytes);
        if (!ihl || bytes[9] != 1 /* ICMP */)
            return std::nullopt;
        // The total length may be smaller than what was read (padding), never larger.
        size_t total = be16(&bytes[2]);
        if (total < ihl || total > bytes.size())
            return std::nullopt;
        m.ttl = bytes[8];
        m.source = rawAddress(&bytes[12]);
        bytes = bytes.subspan(ihl, total - ihl);
    }
    if (bytes.size() < 8 || checksum(bytes) != 0)
        return std::nullopt;
    if (readEchoHeader(m, bytes, TypeEchoReply))
        return m;
    if (!statusFor(m.type, m.code))
        return std::nullopt;
    // An error quotes the IP header of the offending packet and at least 8 bytes after it.
    auto quoted = bytes.subspan(8);
    size_t ihl = ipHeaderLength(quoted);
    if (!ihl || quoted[9] != 1 || quoted.size() < ihl + 8)
        return std::nullopt;
    auto inner = quoted.subspan(ihl);
    if (inner[0] != TypeEchoRequest || inner[1] != 0)
        return std::nullopt;
    m.quotedDestination = rawAddress(&quoted[16]);
    m.identifier = be16(&inner[4]);
    m.sequence = be16(&inner[6]);
    return m;
}

bool answers(const Message &message, const Probe &probe)
{
    if (message.identifier != probe.identifier || message.sequence != probe.sequence)
        return false;
    if (message.isError())
        return message.quotedDestination == probe.destination;
    return std::ranges::equal(message.data, probe.data);
}

} // namespace icmp
