#pragma once
#include <cstdint>
#include <string>

// Socket start-up and address conversions with the semantics the windows rely on.
// Addresses are 32-bit values in network byte order (first octet in the lowest byte).
namespace winsock {

constexpr uint32_t INADDR_NONE_VALUE = 0xFFFFFFFFu;

int WSAStartup(uint16_t version); // 0 = started
int WSACleanup();                 // 0 = done

// Strict dotted-quad parse; anything else, and 255.255.255.255, gives INADDR_NONE_VALUE.
uint32_t inet_addr(const std::string &text);
std::string inet_ntoa(uint32_t address);
// The port field of a table row: network order in the low 16 bits; upper bits ignored.
// Parenthesised: glibc may define ntohs as a macro in optimised builds.
uint32_t(ntohs)(uint32_t portField);

} // namespace winsock
