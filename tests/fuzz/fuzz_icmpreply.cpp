// ICMP messages as a raw socket (with IP header) and a datagram socket (without) deliver them.
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
    return 0;
}
