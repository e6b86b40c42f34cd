#include "tcptabletexts.h"

#include "tcptexts.h"
#include "winsock.h"

#include <cstring>

QString GetStrFromPtrA(const char *lpszA)
{
    if (!lpszA)
        return {};
    // Single-byte text: every byte is one character.
    return QString::fromLatin1(lpszA, qsizetype(std::strlen(lpszA)));
}

QString GetInetStrFromPtr(uint32_t Address)
{
    const std::string text = winsock::inet_ntoa(Address);
    return GetStrFromPtrA(text.c_str());
}

QString TcpStateDescription(uint32_t code)
{
    return QString::fromLatin1(iphlp::tcpStateText(code));
}
