#pragma once
#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <sys/socket.h>

// One IPv4 or IPv6 address, for the command-line tools that speak both families.
struct InetAddress {
    int family = 0;                  // AF_INET, AF_INET6; 0 for none
    std::array<uint8_t, 16> bytes{}; // network order; IPv4 uses the first four
    uint32_t scope = 0;              // IPv6 interface index ("fe80::1%eth0"); 0 for none

    // Numeric text of either family ("10.0.0.1", "fd00::1", "fe80::1%eth0"); empty for anything
    // else.
    static std::optional<InetAddress> parse(const std::string &text);
    static InetAddress fromSockaddr(const sockaddr *address);
    static InetAddress fromIpv4(uint32_t networkOrder);

    bool valid() const { return family != 0; }
    std::string text() const;
    // The address as a socket address with the given port (host order).
    sockaddr_storage toSockaddr(uint16_t port, socklen_t &length) const;

    // The scope is left out: a reply names it where a quoted request may not.
    auto operator<=>(const InetAddress &other) const
    {
        return std::tie(family, bytes) <=> std::tie(other.family, other.bytes);
    }
    bool operator==(const InetAddress &other) const
    {
        return family == other.family && bytes == other.bytes;
    }
};

// Every address of a host, deduplicated, as the system resolver lists them (hosts file, DNS:
// their order, which getaddrinfo's sorting would change), IPv6 before IPv4; family AF_UNSPEC
// for both. Numeric text is itself.
std::vector<InetAddress> resolveAll(const std::string &name, int family);
// The host name registered for an address; empty when there is none.
std::string nameOfAddress(const InetAddress &address);

// Text that came from the network, made safe for a terminal: control bytes and bytes that are
// not UTF-8 become \xHH.
std::string terminalSafe(const std::string &text);
