// The connect-scan engine, velmaric-cli scan and the Port Scanner window against listeners,
// firewall rules and a name server in the resolver fixture's namespace (resolver-netns.sh), to
// which this test adds what a scan needs.
#include "connectscan.h"
#include "frmportscan.h"
#include "msgboxrecorder.h"
#include "resolvernamespace.h"

#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

#include <sys/resource.h>
#include <sys/socket.h>

namespace {
// Listened on both loopbacks; the rules below make 5007 and 6000-6999 drop every probe, 5013
// answer "administratively prohibited" and 5016 reset.
const QList<quint16> Listening{22, 5001, 5004, 5010};
const QString Rules = "table inet probes { chain input { type filter hook input priority 0;\n"
                      "tcp dport { 5007, 6000-6999 } drop\n"
                      "tcp dport 5013 reject with icmpx type admin-prohibited\n"
                      "tcp dport 5016 reject with tcp reset; }\n}\n";

// "port state" lines of one engine scan of 127.0.0.1, by port; none when it did not finish.
QStringList scanned(int first, int last, int timeoutMs, int *peak = nullptr)
{
    scan::Target target;
    std::string error;
    scan::resolveTarget("127.0.0.1", target, error);
    scan::ConnectScan scan(target, uint16_t(first), uint16_t(last), timeoutMs);
    QMultiMap<int, QString> lines;
    const auto outcome = scan.run([&lines](const scan::PortResult &r) {
        lines.insert(r.port, QString::number(r.port) + ' ' + scan::stateText(r.state));
    });
    if (peak)
        *peak = scan.peakInFlight();
    return outcome == scan::ConnectScan::Outcome::Finished ? lines.values() : QStringList();
}

// What the listeners and rules make of each port.
QStringList expected(int first, int last)
{
    QStringList lines;
    for (int p = first; p <= last; ++p)
        lines << QStringLiteral("%1 %2").arg(p).arg(
            Listening.contains(p)                                ? "open"
            : p == 5007 || p == 5013 || (p >= 6000 && p <= 6999) ? "filtered"
                                                                 : "closed");
    return lines;
}

// TCP and UDP sockets this process holds: the scan's connections and look-ups beside the
// fixture's own, none of the X or D-Bus connections the toolkit opens when it likes.
int inetSockets()
{
    int n = 0;
    for (const QString &fd : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System)) {
        int domain = 0;
        socklen_t len = sizeof domain;
        n += ::getsockopt(fd.toInt(), SOL_SOCKET, SO_DOMAIN, &domain, &len) == 0 &&
             (domain == AF_INET || domain == AF_INET6);
    }
    return n;
}
} // namespace

class tst_PortScan : public QObject {
    Q_OBJECT
    std::vector<std::unique_ptr<QTcpServer>> m_listeners;
    QUdpSocket m_dns;
    std::unique_ptr<frmPortScan> m_window;
    MsgBoxRecorder m_boxes;

    // Host, first and last port, time-out; then Scan, and unless told otherwise, its end.
    bool start(const QStringList &f, bool wait = true)
    {
        m_window->txtHost->setText(f.value(0));
        m_window->txtFirstPort->setText(f.value(1));
        m_window->txtLastPort->setText(f.value(2));
        m_window->txtTimeout->setText(f.value(3));
        QTest::mouseClick(m_window->cmdScan, Qt::LeftButton);
        return !wait || QTest::qWaitFor([this] { return !m_window->isScanning(); }, 10000);
    }
    // The window's list, "port state service" per row.
    QStringList rows() const
    {
        QStringList lines;
        const QAbstractItemModel *m = m_window->lvwPorts->model();
        const auto cell = [m](int r, int c) { return m->index(r, c).data().toString(); };
        for (int r = 0; r < m->rowCount(); ++r)
            lines << (cell(r, 0) + ' ' + cell(r, 1) + ' ' + cell(r, 2)).trimmed();
        return lines;
    }

private Q_SLOTS:
    void initTestCase()
    {
        REQUIRE_RESOLVER_NAMESPACE();
        for (quint16 port : Listening) {
            auto &s = m_listeners.emplace_back(std::make_unique<QTcpServer>());
            QVERIFY2(s->listen(QHostAddress::Any, port), qPrintable(s->errorString()));
            s->pauseAccepting(); // connections wait in the backlog
        }
        // The namespace's name server, which never answers.
        QVERIFY2(m_dns.bind(QHostAddress::LocalHost, 53), qPrintable(m_dns.errorString()));
        // In the namespace's own /etc, which `ip netns exec` mounted over the machine's:
        // dual.velmaric.test lists its IPv6 address first; the scanner takes the IPv4 one.
        const QString etc = "/etc/netns/" + qEnvironmentVariable("VELMARIC_RESOLVER_NETNS") + '/';
        QFile hosts(etc + "hosts"), nsswitch(etc + "nsswitch.conf");
        QVERIFY(hosts.open(QIODevice::Append) &&
                hosts.write("::1 dual.velmaric.test\n127.0.0.2 dual.velmaric.test\n") > 0);
        QVERIFY(nsswitch.open(QIODevice::WriteOnly) && nsswitch.write("hosts: files dns\n") > 0);
        QVERIFY2(QProcess::execute(QStringLiteral("nft"), {Rules}) == 0, "nft took no rules");
    }
    void init()
    {
        m_boxes.reset();
        m_window = std::make_unique<frmPortScan>();
        m_window->load();
        m_window->show();
    }
    void cleanup() { m_window.reset(); }

