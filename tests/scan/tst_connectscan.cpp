// The connect-scan engine and velmaric-cli scan against listeners and firewall rules in a
// network namespace of the test's own.
#include "connectscan.h"
#include "scannamespace.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include <sys/resource.h>

using scan::ConnectScan;
using scan::PortState;

namespace {
const QString Cli = QStringLiteral(VELMARIC_CLI);

scan::Target target(const char *host)
{
    scan::Target t;
    std::string error;
    if (!scan::resolveTarget(host, t, error))
        qFatal("%s", error.c_str());
    return t;
}

// One scan: each port's state, and whether any port was reported twice.
struct Scanned {
    ConnectScan::Outcome outcome;
    std::map<int, PortState> states;
    bool duplicates = false;
    int peak = 0;
};

Scanned scanRange(const char *host, int first, int last, int timeoutMs,
                  int maxInFlight = scan::DefaultInFlight)
{
    Scanned s;
    ConnectScan scan(target(host), uint16_t(first), uint16_t(last), timeoutMs, maxInFlight);
    s.outcome = scan.run([&s](const scan::PortResult &r) {
        s.duplicates = s.duplicates || !s.states.emplace(r.port, r.state).second;
    });
    s.peak = scan.peakInFlight();
    return s;
}

// Writes a sysctl of this namespace for the lifetime of the object.
class SysctlOverride {
public:
    SysctlOverride(const QString &path, const QByteArray &value) : m_file(path)
    {
        if (m_file.open(QIODevice::ReadWrite)) {
            m_old = m_file.readAll();
            m_file.seek(0);
            m_ok = m_file.write(value) == value.size() && m_file.flush();
        }
    }
    ~SysctlOverride()
    {
        m_file.seek(0);
        m_file.write(m_old);
    }
    bool ok() const { return m_ok; }

private:
    QFile m_file;
    QByteArray m_old;
    bool m_ok = false;
};
} // namespace

class tst_ConnectScan : public QObject {
    Q_OBJECT
    std::vector<std::unique_ptr<QTcpServer>> m_listeners;
    std::unique_ptr<ScanNamespace::NameServer> m_dns;
    std::map<QString, Scanned> m_scans; // by host, range 5000-5019

private Q_SLOTS:
    void initTestCase()
    {
        REQUIRE_SCAN_NAMESPACE();
        m_listeners = ScanNamespace::listen();
        QVERIFY(!m_listeners.empty());
        m_dns = std::make_unique<ScanNamespace::NameServer>();
        QVERIFY(m_dns->running());
    }

