// ICMP messages as a raw socket (with IP header) and a datagram socket (without) deliver them,
// and ICMPv6 messages as either kind of ICMPv6 socket does.
#include "icmp6packet.h"
#include "icmppacket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    for (bool withIpHeader : {true, false})
        if (auto message = icmp::parse(bytes, withIpHeader)) {
            const std::vector<uint8_t> sent(message->data.begin(), message->data.end());
            icmp::answers(*message, {message->quotedDestination, message->identifier,
                                     message->sequence, sent});
        }
    if (auto message = icmp6::parse(bytes))
        icmp6::statusFor(message->type, message->code);
    return 0;
}
