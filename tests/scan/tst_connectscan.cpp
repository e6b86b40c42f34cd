// The connect-scan engine and velmaric-cli scan against listeners, firewall rules and a name
// server in a network namespace of the test's own.
#include "connectscan.h"
#include "scannamespace.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <map>

#include <sys/resource.h>

using scan::PortState;

namespace {
struct Scanned {
    QStringList lines; // "port state", by port, each port once
    bool finished = false;
    int peak = 0;
};

Scanned scanRange(const char *host, int first, int last, int timeoutMs,
                  int maxInFlight = scan::DefaultInFlight)
{
    Scanned s;
    scan::Target target;
    std::string error;
    if (!scan::resolveTarget(host, target, error))
        return s;
    scan::ConnectScan scan(target, uint16_t(first), uint16_t(last), timeoutMs, maxInFlight);
    std::multimap<int, PortState> states;
    s.finished = scan.run([&](const scan::PortResult &r) { states.emplace(r.port, r.state); }) ==
                 scan::ConnectScan::Outcome::Finished;
    for (const auto &[port, state] : states)
        s.lines << QStringLiteral("%1 %2").arg(port).arg(scan::stateText(state));
    s.peak = scan.peakInFlight();
    return s;
}

// What the namespace's listeners and rules make of each port.
QStringList expected(int first, int last)
{
    QStringList lines;
    for (int p = first; p <= last; ++p)
        lines << QStringLiteral("%1 %2").arg(p).arg(
                     ScanNamespace::Listening.contains(p)                    ? "open"
                     : p == 5007 || p == 5013 || (p >= 6000 && p <= 6999) ? "filtered"
                                                                            : "closed");
    return lines;
}
} // namespace

class tst_ConnectScan : public QObject {
    Q_OBJECT
    std::unique_ptr<ScanNamespace::Peers> m_peers;

private Q_SLOTS:
    void initTestCase() { INIT_SCAN_NAMESPACE(m_peers); }

    // Listeners, nothing, a reset, a dropped probe and "prohibited", over both families.
    void states_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("IPv4") << "127.0.0.1";
        QTest::newRow("IPv6") << "::1";
    }
    void states()
    {
        QFETCH(QString, host);
        const Scanned s = scanRange(qPrintable(host), 5000, 5019, 300);
        QVERIFY(s.finished);
        QCOMPARE(s.lines, expected(5000, 5019));
    }

    // With the probed ports among the local ports, a connect may pick its target as its own
    // source and reach itself; that is no listener.
    void selfConnectIsClosed()
    {
        const auto write = [](const QByteArray &range) {
            QFile f(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
            return f.open(QIODevice::ReadWrite) && f.write(range) == range.size();
        };
        QFile old(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
        QVERIFY(old.open(QIODevice::ReadOnly));
        const auto restore = qScopeGuard([&, range = old.readAll()] { write(range); });
        QVERIFY(write("7000 7031"));
        for (int round = 0; round < 20; ++round)
            QCOMPARE(scanRange("127.0.0.1", 7000, 7031, 300).lines, expected(7000, 7031));
    }

    // A low descriptor limit bounds the connections in flight, and the scan still ends whole.
    void descriptorLimit_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::newRow("closed ports end at once") << 1 << 3000;
        QTest::newRow("dropped ports stay in flight") << 6000 << 6299;
    }
    void descriptorLimit()
    {
        QFETCH(int, first);
        QFETCH(int, last);
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &old), 0);
        const rlimit low{128, old.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
        const Scanned s = scanRange("127.0.0.1", first, last, 100);
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &old), 0);
        QVERIFY(s.finished);
        QCOMPARE(s.lines, expected(first, last));
        QVERIFY(s.peak >= 1 && s.peak < 128);
        QCOMPARE(scanRange("127.0.0.1", 6000, 6099, 100, 10).peak, 10); // the caller's bound
    }

    // Host look-ups (numeric, both families, not found, no answer) and arguments, end to end.
    void cli_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out"); // patterns over the whole outputs
        QTest::addColumn<QString>("err");
        const auto row = [](const char *name, const QStringList &args, int code,
                            const QString &out, const QString &err = QStringLiteral("^$")) {
            QTest::newRow(name) << args << code << out << err;
        };
        row("found", {"127.0.0.1", "5000", "5019", "--timeout", "300"}, 0,
            "^5001\t\n5004\t\n5010\t\n127.0.0.1: 3 open, 15 closed, 2 filtered of 20 ports in "
            "\\d+\\.\\d\\d s\n$");
        row("IPv6, service name", {"::1", "20", "23"}, 0,
            "^22\tssh\n::1: 1 open, 3 closed, 0 filtered of 4 ports in ");
        row("name with both families", {"dual.velmaric.test", "1", "1"}, 0, "^127\\.0\\.0\\.2: ");
        row("unknown host", {"nowhere.velmaric.test", "1", "2"}, 1, "^$",
            "Host \"nowhere.velmaric.test\" not found.");
        row("no answer", {"slow.velmaric.test", "1", "2"}, 1, "^$",
            "Host \"slow.velmaric.test\" could not be looked up now; try again later.");
        row("empty host", {"", "1", "2"}, 1, "^$", "Enter a host name or address.");
        row("port 0", {"::1", "0", "10"}, 2, "^$", "from 1 to 65535");
        row("port 65536", {"::1", "1", "65536"}, 2, "^$", "from 1 to 65535");
        row("first > last", {"::1", "10", "5"}, 2, "^$", "greater than the last");
        row("bad time-out", {"::1", "1", "2", "--timeout", "x"}, 2, "^$", "time-out");
        row("no last port", {"::1", "1"}, 2, "^$", "Usage:");
    }
    void cli()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QProcess p;
        p.start(QStringLiteral(VELMARIC_CLI), QStringList{"scan"} + args);
        QVERIFY(QSignalSpy(&p, &QProcess::finished).wait(30000)); // the name server answers meanwhile
        const QString stdOut = p.readAllStandardOutput(), stdErr = p.readAllStandardError();
        QCOMPARE(p.exitCode(), exitCode);
        QVERIFY2(QRegularExpression(out).match(stdOut).hasMatch(), qPrintable(stdOut));
        QVERIFY2(QRegularExpression(err).match(stdErr).hasMatch(), qPrintable(stdErr));
    }
};

RESOLVER_NAMESPACE_TEST_MAIN(tst_ConnectScan, QCoreApplication)
#include "tst_connectscan.moc"
