#include "inetaddress.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

std::optional<InetAddress> InetAddress::parse(const std::string &text)
{
    InetAddress a;
    if (text.find('\0') != std::string::npos)
        return std::nullopt;
    const auto percent = text.find('%');
    if (inet_pton(AF_INET, text.c_str(), a.bytes.data()) == 1)
        a.family = AF_INET;
    else if (inet_pton(AF_INET6, text.substr(0, percent).c_str(), a.bytes.data()) == 1)
        a.family = AF_INET6;
    else
        return std::nullopt;
    if (percent != std::string::npos) {
        const std::string zone = text.substr(percent + 1);
        a.scope = ::if_nametoindex(zone.c_str());
        if (!a.scope && !zone.empty() &&
            zone.find_first_not_of("0123456789") == std::string::npos && zone.size() < 10)
            a.scope = uint32_t(std::stoul(zone));
        if (!a.scope)
            return std::nullopt;
    }
    return a;
}

InetAddress InetAddress::fromSockaddr(const sockaddr *address)
{
    InetAddress a;
    if (address->sa_family == AF_INET) {
        a.family = AF_INET;
        std::memcpy(a.bytes.data(), &reinterpret_cast<const sockaddr_in *>(address)->sin_addr, 4);
    } else if (address->sa_family == AF_INET6) {
        a.family = AF_INET6;
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(address);
        std::memcpy(a.bytes.data(), &in6->sin6_addr, 16);
        a.scope = in6->sin6_scope_id;
    }
    return a;
}

InetAddress InetAddress::fromIpv4(uint32_t networkOrder)
{
    InetAddress a;
    a.family = AF_INET;
    std::memcpy(a.bytes.data(), &networkOrder, 4);
    return a;
}

std::string InetAddress::text() const
{
    char buffer[INET6_ADDRSTRLEN] = {};
    if (!family || !inet_ntop(family, bytes.data(), buffer, sizeof buffer))
        return {};
    if (family != AF_INET6 || !scope)
        return buffer;
    char name[IF_NAMESIZE] = {};
    return std::string(buffer) + "%" +
           (::if_indextoname(scope, name) ? std::string(name) : std::to_string(scope));
}

sockaddr_storage InetAddress::toSockaddr(uint16_t port, socklen_t &length) const
{
    sockaddr_storage s{};
    if (family == AF_INET) {
        auto *in = reinterpret_cast<sockaddr_in *>(&s);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        std::memcpy(&in->sin_addr, bytes.data(), 4);
        length = sizeof *in;
    } else {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&s);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        std::memcpy(&in6->sin6_addr, bytes.data(), 16);
        in6->sin6_scope_id = scope;
        length = sizeof *in6;
    }
    return s;
}

namespace {
// The addresses the system resolver lists for a name in one family, in its order.
void appendListed(const std::string &name, int family, std::vector<InetAddress> &found)
{
    hostent host{};
    hostent *result = nullptr;
    std::vector<char> buffer(2048);
    int herr = 0;
    int rc;
    while ((rc = gethostbyname2_r(name.c_str(), family, &host, buffer.data(), buffer.size(),
                                  &result, &herr)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    const int length = family == AF_INET ? 4 : 16;
    if (rc != 0 || !result || result->h_addrtype != family || result->h_length != length)
        return;
    for (char **p = result->h_addr_list; p && *p; ++p) {
        InetAddress a;
        a.family = family;
        std::memcpy(a.bytes.data(), *p, size_t(length));
        if (std::find(found.begin(), found.end(), a) == found.end())
            found.push_back(a);
    }
}
} // namespace

std::vector<InetAddress> resolveAll(const std::string &name, int family)
{
    std::vector<InetAddress> found;
    if (name.empty() || name.find('\0') != std::string::npos)
        return found;
    if (const auto numeric = InetAddress::parse(name)) {
        if (family == AF_UNSPEC || numeric->family == family)
            found.push_back(*numeric);
        return found;
    }
    // The listed order within each family (getaddrinfo would re-sort it), IPv6 first.
    if (family != AF_INET)
        appendListed(name, AF_INET6, found);
    if (family != AF_INET6)
        appendListed(name, AF_INET, found);
    return found;
}

std::string nameOfAddress(const InetAddress &address)
{
    socklen_t length = 0;
    const sockaddr_storage s = address.toSockaddr(0, length);
    char host[NI_MAXHOST];
    if (!address.valid() || getnameinfo(reinterpret_cast<const sockaddr *>(&s), length, host,
                                        sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
        return {};
    return host;
}

std::string terminalSafe(const std::string &text)
{
    std::string out;
    static const char hex[] = "0123456789abcdef";
    auto escape = [&](unsigned char c) {
        out += "\\x";
        out += hex[c >> 4];
        out += hex[c & 15];
    };
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            escape(c);
            ++i;
            continue;
        }
        if (c < 0x80) {
            out += char(c);
            ++i;
            continue;
        }
        // A whole UTF-8 sequence passes; C1 controls (U+0080..U+009F) do not.
        const size_t n = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
        bool whole = n && i + n <= text.size() && !(c == 0xC2 && (uint8_t(text[i + 1]) < 0xA0));
        for (size_t k = 1; whole && k < n; ++k)
            whole = (uint8_t(text[i + k]) & 0xC0) == 0x80;
        if (!whole) {
            escape(c);
            ++i;
            continue;
        }
        out.append(text, i, n);
        i += n;
    }
    return out;
}
