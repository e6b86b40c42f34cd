#include "hostlookup.h"

#include "winsock.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>

namespace winsock {

std::optional<HostEntry> gethostbyname(const std::string &name)
{
    if (name.empty())
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address instead of one per socket type
    hints.ai_flags = AI_CANONNAME;
    addrinfo *raw = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &raw) != 0 || !raw)
        return std::nullopt;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(raw, &freeaddrinfo);
    HostEntry entry;
    entry.name = raw->ai_canonname ? raw->ai_canonname : name;
    for (addrinfo *ai = raw; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET)
            continue;
        uint32_t a = reinterpret_cast<const sockaddr_in *>(ai->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (uint32_t b : entry.addresses)
            seen = seen || a == b;
        if (!seen)
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
