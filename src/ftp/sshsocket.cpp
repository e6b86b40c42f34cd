#include "sshsocket.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Waiter {
    Clock::time_point deadline;
    const std::atomic<bool> *cancelled;
    DWORD error = 0;

    // Waits for events on fd in short slices, so that cancel is seen at once.
    bool wait(int fd, short events)
    {
        for (;;) {
            if (cancelled && cancelled->load())
                return error = ERROR_INTERNET_OPERATION_CANCELLED, false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                    Clock::now());
            if (left.count() <= 0)
                return error = ERROR_INTERNET_TIMEOUT, false;
            pollfd p{fd, events, 0};
            const int r = ::poll(&p, 1, int(std::min<long long>(left.count(), 50)));
            if (r > 0)
                return true;
            if (r < 0 && errno != EINTR)
                return error = ERROR_INTERNET_CANNOT_CONNECT, false;
        }
    }
    bool sendAll(int fd, std::string_view bytes)
    {
        while (!bytes.empty()) {
            if (!wait(fd, POLLOUT))
                return false;
            const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return error = ERROR_INTERNET_CANNOT_CONNECT, false;
            if (n > 0)
                bytes.remove_prefix(std::size_t(n));
        }
        return true;
    }
    bool receive(int fd, void *buffer, std::size_t size)
    {
        auto *at = static_cast<char *>(buffer);
        while (size) {
            if (!wait(fd, POLLIN))
                return false;
            const ssize_t n = ::recv(fd, at, size, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                return error = ERROR_INTERNET_CANNOT_CONNECT, false;
            if (n > 0) {
                at += n;
                size -= std::size_t(n);
            }
        }
        return true;
    }
};

struct Endpoint {
    std::string host;
    std::uint16_t port = 0;
};

// "host:port", "[v6]:port".
bool parseEndpoint(std::string_view text, Endpoint &e)
{
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon + 1 == text.size())
        return false;
    std::string_view host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    long port = 0;
    for (char c : text.substr(colon + 1)) {
        if (c < '0' || c > '9' || (port = port * 10 + (c - '0')) > 65535)
            return false;
    }
    if (host.empty() || port == 0)
        return false;
    e = {std::string(host), std::uint16_t(port)};
    return true;
}

struct AddrInfo {
    addrinfo *list = nullptr;
    ~AddrInfo()
    {
        if (list)
            ::freeaddrinfo(list);
    }
};

int resolve(const std::string &host, std::uint16_t port, AddrInfo &out)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    return ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &out.list);
}

SshSocketResult tcpConnect(const std::string &host, std::uint16_t port, Waiter &waiter)
{
    SshSocketResult r;
    AddrInfo addresses;
    if (resolve(host, port, addresses) != 0) {
        r.error = ERROR_INTERNET_NAME_NOT_RESOLVED;
        r.message = "Cannot resolve " + host;
        return r;
    }
    int lastErrno = ECONNREFUSED;
    for (addrinfo *a = addresses.list; a; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                                a->ai_protocol);
        if (fd < 0)
            continue;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
            lastErrno = errno;
            ::close(fd);
            continue;
        }
        if (!waiter.wait(fd, POLLOUT)) {
            ::close(fd);
            r.error = waiter.error;
            r.message = r.error == ERROR_INTERNET_TIMEOUT ? "Connecting to " + host + " timed out"
                                                          : std::string("Cancelled");
            return r;
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
        if (soError) {
            lastErrno = soError;
            ::close(fd);
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        r.fd = fd;
        return r;
    }
    r.error = ERROR_INTERNET_CANNOT_CONNECT;
    r.message = "Cannot connect to " + host + ":" + std::to_string(port) + ": " +
                std::strerror(lastErrno);
    return r;
}

const char *socksReplyText(unsigned char code)
{
    switch (code) {
    case 1: return "general failure";
    case 2: return "connection not allowed by ruleset";
    case 3: return "network unreachable";
    case 4: return "host unreachable";
    case 5: return "connection refused";
    case 6: return "TTL expired";
    case 7: return "command not supported";
    case 8: return "address type not supported";
    default: return "unknown error";
    }
}

