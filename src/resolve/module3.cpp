#include "module3.h"

namespace Module3 {

bool StartWinsock() { return winsock::WSAStartup(0x0101) == 0; }

void StopWinsock(const MessageSink &show)
{
    if (winsock::WSACleanup() != 0)
        show(CleanupFailedText, vbExclamation);
}

std::string IPTextToHostName(const std::string &ipText, const MessageSink &show)
{
    if (!StartWinsock()) {
        show(SocketsFailedText, vbOKOnly);
        return {};
    }
    const uint32_t address = winsock::inet_addr(ipText);
    if (address == winsock::INADDR_NONE_VALUE) {
        show(InvalidIPText, vbOKOnly);
        StopWinsock(show);
        return {};
    }
    const auto entry = winsock::gethostbyaddr(address);
    if (!entry) {
        show(LookupFailedText, vbOKOnly);
        StopWinsock(show);
        return {};
    }
    // An entry with an empty name gives empty text without a message.
    std::string name = entry->name;
    StopWinsock(show);
    return name;
}

} // namespace Module3
