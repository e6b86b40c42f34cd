#pragma once
// Scanner tests run in the resolver fixture's namespace (resolver-netns.sh: nothing but a
// loopback, an /etc of its own) and add what a scan needs: listeners, firewall rules for the
// filtered ports, a dual-stack name, and a name server asked after the hosts file.
#include "resolvernamespace.h"

#include <QDir>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QUdpSocket>

#include <memory>
#include <sys/socket.h>

namespace ScanNamespace {
// Listened on both loopbacks; the rules make 5007 and 6000-6999 drop every probe, 5013 answer
// "administratively prohibited" and 5016 reset.
inline const QList<quint16> Listening{22, 5001, 5004, 5010};

class Peers {
public:
    Peers() : m_error(make()) {}
    const QString &error() const { return m_error; }

private:
    QString make()
    {
        for (quint16 port : Listening) {
            auto &s = m_listeners.emplace_back(std::make_unique<QTcpServer>());
            if (!s->listen(QHostAddress::Any, port))
                return s->errorString();
            s->pauseAccepting(); // connections wait in the backlog
        }
        // The name server answers on the test's thread: "no such name", except that names
        // whose first label is "slow" get no answer at all.
        if (!m_dns.bind(QHostAddress::LocalHost, 53))
            return m_dns.errorString();
        QObject::connect(&m_dns, &QUdpSocket::readyRead, [this] {
            while (m_dns.hasPendingDatagrams()) {
                const QNetworkDatagram query = m_dns.receiveDatagram();
                QByteArray q = query.data();
                qsizetype end = 12; // past the name, then the question's type and class
                while (end < q.size() && q[end])
                    end += uchar(q[end]) + 1;
                if (end + 5 > q.size() || q.mid(12, 5) == "\4slow")
                    continue;
                q[2] = char(0x81); // a response, recursion desired
                q[3] = char(0x83); // recursion available, no such name
                m_dns.writeDatagram(query.makeReply(q.left(end + 5).replace(6, 6, QByteArray(6, '\0'))));
            }
        });
        // dual.velmaric.test lists its IPv6 address first; the scanner takes the IPv4 one.
        if (!rewrite("hosts", "::1 dual.velmaric.test\n127.0.0.2 dual.velmaric.test\n", "#") ||
            !rewrite("nsswitch.conf", "hosts: files dns\n", "hosts:") ||
            !rewrite("resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n"))
            return QStringLiteral("cannot write the namespace's /etc");
        QProcess nft;
        nft.start(QStringLiteral("nft"), {"-f", "-"});
        nft.write("table inet probes { chain input { type filter hook input priority 0;\n"
                  "tcp dport { 5007, 6000-6999 } drop\n"
                  "tcp dport 5013 reject with icmpx type admin-prohibited\n"
                  "tcp dport 5016 reject with tcp reset; }\n}\n");
        nft.closeWriteChannel();
        return nft.waitForFinished() && !nft.exitCode() ? QString() : nft.readAllStandardError();
    }
    // Rewrites a file of the namespace's own /etc (which `ip netns exec` mounted over the
    // machine's): the lines not starting with `replaced` (none when it is empty), then `text`.
    static bool rewrite(const char *name, const QByteArray &text, const char *replaced = "")
    {
        QFile file("/etc/netns/" + qgetenv("VELMARIC_RESOLVER_NETNS") + '/' + name);
        QByteArray kept;
        for (const QByteArray &line : (file.open(QIODevice::ReadWrite) ? file.readAll() : QByteArray())
                                          .split('\n'))
            if (!line.isEmpty() && !line.startsWith(replaced))
                kept += line + '\n';
        return file.resize(0) && file.seek(0) && file.write(kept + text) > 0;
    }

    std::vector<std::unique_ptr<QTcpServer>> m_listeners;
    QUdpSocket m_dns;
    QString m_error;
};
} // namespace ScanNamespace

// In initTestCase: skips outside a namespace, fails when its peers cannot be made.
#define INIT_SCAN_NAMESPACE(peers) \
    do { \
        REQUIRE_RESOLVER_NAMESPACE(); \
        if (QStandardPaths::findExecutable(QStringLiteral("nft")).isEmpty()) \
            QSKIP("the nft tool (nftables) is missing"); \
        peers = std::make_unique<ScanNamespace::Peers>(); \
        QVERIFY2(peers->error().isEmpty(), qPrintable(peers->error())); \
    } while (false)
