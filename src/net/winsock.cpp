#include "winsock.h"

#include <cstdio>

namespace winsock {

int WSAStartup(uint16_t) { return 0; }
int WSACleanup() { return 0; }

uint32_t inet_addr(const std::string &text)
{
    // Four decimal parts of at most three digits, each 0..255, nothing else.
    uint32_t parts[4] = {};
    int part = 0;
    int digits = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            if (++digits > 3)
                return INADDR_NONE_VALUE;
            parts[part] = parts[part] * 10 + uint32_t(c - '0');
            if (parts[part] > 255)
                return INADDR_NONE_VALUE;
        } else if (c == '.' && digits > 0 && part < 3) {
            ++part;
            digits = 0;
        } else {
            return INADDR_NONE_VALUE;
        }
    }
    if (part != 3 || digits == 0)
        return INADDR_NONE_VALUE;
    return parts[0] | parts[1] << 8 | parts[2] << 16 | parts[3] << 24;
}

std::string inet_ntoa(uint32_t a)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", a & 0xFF, (a >> 8) & 0xFF, (a >> 16) & 0xFF,
                  (a >> 24) & 0xFF);
    return buf;
}

uint32_t(ntohs)(uint32_t portField)
{
    return ((portField & 0xFF) << 8) | ((portField >> 8) & 0xFF);
}

} // namespace winsock
