// Multi-hop echoes and traces through a chain of network namespaces:
// source - router 1 - router 2 - router 3 - router 4 - target.
#include "echosocket.h"
#include "icmpapi.h"
#include "netnschain.h"
#include "winsock.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryFile>
#include <QTest>

#include <cstring>
#include <memory>

namespace {
constexpr int Routers = 4;
const QString Cli = QStringLiteral(VELMARIC_CLI);

// Ruleset for router 2: sends no time-exceeded messages, so its hop stays silent.
const QString SilentRouter = QStringLiteral(
    "table inet silent { chain errors { type filter hook output priority 0; "
    "icmp type time-exceeded drop; }; }");
} // namespace

class tst_TraceChain : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void statuses_data();
    void statuses();
    void trace_data();
    void trace();
    void resolvedHopNames();
    void unresolvedTarget();
    void foreignPingsDuringTrace();

private:
    QString expectedTrace(const QString &host, int silentHop, bool names) const;
    void useSocketKind(const QString &kind);
    std::unique_ptr<NetnsChain> m_chain;
    QTemporaryFile m_hosts;
};

void tst_TraceChain::initTestCase()
{
    const QString reason = NetnsChain::unavailableReason();
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    // Names for routers 1 and 3; router 2, router 4 and the target have none.
    QVERIFY(m_hosts.open());
    m_hosts.write("127.0.0.1 localhost\n10.99.0.2 router-one.chain.test\n"
                  "10.99.2.2 router-three.chain.test\n");
    m_hosts.close();
    m_chain = std::make_unique<NetnsChain>(Routers, m_hosts.fileName());
    QVERIFY2(m_chain->isUp(), qPrintable(m_chain->error()));
    // Behind router 4, refused by rules (answered through the ICMP rate limit, which the
    // fixture turns off, unlike the separate limit of unreachable routes): host
    // unreachable, prohibited, net unreachable, port unreachable, and echoes that vanish.
    QVERIFY(m_chain->nft(m_chain->router(4), QStringLiteral(
        "table inet rules { chain probes { type filter hook forward priority 0; "
        "ip daddr 10.98.1.0/24 reject with icmp type host-unreachable; "
        "ip daddr 10.98.2.0/24 reject with icmp type admin-prohibited; "
        "ip daddr 10.98.3.0/24 reject with icmp type net-unreachable; "
        "ip daddr 10.98.4.0/24 reject with icmp type port-unreachable; "
        "ip daddr 10.98.5.0/24 drop; }; }")));
}

void tst_TraceChain::cleanupTestCase() { m_chain.reset(); }

void tst_TraceChain::init()
{
    // Every case starts with answering routers and the default socket permissions.
    QVERIFY(m_chain->nft(m_chain->router(2), QString()));
    useSocketKind(QStringLiteral("raw"));
}

void tst_TraceChain::useSocketKind(const QString &kind)
{
    // Root opens a datagram socket first where the group range allows it, else a raw one.
    QVERIFY(m_chain->sysctl(m_chain->source(), "net.ipv4.ping_group_range",
                            kind == QLatin1String("raw") ? "1 0" : "0 2147483647"));
}

void tst_TraceChain::statuses_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<int>("ttl");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("from");
    QTest::addColumn<uint>("replies");
    for (const char *kind : {"raw", "datagram"}) {
        QTest::addRow("%s: echo reply of the target", kind)
            << kind << "10.99.4.2" << 0 << 0 << "10.99.4.2" << 1u;
        QTest::addRow("%s: TTL 1 expires at router 1", kind)
            << kind << "10.99.4.2" << 1 << 11013 << "10.99.0.2" << 1u;
        QTest::addRow("%s: TTL 3 expires at router 3", kind)
            << kind << "10.99.4.2" << 3 << 11013 << "10.99.2.2" << 1u;
        QTest::addRow("%s: TTL 5 reaches the target", kind)
            << kind << "10.99.4.2" << 5 << 0 << "10.99.4.2" << 1u;
        QTest::addRow("%s: host unreachable", kind)
            << kind << "10.98.1.1" << 0 << 11003 << "10.99.3.2" << 1u;
        QTest::addRow("%s: prohibited", kind)
            << kind << "10.98.2.1" << 0 << 11004 << "10.99.3.2" << 1u;
        QTest::addRow("%s: net unreachable", kind)
            << kind << "10.98.3.1" << 0 << 11002 << "10.99.3.2" << 1u;
        QTest::addRow("%s: port unreachable", kind)
            << kind << "10.98.4.1" << 0 << 11005 << "10.99.3.2" << 1u;
        QTest::addRow("%s: nobody answers", kind)
            << kind << "10.98.5.1" << 0 << 11010 << "0.0.0.0" << 0u;
    }
}