    void states_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<PortState>("state");
        const struct {
            int port;
            PortState state;
            const char *why;
        } rows[] = {{5001, PortState::Open, "listener"},
                    {5010, PortState::Open, "listener"},
                    {5000, PortState::Closed, "nothing listens"},
                    {5019, PortState::Closed, "nothing listens, last of range"},
                    {5016, PortState::Closed, "reset by rule"},
                    {5007, PortState::Filtered, "dropped"},
                    {5013, PortState::Filtered, "prohibited"}};
        for (const char *host : {"127.0.0.1", "::1"})
            for (const auto &r : rows)
                QTest::addRow("%s %d %s", host, r.port, r.why) << host << r.port << r.state;
    }
    void states()
    {
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(PortState, state);
        auto it = m_scans.find(host);
        if (it == m_scans.end())
            it = m_scans.emplace(host, scanRange(qPrintable(host), 5000, 5019, 300)).first;
        const Scanned &s = it->second;
        QCOMPARE(s.outcome, ConnectScan::Outcome::Finished);
        QVERIFY(!s.duplicates);
        QCOMPARE(s.states.size(), size_t(20)); // every port once
        QCOMPARE(s.states.at(port), state);
    }

    // With the probed port among the local ports, a connect may pick it as its own source and
    // reach itself; that is no listener.
    void selfConnectIsClosed()
    {
        SysctlOverride range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"), "7000 7031");
        QVERIFY(range.ok());
        for (int round = 0; round < 20; ++round) {
            const Scanned s = scanRange("127.0.0.1", 7000, 7031, 300);
            QCOMPARE(s.outcome, ConnectScan::Outcome::Finished);
            for (const auto &[port, state] : s.states)
                QVERIFY2(state == PortState::Closed, qPrintable(QString::number(port)));
        }
    }

    // A low descriptor limit bounds the connections in flight, and the scan still ends whole.
    void descriptorLimit_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<PortState>("state");
        QTest::newRow("closed ports end at once") << 1 << 3000 << PortState::Closed;
        QTest::newRow("dropped ports stay in flight") << 6000 << 6299 << PortState::Filtered;
    }
    void descriptorLimit()
    {
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(PortState, state);
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &old), 0);
        rlimit low = old;
        low.rlim_cur = 128;
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
        const Scanned s = scanRange("127.0.0.1", first, last, 100);
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &old), 0);
        QCOMPARE(s.outcome, ConnectScan::Outcome::Finished);
        QCOMPARE(int(s.states.size()), last - first + 1);
        QVERIFY(s.peak >= 1 && s.peak < 128);
        for (const auto &[port, st] : s.states)
            QVERIFY2(st == state || std::count(ScanNamespace::listening().begin(),
                                               ScanNamespace::listening().end(), port),
                     qPrintable(QString::number(port)));
        QCOMPARE(scanRange("127.0.0.1", 6000, 6099, 100, 10).peak, 10); // the caller's bound
    }

    void cancelEndsPromptly()
    {
        const int sockets = ScanNamespace::socketCount();
        ConnectScan scan(target("127.0.0.1"), 6000, 6999, 600000);
        std::atomic<bool> done{false};
        ConnectScan::Outcome outcome = ConnectScan::Outcome::Finished;
        std::thread worker([&] {
            outcome = scan.run([](const scan::PortResult &) {});
            done = true;
        });
        QTRY_VERIFY(scan.inFlight() > 0);
        scan.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(done, 5000);
        worker.join();
        QCOMPARE(outcome, ConnectScan::Outcome::Cancelled);
        QCOMPARE(ScanNamespace::socketCount(), sockets);
    }

    void resolve_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("error");
        QTest::newRow("dotted") << "127.0.0.1"
                                << "127.0.0.1"
                                << "";
        QTest::newRow("IPv6") << "::1"
                              << "::1"
                              << "";
        QTest::newRow("name, IPv4 first") << "dual.velmaric.test"
                                          << "127.0.0.2"
                                          << "";
        QTest::newRow("unknown name") << "nowhere.velmaric.test"
                                      << ""
                                      << "Host \"nowhere.velmaric.test\" not found.";
        QTest::newRow("no answer")
            << "slow.velmaric.test"
            << ""
            << "Host \"slow.velmaric.test\" could not be looked up now; try again later.";
        QTest::newRow("empty") << ""
                               << ""
                               << "Enter a host name or address.";
    }
    void resolve()
    {
        QFETCH(QString, host);
        QFETCH(QString, address);
        QFETCH(QString, error);
        scan::Target t;
        std::string message;
        QCOMPARE(scan::resolveTarget(host.toStdString(), t, message), error.isEmpty());
        QCOMPARE(QString::fromStdString(t.text), address);
        QCOMPARE(QString::fromStdString(message), error);
    }

    void cli_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out"); // a pattern over the whole output
        QTest::addColumn<QString>("err");
        QTest::newRow("found") << QStringList{"127.0.0.1", "5000", "5019", "--timeout", "300"} << 0
                               << "^5001\t\n5004\t\n5010\t\n127.0.0.1: 3 open, 15 closed, 2 "
                                  "filtered of 20 ports in \\d+\\.\\d\\d s\n$"
                               << "^$";
        QTest::newRow("IPv6, service name")
            << QStringList{"::1", "20", "23"} << 0
            << "^22\tssh\n::1: 1 open, 3 closed, 0 filtered of 4 ports in "
            << "^$";
        QTest::newRow("unknown host") << QStringList{"nowhere.velmaric.test", "1", "2"} << 1 << "^$"
                                      << "Host \"nowhere.velmaric.test\" not found.";
        QTest::newRow("port 0") << QStringList{"127.0.0.1", "0", "10"} << 2 << "^$"
                                << "from 1 to 65535";
        QTest::newRow("port 65536") << QStringList{"127.0.0.1", "1", "65536"} << 2 << "^$"
                                    << "from 1 to 65535";
        QTest::newRow("first > last") << QStringList{"127.0.0.1", "10", "5"} << 2 << "^$"
                                      << "greater than the last";
        QTest::newRow("bad time-out")
            << QStringList{"127.0.0.1", "1", "2", "--timeout", "x"} << 2 << "^$"
            << "time-out";
        QTest::newRow("no last port") << QStringList{"127.0.0.1", "1"} << 2 << "^$"
                                      << "Usage:";
    }
    void cli()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QProcess p;
        p.start(Cli, QStringList{"scan"} + args);
        QVERIFY(p.waitForFinished(30000));
        const QString stdOut = QString::fromUtf8(p.readAllStandardOutput());
        const QString stdErr = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), exitCode);
        QVERIFY2(QRegularExpression(out).match(stdOut).hasMatch(), qPrintable(stdOut));
        QVERIFY2(QRegularExpression(err).match(stdErr).hasMatch(), qPrintable(stdErr));
    }
};

SCAN_NAMESPACE_TEST_MAIN(tst_ConnectScan, QCoreApplication)
#include "tst_connectscan.moc"
