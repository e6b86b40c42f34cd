#pragma once
#include <QDir>
#include <QFileInfo>
#include <QTcpServer>

#include <cstdio>
#include <cstdlib>
#include <memory>
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

// Sockets this process holds, to see that a scan released every one.
inline int socketCount()
{
    int n = 0;
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
        n += fd.symLinkTarget().contains(QLatin1String("socket:"));
    return n;
}
} // namespace ScanNamespace

#define SCAN_NAMESPACE_TEST_MAIN(TestObject, AppClass)                                         \
    int main(int argc, char **argv)                                                            \
    {                                                                                          \
        if (!ScanNamespace::inside() && !std::getenv("VELMARIC_SCAN_NETNS_SKIP")) {            \
            std::vector<char *> args{const_cast<char *>(SCAN_NETNS_SCRIPT)};                   \
            args.insert(args.end(), argv, argv + argc + 1);                                    \
            execv(args[0], args.data());                                                       \
            std::perror(SCAN_NETNS_SCRIPT);                                                    \
            return 127;                                                                        \
        }                                                                                      \
        AppClass app(argc, argv);                                                              \
        TestObject tc;                                                                         \
        return QTest::qExec(&tc, argc, argv);                                                  \
    }

#define REQUIRE_SCAN_NAMESPACE()                                                               \
    do {                                                                                       \
        if (!ScanNamespace::inside())                                                          \
            QSKIP(std::getenv("VELMARIC_SCAN_NETNS_SKIP"));                                    \
    } while (false)