void tst_TraceChain::statuses()
{
    QFETCH(QString, kind);
    QFETCH(QString, destination);
    QFETCH(int, ttl);
    QFETCH(int, status);
    QFETCH(QString, from);
    QFETCH(uint, replies);
    useSocketKind(kind);

    NetnsScope inSource(m_chain->source());
    QVERIFY(inSource.isEntered());
    IcmpFile handle;
    QVERIFY(handle);
    QCOMPARE(echoSocketOf(handle.handle())->kind() == EchoSocket::Kind::Raw,
             kind == QLatin1String("raw"));
    IP_OPTION_INFORMATION options;
    options.Ttl = uint8_t(ttl);
    std::vector<char> buffer(288);
    const char data[] = "chain";
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(IcmpSendEcho(handle.handle(), winsock::inet_addr(destination.toStdString()), data, 5,
                          ttl ? &options : nullptr, buffer.data(), uint32_t(buffer.size()), 500),
             replies);
    ICMP_ECHO_REPLY reply;
    std::memcpy(&reply, buffer.data(), sizeof reply);
    QCOMPARE(reply.Status, status);
    QCOMPARE(QString::fromStdString(winsock::inet_ntoa(reply.Address)), from);
    if (status == 11010)
        QVERIFY(timer.elapsed() >= 490); // the whole time-out, not an early give-up
}

QString tst_TraceChain::expectedTrace(const QString &host, int silentHop, bool names) const
{
    QString out = QStringLiteral("Tracing Route to %1:\n\n").arg(host);
    for (int k = 1; k <= Routers + 1; ++k) {
        const QString address = k <= Routers ? m_chain->hopAddress(k) : m_chain->targetAddress();
        if (k == silentHop) {
            out += QStringLiteral("Hop #\t%1\t*\t\n").arg(k);
            continue;
        }
        out += QStringLiteral("Hop #\t%1\t<10 ms\t%2").arg(k).arg(address);
        if (names && k == 1)
            out += QStringLiteral("\trouter-one.chain.test");
        if (names && k == 3)
            out += QStringLiteral("\trouter-three.chain.test");
        out += QLatin1Char('\n');
    }
    return out + QStringLiteral("\nTrace Route Complete\n");
}

void tst_TraceChain::trace_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("silentHop");
    for (const char *kind : {"raw", "datagram"}) {
        QTest::addRow("%s: every hop answers", kind) << kind << 0;
        QTest::addRow("%s: router 2 silent", kind) << kind << 2;
    }
}

void tst_TraceChain::trace()
{
    QFETCH(QString, kind);
    QFETCH(int, silentHop);
    useSocketKind(kind);
    if (silentHop)
        QVERIFY(m_chain->nft(m_chain->router(silentHop), SilentRouter));
    QByteArray out, err;
    QCOMPARE(m_chain->exec(m_chain->source(), {Cli, "trace", m_chain->targetAddress()}, &out, &err), 0);
    QCOMPARE(QString::fromLocal8Bit(out), expectedTrace(m_chain->targetAddress(), silentHop, false));
    QCOMPARE(err, QByteArray());
}

void tst_TraceChain::resolvedHopNames()
{
    QByteArray out;
    QCOMPARE(m_chain->exec(m_chain->source(), {Cli, "trace", m_chain->targetAddress(), "--resolve"},
                           &out),
             0);
    QCOMPARE(QString::fromLocal8Bit(out), expectedTrace(m_chain->targetAddress(), 0, true));
}

void tst_TraceChain::unresolvedTarget()
{
    // The source's resolver only knows its hosts file, so nothing leaves the chain.
    QByteArray out, err;
    QCOMPARE(m_chain->exec(m_chain->source(), {Cli, "trace", "no-such-host.chain.test"}, &out, &err), 1);
    QCOMPARE(out, QByteArray("Tracing Route to no-such-host.chain.test:\n\n\nTrace Route Complete\n"));
    QVERIFY(err.contains("not found"));
}

void tst_TraceChain::foreignPingsDuringTrace()
{
    // Another process pings the target meanwhile, with the trace's own data pattern.
    QProcess ping;
    ping.start("ip", {"netns", "exec", m_chain->source(), "ping", "-q", "-i", "0.002", "-s", "32",
                      "-p", "61", m_chain->targetAddress()});
    QVERIFY(ping.waitForStarted());
    for (const char *kind : {"raw", "datagram"}) {
        useSocketKind(kind);
        QByteArray out;
        QCOMPARE(m_chain->exec(m_chain->source(), {Cli, "trace", m_chain->targetAddress()}, &out), 0);
        QCOMPARE(QString::fromLocal8Bit(out), expectedTrace(m_chain->targetAddress(), 0, false));
        QCOMPARE(m_chain->exec(m_chain->source(), {Cli, "ping", m_chain->targetAddress(), "mine"}, &out),
                 0);
        QVERIFY2(out.contains("Data Returned : mine\n"), out.constData());
    }
    ping.terminate();
    ping.waitForFinished();
}

QTEST_GUILESS_MAIN(tst_TraceChain)
#include "tst_tracechain.moc"
