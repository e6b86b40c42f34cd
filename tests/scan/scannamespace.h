#pragma once
#include "uniquefd.h"

#include <QDir>
#include <QFileInfo>
#include <QTcpServer>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Scanner tests run inside a network namespace of their own made by scan-netns.sh; main()
// starts the program again through it, which sets VELMARIC_SCAN_NETNS inside the namespace or
// VELMARIC_SCAN_NETNS_SKIP to the reason there is none.
namespace ScanNamespace {
inline bool inside() { return std::getenv("VELMARIC_SCAN_NETNS"); }

// Ports with a listener; the namespace's rules make 5007 and 5013 filtered, 5016 closed.
inline const std::vector<quint16> &listening()
{
    static const std::vector<quint16> ports{22, 5001, 5004, 5010};
    return ports;
}

// Listeners on both IPv4 and IPv6 loopback; connections wait in the backlog, never taken.
inline std::vector<std::unique_ptr<QTcpServer>> listen()
{
    std::vector<std::unique_ptr<QTcpServer>> servers;
    for (quint16 port : listening()) {
        auto s = std::make_unique<QTcpServer>();
        if (!s->listen(QHostAddress::Any, port))
            return {};
        s->pauseAccepting();
        servers.push_back(std::move(s));
    }
    return servers;
}

// The namespace's name server on 127.0.0.1:53 (after the hosts file): "no such name" to every
// query, except that names whose first label is "slow" get no answer at all.
class NameServer {
public:
    NameServer()
    {
        m_fd = UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in a = address();
        if (!m_fd || ::bind(m_fd.get(), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            return;
        m_thread = std::thread([this] { serve(); });
    }
    ~NameServer()
    {
        if (m_thread.joinable()) {
            const sockaddr_in a = address();
            ::sendto(m_fd.get(), "", 0, 0, reinterpret_cast<const sockaddr *>(&a),
                     sizeof a); // ends serve()
            m_thread.join();
        }
    }
    bool running() const { return m_thread.joinable(); }

private:
    static sockaddr_in address()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(53);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return a;
    }
    void serve()
    {
        unsigned char q[512];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n;
        while ((n = ::recvfrom(m_fd.get(), q, sizeof q, 0, reinterpret_cast<sockaddr *>(&from),
                               &len)) > 12) {
            size_t end = 12; // past the name and the question's type and class
            while (end < size_t(n) && q[end])
                end += q[end] + 1;
            end += 5;
            const bool slow = q[12] == 4 && !std::memcmp(q + 13, "slow", 4);
            if (!slow && end <= size_t(n)) {
                q[2] = 0x81;              // a response, recursion desired
                q[3] = 0x83;              // recursion available, no such name
                std::memset(q + 6, 0, 6); // no answer, authority or additional records
                ::sendto(m_fd.get(), q, end, 0, reinterpret_cast<sockaddr *>(&from), len);
            }
            len = sizeof from;
        }
    }
    UniqueFd m_fd;
    std::thread m_thread;
};

// Sockets this process holds, to see that a scan released every one.
inline int socketCount()
{
    int n = 0;
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
        n += fd.symLinkTarget().contains(QLatin1String("socket:"));
    return n;
}
} // namespace ScanNamespace

#define SCAN_NAMESPACE_TEST_MAIN(TestObject, AppClass) \
    int main(int argc, char **argv) \
    { \
        if (!ScanNamespace::inside() && !std::getenv("VELMARIC_SCAN_NETNS_SKIP")) { \
            std::vector<char *> args{const_cast<char *>(SCAN_NETNS_SCRIPT)}; \
            args.insert(args.end(), argv, argv + argc + 1); \
            execv(args[0], args.data()); \
            std::perror(SCAN_NETNS_SCRIPT); \
            return 127; \
        } \
        AppClass app(argc, argv); \
        TestObject tc; \
        return QTest::qExec(&tc, argc, argv); \
    }

#define REQUIRE_SCAN_NAMESPACE() \
    do { \
        if (!ScanNamespace::inside()) \
            QSKIP(std::getenv("VELMARIC_SCAN_NETNS_SKIP")); \
    } while (false)