    // With the probed ports among the local ports, a connect may pick its target as its own
    // source and reach itself; that is no listener.
    void selfConnectIsClosed()
    {
        QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
        QVERIFY(range.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
        const auto restore = qScopeGuard(
            [&, old = range.readAll()] { range.seek(0), range.write(old); });
        QVERIFY(range.seek(0) && range.write("7000 7031") == 9);
        for (int round = 0; round < 20; ++round)
            QCOMPARE(scanned(7000, 7031, 300), expected(7000, 7031));
    }

    // A low descriptor limit bounds the connections in flight, and the scan still ends whole,
    // whether ports end at once (closed) or stay in flight (dropped).
    void descriptorLimit()
    {
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &old), 0);
        const rlimit low{128, old.rlim_max};
        int peak = 0;
        for (const auto &[first, last] : {std::pair{1, 3000}, {6000, 6299}}) {
            QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
            const QStringList lines = scanned(first, last, 100, &peak);
            QCOMPARE(setrlimit(RLIMIT_NOFILE, &old), 0);
            QCOMPARE(lines, expected(first, last));
            QVERIFY(peak >= 1 && peak < 128);
        }
    }

    // The same fields to velmaric-cli scan, under way beside the window's scan: what both list
    // and count, or the message, the exit code and the box to correct.
    void scan_data()
    {
        QTest::addColumn<QStringList>("f"); // host, first and last port, time-out, "all" listed
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("text");  // the address scanned, or the message's pattern
        QTest::addColumn<QString>("focus"); // where the window's message leads
        const auto row = [](const char *name, const char *fields, int code, const char *text,
                            const char *focus = "txtHost") {
            QTest::newRow(name) << QString(fields).split(',') << code << text << focus;
        };
        row("name, many ports", "localhost,1,5019,300", 0, "127.0.0.1");
        row("IPv6, every port", "::1,5010,5016,300,all", 0, "::1");
        row("name with both families", "dual.velmaric.test,5000,5002,300", 0, "127.0.0.2");
        row("unknown host", "nowhere..velmaric.test,1,2,300", 1, "Host \"nowhere\\..*\" not found");
        row("no answer", "slow.velmaric.test,1,2,300", 1, "slow.* could not be looked up now");
        row("no host", ",1,2,300", 1, "Enter a host name or address\\.$");
        const char *range = "ports? .*numbers? from 1 to 65535";
        row("port 0", "::1,0,2,300", 2, range, "txtFirstPort");
        row("not a number", "::1,1,x,300", 2, range, "txtLastPort");
        row("port 65536", "::1,1,65536,300", 2, range, "txtLastPort");
        row("no last port", "::1,1", 2, "last port", "txtLastPort");
        row("first > last", "::1,9,8,300", 2, "first port .* greater than the", "txtFirstPort");
        row("time-out 0", "::1,1,2,0", 2, "time-out must be .* from 1 to 600000", "txtTimeout");
    }
    void scan()
    {
        QFETCH(QStringList, f);
        QFETCH(int, exitCode);
        QFETCH(QString, text);
        QFETCH(QString, focus);
        QProcess cli;
        cli.start(VELMARIC_CLI,
                  QStringList{"scan"} + f.mid(0, 3) +
                      (f.size() > 3 ? QStringList{"--timeout", f[3]} : QStringList()));
        QApplication::setActiveWindow(m_window.get());
        m_window->lvwPorts->setFocus();
        QTRY_VERIFY(m_window->lvwPorts->hasFocus());
        m_window->chkListAll->setChecked(f.size() > 4);
        QVERIFY(start(f));
        QVERIFY(m_window->cmdScan->isEnabled() && !m_window->cmdStop->isEnabled());
        QVERIFY(cli.state() == QProcess::NotRunning || cli.waitForFinished(30000));
        const QString out = cli.readAllStandardOutput(), err = cli.readAllStandardError();
        QCOMPARE(cli.exitCode(), exitCode);
        if (exitCode) {
            const QRegularExpression message(text, QRegularExpression::CaseInsensitiveOption);
            QVERIFY2(out.isEmpty() && message.match(err).hasMatch(), qPrintable(err));
            const QStringList shown = m_boxes.texts();
            QVERIFY2(shown.size() == 1 && message.match(shown[0]).hasMatch(),
                     qPrintable(shown.join('\n')));
            QCOMPARE(rows(), QStringList());
            QTRY_COMPARE(QApplication::focusWidget()->objectName(), focus);
            return;
        }
        // What the listeners and rules make of the ports: the window lists them, the tool prints
        // the open ones with their services; both count them.
        QStringList all = expected(f[1].toInt(), f[2].toInt());
        all.replaceInStrings(QRegularExpression("^22 open$"), "22 open ssh");
        const QStringList open = all.filter(" open");
        QCOMPARE(rows(), f.size() > 4 ? all : open);
        QCOMPARE(m_boxes.texts(), QStringList());
        const auto n = [&all](const char *state) { return int(all.filter(state).size()); };
        QCOMPARE(m_window->lblFound->text(),
                 QString::asprintf("Open ports found: %d (closed: %d, filtered: %d)", n(" open"),
                                   n(" closed"), n(" filtered")));
        QCOMPARE(m_window->lblFound->accessibleName(), m_window->lblFound->text());
        QVERIFY(m_window->lblStatus->text().startsWith("Scanned ") &&
                m_window->lblStatus->text().contains(text));
        QString printed;
        for (QString line : open)
            printed += line.replace(QRegularExpression(" open ?"), "\t") + '\n';
        printed += QString::asprintf("%s: %d open, %d closed, %d filtered of %d ports in ",
                                     qPrintable(text), n(" open"), n(" closed"), n(" filtered"),
                                     n(""));
        QVERIFY2(out.startsWith(printed) && out.endsWith(" s\n"), qPrintable(out));
        QCOMPARE(m_window->prgScan->value(), m_window->prgScan->maximum());
    }

    // Ports that drop every probe keep the scan under way until it is stopped or closed; a
    // name the name server never answers keeps the look-up waiting. Either way every socket
    // of the scan goes, and the window scans again.
    void interrupt_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("close");
        QTest::newRow("Stop") << "127.0.0.1" << false;
        QTest::newRow("closing the window") << "127.0.0.1" << true;
        QTest::newRow("closing during the look-up") << "slow.velmaric.test" << true;
    }
    void interrupt()
    {
        QFETCH(QString, host);
        QFETCH(bool, close);
        const int sockets = inetSockets();
        start({host, "6000", "6999", "600000"}, false);
        QVERIFY(m_window->isScanning() && !m_window->cmdScan->isEnabled());
        // Connections in flight, or the look-up's query out.
        QTRY_VERIFY(inetSockets() > sockets && (m_window->inFlight() > 0 || host != "127.0.0.1"));
        if (close) {
            QVERIFY(m_window->close());
            QVERIFY(!m_window->isScanning()); // at once: nothing of the scan outlives the window,
            // but a look-up cannot be interrupted, and closing does not wait for it.
            QCOMPARE(inetSockets() > sockets, host != "127.0.0.1");
            m_window->load();
            m_window->show();
        } else {
            QTest::mouseClick(m_window->cmdStop, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!m_window->isScanning(), 5000);
            QVERIFY(m_window->lblStatus->text().startsWith("Stopped after "));
            QCOMPARE(m_window->lblStatus->accessibleName(), m_window->lblStatus->text());
        }
        // The look-up lets its socket go once it gives up.
        QTRY_COMPARE_WITH_TIMEOUT(inetSockets(), sockets, 15000);
        QVERIFY(start({"127.0.0.1", "5001", "5001", "300"}));
        QCOMPARE(rows(), QStringList{"5001 open"});
        QCOMPARE(m_boxes.texts(), QStringList());
    }
};

RESOLVER_NAMESPACE_TEST_MAIN(tst_PortScan, QApplication)
#include "tst_portscan.moc"
