#include "module3.h"

namespace Module3 {

bool StartWinsock(const SocketLayer &layer) { return layer.startup(0x0101) == 0; }

void StopWinsock(const MessageSink &show, const SocketLayer &layer)
{
    if (layer.cleanup() != 0)
        show(CleanupFailedText, vbExclamation);
}

std::string IPTextToHostName(const std::string &ipText, const MessageSink &show,
                             const SocketLayer &layer)
{
    if (!StartWinsock(layer)) {
        show(SocketsFailedText, vbOKOnly);
        return {};
    }
    const uint32_t address = winsock::inet_addr(ipText);
    if (address == winsock::INADDR_NONE_VALUE) {
        show(InvalidIPText, vbOKOnly);
        StopWinsock(show, layer);
        return {};
    }
    const auto entry = layer.hostByAddress(address);
    if (!entry) {
        show(LookupFailedText, vbOKOnly);
        StopWinsock(show, layer);
        return {};
    }
    // An entry with an empty name gives empty text without a message.
    std::string name = entry->name;
    StopWinsock(show, layer);
    return name;
}

} // namespace Module3