bool socks5(int fd, const std::string &host, std::uint16_t port, bool remoteResolve, Waiter &waiter,
            std::string &message)
{
    unsigned char reply[4];
    if (!waiter.sendAll(fd, std::string_view("\x05\x01\x00", 3)) || !waiter.receive(fd, reply, 2))
        return message = "The SOCKS5 proxy did not answer", false;
    if (reply[0] != 5 || reply[1] != 0) {
        waiter.error = ERROR_INTERNET_CANNOT_CONNECT;
        return message = "The SOCKS5 proxy wants a login, which is not supported", false;
    }
    std::string request("\x05\x01\x00", 3);
    if (remoteResolve) {
        if (host.size() > 255)
            return waiter.error = ERROR_INTERNET_NAME_NOT_RESOLVED,
                   message = "Host name too long for SOCKS5", false;
        request += '\x03';
        request += char(host.size());
        request += host;
    } else {
        AddrInfo addresses;
        if (resolve(host, port, addresses) != 0)
            return waiter.error = ERROR_INTERNET_NAME_NOT_RESOLVED,
                   message = "Cannot resolve " + host, false;
        const sockaddr *sa = addresses.list->ai_addr;
        if (sa->sa_family == AF_INET) {
            request += '\x01';
            request.append(reinterpret_cast<const char *>(
                               &reinterpret_cast<const sockaddr_in *>(sa)->sin_addr),
                           4);
        } else {
            request += '\x04';
            request.append(reinterpret_cast<const char *>(
                               &reinterpret_cast<const sockaddr_in6 *>(sa)->sin6_addr),
                           16);
        }
    }
    request += char(port >> 8);
    request += char(port & 0xff);
    if (!waiter.sendAll(fd, request) || !waiter.receive(fd, reply, 4))
        return message = "The SOCKS5 proxy did not answer", false;
    if (reply[1] != 0) {
        waiter.error = ERROR_INTERNET_CANNOT_CONNECT;
        return message = std::string("The SOCKS5 proxy could not connect: ") +
                         socksReplyText(reply[1]),
               false;
    }
    unsigned char skip[256 + 2];
    std::size_t addressLength = reply[3] == 1 ? 4 : reply[3] == 4 ? 16 : 0;
    if (reply[3] == 3) {
        if (!waiter.receive(fd, skip, 1))
            return message = "The SOCKS5 proxy did not answer", false;
        addressLength = skip[0];
    }
    if (!waiter.receive(fd, skip, addressLength + 2))
        return message = "The SOCKS5 proxy did not answer", false;
    return true;
}

// Reads the proxy's answer a byte at a time: what follows it is the SSH server's.
bool httpConnect(int fd, const std::string &host, std::uint16_t port, Waiter &waiter,
                 std::string &message)
{
    const std::string authority = (host.find(':') != std::string::npos ? "[" + host + "]" : host) +
                                  ":" + std::to_string(port);
    if (!waiter.sendAll(fd,
                        "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n"))
        return message = "The HTTP proxy did not answer", false;
    std::string head;
    while (head.size() < 16384 && head.find("\r\n\r\n") == std::string::npos) {
        char c;
        if (!waiter.receive(fd, &c, 1))
            return message = "The HTTP proxy did not answer", false;
        head += c;
    }
    const std::string status = head.substr(0, head.find("\r\n"));
    if (status.size() < 12 || status.compare(0, 5, "HTTP/") != 0 || status.substr(9, 3) != "200") {
        waiter.error = ERROR_INTERNET_CANNOT_CONNECT;
        return message = "The HTTP proxy refused the tunnel: " + status, false;
    }
    return true;
}

} // namespace

SshSocketResult openSshSocket(const std::string &host, std::uint16_t port, const std::string &proxy,
                              Clock::time_point deadline, const std::atomic<bool> *cancelled)
{
    Waiter waiter{deadline, cancelled};
    if (proxy.empty()) {
        SshSocketResult r = tcpConnect(host, port, waiter);
        if (r.fd >= 0)
            ::fcntl(r.fd, F_SETFL, ::fcntl(r.fd, F_GETFL) & ~O_NONBLOCK);
        return r;
    }

    const auto sep = proxy.find("://");
    const std::string scheme = sep == std::string::npos ? "http" : proxy.substr(0, sep);
    Endpoint via;
    if ((scheme != "http" && scheme != "socks5" && scheme != "socks5h") ||
        !parseEndpoint(sep == std::string::npos ? proxy : proxy.substr(sep + 3), via)) {
        SshSocketResult r;
        r.error = ERROR_INVALID_PARAMETER;
        r.message = "Not a proxy SFTP can use: " + proxy;
        return r;
    }
    SshSocketResult r = tcpConnect(via.host, via.port, waiter);
    if (r.fd < 0)
        return r;
    const bool ok = scheme == "http"
                        ? httpConnect(r.fd, host, port, waiter, r.message)
                        : socks5(r.fd, host, port, scheme == "socks5h", waiter, r.message);
    if (!ok) {
        ::close(r.fd);
        r.fd = -1;
        r.error = waiter.error ? waiter.error : ERROR_INTERNET_CANNOT_CONNECT;
        return r;
    }
    ::fcntl(r.fd, F_SETFL, ::fcntl(r.fd, F_GETFL) & ~O_NONBLOCK);
    return r;
}
