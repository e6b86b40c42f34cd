#include "hostlookup.h"

#include "winsock.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace winsock {

std::optional<HostEntry> gethostbyname(const std::string &name)
{
    // getaddrinfo sorts several addresses by destination preference (RFC 6724), which puts
    // e.g. a loopback address ahead of the first one the hosts file or DNS lists. The NSS
    // host query keeps the resolver's order, so the first address is the first one listed.
    if (name.empty() || name.find('\0') != std::string::npos)
        return std::nullopt;
    hostent host{};
    hostent *result = nullptr;
    std::vector<char> buffer(2048);
    int herr = 0;
    int rc;
    while ((rc = gethostbyname2_r(name.c_str(), AF_INET, &host, buffer.data(), buffer.size(),
                                  &result, &herr)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (rc != 0 || !result || result->h_addrtype != AF_INET || result->h_length != 4)
        return std::nullopt;
    HostEntry entry;
    entry.name = result->h_name ? result->h_name : name;
    for (char **p = result->h_addr_list; p && *p; ++p) {
        uint32_t a;
        std::memcpy(&a, *p, sizeof a);
        if (std::find(entry.addresses.begin(), entry.addresses.end(), a) == entry.addresses.end())
            entry.addresses.push_back(a);
    }
    if (entry.addresses.empty())
        return std::nullopt;
    return entry;
}

std::optional<HostEntry> gethostbyaddr(uint32_t address)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = address;
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&sa), sizeof sa, host, sizeof host, nullptr,
                    0, NI_NAMEREQD) != 0)
        return std::nullopt;
    return HostEntry{host, {address}};
}

} // namespace winsock

std::string AddressToIPText(uint32_t address) { return winsock::inet_ntoa(address); }

std::string HostNameToIPText(const std::string &hostName)
{
    auto entry = winsock::gethostbyname(hostName);
    if (!entry)
        return {};
    return AddressToIPText(entry->addresses.front());
}
