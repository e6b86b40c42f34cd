#pragma once
// Loopback sockets for the live tests: a listener on an ephemeral port and connected pairs.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <sched.h>
#include <utility>

class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    Fd(Fd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd &operator=(Fd &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { reset(); }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

inline uint16_t localPort(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

inline Fd listenLoopback()
{
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
        || ::listen(fd.get(), 64) != 0)
        return Fd();
    return fd;
}

// A connected pair to the listener: first the client end, then the accepted end.
inline std::pair<Fd, Fd> connectPair(const Fd &listener)
{
    Fd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(localPort(listener.get()));
    if (!client.valid() || ::connect(client.get(), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        return {Fd(), Fd()};
    Fd server(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    return {std::move(client), std::move(server)};
}

// Moves this process into a network namespace of its own with loopback up, so the table
// holds only the test's connections. Needs root.
inline bool enterPrivateNetwork()
{
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0)
        return false;
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (!fd.valid() || ::ioctl(fd.get(), SIOCGIFFLAGS, &ifr) != 0)
        return false;
    ifr.ifr_flags = short(ifr.ifr_flags | IFF_UP);
    return ::ioctl(fd.get(), SIOCSIFFLAGS, &ifr) == 0;
}
