#pragma once
// Table rows from dotted addresses. Include winsock.h before this: glibc may define ntohs as a
// macro.
#include "iphlpapi.h"
#include "winsock.h"

inline iphlp::MIB_TCPROW row(uint32_t state, const char *local, unsigned lport, const char *remote,
                             unsigned rport)
{
    const auto port = [](unsigned p) { return (p >> 8 & 0xFF) | (p & 0xFF) << 8; };
    return {state, winsock::inet_addr(local), port(lport), winsock::inet_addr(remote), port(rport)};
}
