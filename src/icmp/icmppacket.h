#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// ICMP echo packets as bytes: building requests, parsing what comes back and deciding whether
// it answers a given request. No I/O here, so every rule can be tested over captured bytes.
namespace icmp {

inline constexpr uint8_t TypeEchoReply = 0;
inline constexpr uint8_t TypeDestinationUnreachable = 3;
inline constexpr uint8_t TypeSourceQuench = 4;
inline constexpr uint8_t TypeEchoRequest = 8;
inline constexpr uint8_t TypeTimeExceeded = 11;
inline constexpr uint8_t TypeParameterProblem = 12;

// IP status codes of the echo service.
inline constexpr int32_t IP_SUCCESS = 0;
inline constexpr int32_t IP_BUF_TOO_SMALL = 11001;
inline constexpr int32_t IP_DEST_NET_UNREACHABLE = 11002;
inline constexpr int32_t IP_DEST_HOST_UNREACHABLE = 11003;
inline constexpr int32_t IP_DEST_PROT_UNREACHABLE = 11004;
inline constexpr int32_t IP_DEST_PORT_UNREACHABLE = 11005;
inline constexpr int32_t IP_NO_RESOURCES = 11006;
inline constexpr int32_t IP_PACKET_TOO_BIG = 11009;
inline constexpr int32_t IP_REQ_TIMED_OUT = 11010;
inline constexpr int32_t IP_BAD_ROUTE = 11012;
inline constexpr int32_t IP_TTL_EXPIRED_TRANSIT = 11013;
inline constexpr int32_t IP_TTL_EXPIRED_REASSEM = 11014;
inline constexpr int32_t IP_PARAM_PROBLEM = 11015;
inline constexpr int32_t IP_SOURCE_QUENCH = 11016;
inline constexpr int32_t IP_BAD_DESTINATION = 11018;
inline constexpr int32_t IP_GENERAL_FAILURE = 11050;

// The status an ICMP message stands for; empty for messages that answer no echo
// (redirects, requests, router adverts ...).
std::optional<int32_t> statusFor(uint8_t type, uint8_t code);

// Internet checksum (RFC 1071) over the bytes.
uint16_t checksum(std::span<const uint8_t> bytes);

// An echo message of the given type (ICMP or ICMPv6): 8-byte header with a zero checksum,
// then the data.
std::vector<uint8_t> buildEcho(uint8_t type, uint16_t identifier, uint16_t sequence,
                               std::span<const uint8_t> data);

// An echo request: 8-byte header with checksum, then the data.
std::vector<uint8_t> buildEchoRequest(uint16_t identifier, uint16_t sequence,
                                      std::span<const uint8_t> data);

// One received ICMP message, reduced to what matching and the reply record need.
struct Message {
    uint8_t type = 0;
    uint8_t code = 0;
    uint32_t source = 0;     // sender, network byte order (from the IP header when there is one)
    uint8_t ttl = 0;         // TTL of the received packet when the IP header was given
    uint16_t identifier = 0; // echo reply: its own; error: of the request it quotes
    uint16_t sequence = 0;
    uint32_t quotedDestination = 0; // error: destination of the quoted packet
    std::span<const uint8_t> data;  // echo reply: its data (points into the parsed bytes)
    bool isError() const { return type != TypeEchoReply; }
};

// The type and code of an ICMP or ICMPv6 message of at least 8 bytes into m, and for an echo
// reply also its identifier, sequence and data. True for an echo reply.
template <class EchoMessage>
bool readEchoHeader(EchoMessage &m, std::span<const uint8_t> bytes, uint8_t echoReplyType)
{
    m.type = bytes[0];
    m.code = bytes[1];
    if (m.type != echoReplyType)
        return false;
    m.identifier = uint16_t(bytes[4] << 8 | bytes[5]);
    m.sequence = uint16_t(bytes[6] << 8 | bytes[7]);
    m.data = bytes.subspan(8);
    return true;
}

// Parses an ICMP message. withIpHeader: the bytes start with the IPv4 header (raw sockets).
// Empty for truncated or corrupt packets (bad checksum, bad header lengths), for messages
// of other protocols, and for errors that do not quote an ICMP echo request.
std::optional<Message> parse(std::span<const uint8_t> bytes, bool withIpHeader);

// What was sent, for matching.
struct Probe {
    uint32_t destination = 0;
    uint16_t identifier = 0;
    uint16_t sequence = 0;
    std::span<const uint8_t> data;
};

// True when the message answers this probe: an echo reply with the probe's identifier,
// sequence and data, or an error quoting a request with the probe's destination,
// identifier and sequence.
bool answers(const Message &message, const Probe &probe);

} // namespace icmp
