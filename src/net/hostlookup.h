#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Forward and reverse look-ups through the system resolver (NSS: hosts file, DNS ...), IPv4 only.
namespace winsock {

struct HostEntry {
    std::string name;                // official name (canonical name when the resolver gives one)
    std::vector<uint32_t> addresses; // network byte order, in the resolver's order
};

// gethostbyname: empty optional when the name is not found.
std::optional<HostEntry> gethostbyname(const std::string &name);
// gethostbyaddr: the name registered for the address; empty optional when there is none.
std::optional<HostEntry> gethostbyaddr(uint32_t address);

} // namespace winsock

// The dotted text of an address (network byte order).
std::string AddressToIPText(uint32_t address);
// The first IPv4 address of a host as dotted text, or empty text when the name is not found.
std::string HostNameToIPText(const std::string &hostName);
