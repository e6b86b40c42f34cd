#include "icmp6packet.h"

#include "icmppacket.h"

#include <algorithm>

namespace icmp6 {

namespace {
uint16_t be16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }
} // namespace

std::optional<int32_t> statusFor(uint8_t type, uint8_t code)
{
    switch (type) {
    case TypeEchoReply: return icmp::IP_SUCCESS;
    case TypePacketTooBig: return icmp::IP_PACKET_TOO_BIG;
    case TypeParameterProblem: return icmp::IP_PARAM_PROBLEM;
    case TypeTimeExceeded:
        return code == 1 ? icmp::IP_TTL_EXPIRED_REASSEM : icmp::IP_TTL_EXPIRED_TRANSIT;
    case TypeDestinationUnreachable:
        switch (code) {
        case 0: return icmp::IP_DEST_NET_UNREACHABLE; // no route
        case 1:                                       // administratively prohibited
        case 5:                                       // source address failed policy
        case 6:                                       // reject route
            // "Prohibited" as the IPv4 side reports it.
            return icmp::IP_DEST_PROT_UNREACHABLE;
        case 4: return icmp::IP_DEST_PORT_UNREACHABLE;
        default: return icmp::IP_DEST_HOST_UNREACHABLE; // address, beyond scope, new codes
        }
    default: return std::nullopt;
    }
}

std::vector<uint8_t> buildEchoRequest(uint16_t identifier, uint16_t sequence,
                                      std::span<const uint8_t> data)
{
    return icmp::buildEcho(TypeEchoRequest, identifier, sequence, data);
}

std::optional<Message> parse(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 8)
        return std::nullopt;
    Message m;
    if (icmp::readEchoHeader(m, bytes, TypeEchoReply))
        return m;
    if (!statusFor(m.type, m.code))
        return std::nullopt;
    if (m.type == TypePacketTooBig)
        m.mtu = uint32_t(bytes[4]) << 24 | uint32_t(bytes[5]) << 16 | uint32_t(bytes[6]) << 8 |
                bytes[7];
    // The quoted packet: a 40-byte IPv6 header straight followed by our echo request.
    auto quoted = bytes.subspan(8);
    if (quoted.size() < 48 || (quoted[0] >> 4) != 6 || quoted[6] != 58 /* ICMPv6 */)
        return std::nullopt;
    auto inner = quoted.subspan(40);
    if (inner[0] != TypeEchoRequest || inner[1] != 0)
        return std::nullopt;
    std::copy_n(&quoted[24], 16, m.quotedDestination);
    m.identifier = be16(&inner[4]);
    m.sequence = be16(&inner[6]);
    return m;
}

} // namespace icmp6
