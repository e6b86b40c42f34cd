#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// ICMPv6 echo packets as bytes. The kernel strips the IPv6 header and checks the checksum of
// what raw and datagram ICMPv6 sockets receive, and fills it in on what they send.
namespace icmp6 {

inline constexpr uint8_t TypeDestinationUnreachable = 1;
inline constexpr uint8_t TypePacketTooBig = 2;
inline constexpr uint8_t TypeTimeExceeded = 3;
inline constexpr uint8_t TypeParameterProblem = 4;
inline constexpr uint8_t TypeEchoRequest = 128;
inline constexpr uint8_t TypeEchoReply = 129;

// The IP status (the same numbers as for ICMP) an ICMPv6 message stands for; empty for
// messages that answer no echo.
std::optional<int32_t> statusFor(uint8_t type, uint8_t code);

// An echo request with a zero checksum for the kernel to fill in.
std::vector<uint8_t> buildEchoRequest(uint16_t identifier, uint16_t sequence,
                                      std::span<const uint8_t> data);

struct Message {
    uint8_t type = 0;
    uint8_t code = 0;
    uint16_t identifier = 0; // reply: its own; error: of the quoted request
    uint16_t sequence = 0;
    uint8_t quotedDestination[16] = {}; // error: destination of the quoted request
    uint32_t mtu = 0;                   // packet too big: the link's MTU
    std::span<const uint8_t> data;      // reply: its data
    bool isError() const { return type != TypeEchoReply; }
};

// Parses an ICMPv6 message as a socket delivers it (no IPv6 header). Empty for truncated
// packets, for messages that are neither echo replies nor errors quoting an echo request.
std::optional<Message> parse(std::span<const uint8_t> bytes);

} // namespace icmp6
