// Echoes and traces through a chain of network namespaces, from the command line and the
// trace-route window: source - routers 1 to 4 - target. Another process pings the target all
// along with the trace's own data pattern, so its replies reach every raw socket here. Echoes
// over the source's loopback: through the ping window, and straight through the echo service
// with forged foreign replies queued ahead.
#include "echomodule.h"
#include "echosocket.h"
#include "frmnorvoping.h"
#include "frmnorvoroute.h"
#include "icmpapi.h"
#include "icmppacket.h"
#include "msgboxrecorder.h"
#include "netnschain.h"
#include "privatenetwork.h"
#include "skip.h"
#include "traceroute.h"
#include "uniquefd.h"
#include "winsock.h"

#include <QtTest>
#include <QtWidgets>

#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>

namespace {
const QString Target = QStringLiteral("10.99.4.2");
const uint32_t Loopback = 0x0100007F;
const QString Header = QStringLiteral("Tracing Route to 10.99.4.2:\n\n");
// A router that sends no time-exceeded messages: its hop stays silent.
const QString SilentRouter = "table inet silent { chain errors { type filter hook output "
                             "priority 0; icmp type time-exceeded drop; }; }";
// Router 1 also forwards nothing: every attempt runs its whole time-out.
const QString BlackHole = SilentRouter.chopped(1) +
                          "chain passing { type filter hook forward priority 0; drop; }; }";
// DNS queries to the source's own resolver vanish; those to any other go into the chain and
// vanish at the target.
const QString SilentResolver = "table inet dns { chain in { type filter hook input priority 0; "
                               "udp dport 53 drop; tcp dport 53 drop; }; }";

// The whole output of a trace to Target; the hosts file names routers 1 and 3.
QString expectedTrace(int silentHop, bool names)
{
    const QString name[] = {{}, "\trouter-one.chain.test", {}, "\trouter-three.chain.test", {}, {}};
    QString text = Header;
    for (int k = 1; k <= 5; ++k)
        text += k == silentHop ? QStringLiteral("Hop #\t%1\t*\t\n").arg(k)
                               : QStringLiteral("Hop #\t%1\t<10 ms\t10.99.%2.2%3\n")
                                     .arg(k)
                                     .arg(k - 1)
                                     .arg(names ? name[k] : QString());
    return text + "\nTrace Route Complete\n";
}

// Raw sockets of this namespace: the foreign ping's and those of traces under way.
int rawSockets()
{
    QFile table(QStringLiteral("/proc/net/raw"));
    return table.open(QIODevice::ReadOnly) ? int(table.readAll().count('\n')) : -1;
}

// Fails the test with the elapsed time when it is not below the limit.
#define VERIFY_WITHIN(timer, ms) \
    QVERIFY2((timer).elapsed() < (ms), qPrintable(QString::number((timer).elapsed())))
} // namespace

class tst_frmNorvoRoute : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (geteuid() != 0)
            VELMARIC_SKIP("network namespaces need root");
        m_chain = std::make_unique<NetnsChain>(
            4, "10.99.0.2 router-one.chain.test\n10.99.2.2 router-three.chain.test\n");
        QVERIFY2(m_chain->error().isEmpty(), qPrintable(m_chain->error()));
        // Router 4 refuses these destinations by rule (rules are answered through the ICMP rate
        // limit, which the fixture turns off, unlike the separate limit of unreachable routes).
        QVERIFY(
            m_chain->nft(m_chain->router(4),
                         "table inet rules { chain probes { type filter hook forward priority 0; "
                         "ip daddr 10.98.1.0/24 reject with icmp type host-unreachable; "
                         "ip daddr 10.98.2.0/24 reject with icmp type admin-prohibited; "
                         "ip daddr 10.98.3.0/24 reject with icmp type net-unreachable; "
                         "ip daddr 10.98.4.0/24 reject with icmp type port-unreachable; "
                         "ip daddr 10.98.5.0/24 drop; }; }"));
        // An address of the target whose value in network byte order is above 2^31: the ping
        // shows it as a negative number.
        QCOMPARE(sh(m_chain->router(5), "ip addr add 10.97.0.200 dev lo"), 0);
        QVERIFY(enterNetns(m_chain->source())); // echoes and the window's traces go from here
        m_foreignPing.setStandardOutputFile(QProcess::nullDevice());
        m_foreignPing.setStandardErrorFile(QProcess::nullDevice());
        m_foreignPing.start("ping", {"-q", "-i", "0.002", "-s", "32", "-p", "61", Target});
        QVERIFY(m_foreignPing.waitForStarted());
    }
    void init()
    {
        QVERIFY(m_chain->clearRules());
        QVERIFY(m_chain->useSocketKind("raw"));
        m_boxes.reset();
        open();
    }
    void cleanup()
    {
        m_window.reset();
        m_ping.reset();
        QCOMPARE(m_boxes.take(), QStringList()); // no case here shows a message
        QCOMPARE(m_foreignPing.state(), QProcess::Running);
    }

    void statuses_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("echo"); // destination, status, address the reply came from
        const char *rows[][2] = {{"echo reply from above 2^31", "10.97.0.200 0 10.97.0.200"},
                                 {"host unreachable", "10.98.1.1 11003 10.99.3.2"},
                                 {"prohibited", "10.98.2.1 11004 10.99.3.2"},
                                 {"net unreachable", "10.98.3.1 11002 10.99.3.2"},
                                 {"port unreachable", "10.98.4.1 11005 10.99.3.2"},
                                 {"nobody answers", "10.98.5.1 11010 0.0.0.0"}};
        for (const char *kind : {"raw", "datagram"})
            for (const auto &r : rows)
                QTest::addRow("%s: %s", kind, r[0]) << kind << r[1];
    }
    void statuses()
    {
        QFETCH(QString, kind);
        QFETCH(QString, echo);
        const QStringList e = echo.split(' ');
        QVERIFY(m_chain->useSocketKind(kind));
        QCOMPARE(echoSocketOf(IcmpFile().handle())->kind() == EchoSocket::Kind::Raw, kind == "raw");
        // The ping window's echo, from the command line: status and address lines.
        QByteArray out;
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(m_chain->exec(m_chain->source(), {VELMARIC_CLI, "ping", e[0], "chain"}, &out),
                 e[1] == "0" ? 0 : 1);
        const QStringList lines = QString(out).split('\n');
        QVERIFY2(lines[0].startsWith("Return Status : " + e[1] + "   ["), out.constData());
        const qint32 address = qint32(winsock::inet_addr(e[2].toStdString())); // shown signed
        QCOMPARE(lines.value(1), "Address(decimal) : " + QString::number(address));
        // The whole time-out, not an early give-up.
        QVERIFY(e[1] != "11010" || timer.elapsed() >= 490);
    }

    void trace_data()
    {
        // The window (a raw socket) or the command line, which runs the same engine; names from
        // the hosts file while the resolver never answers. Hops that all answer are traced by
        // midTrace().
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("silentHop");
        QTest::addColumn<bool>("names");
        QTest::newRow("window: router 2 silent") << "window" << 2 << false;
        QTest::newRow("datagram: router 2 silent") << "datagram" << 2 << false;
        QTest::newRow("raw: hop names, silent resolver") << "raw" << 0 << true;
    }
    void trace()
    {
        QFETCH(QString, how);
        QFETCH(int, silentHop);
        QFETCH(bool, names);
        QVERIFY(m_chain->useSocketKind(how == "datagram" ? "datagram" : "raw"));
        QVERIFY(!silentHop || m_chain->rule(m_chain->router(silentHop), SilentRouter));
        QVERIFY(!names || m_chain->rule(m_chain->source(), SilentResolver));
        if (how == "window") {
            m_window->Text3->setText("20");
            traceInWindow(Target);
            QCOMPARE(m_window->Text3->text() + ' ' + m_window->Text2->text() + ' ' +
                         m_window->Text1->text(),
                     "32 1 " + Target);
            QCOMPARE(output(), expectedTrace(silentHop, false));
            // One line per attempt: a silent hop is tried three times before its "*".
            QCOMPARE(attempts(), "1,2,2,2,3,4,5");
            QVERIFY(m_window->Command1->isEnabled() && !m_window->cmdStop->isEnabled());
            return;
        }
        QByteArray out, err;
        QElapsedTimer timer;
        timer.start();
        const QStringList command{VELMARIC_CLI, "trace", Target, "--resolve"};
        QCOMPARE(m_chain->exec(m_chain->source(), command.mid(0, names ? 4 : 3), &out, &err), 0);
        // Hops the resolver keeps silent about wait about a second for a name, all at once.
        if (names)
            VERIFY_WITHIN(timer, 2500);
        QCOMPARE(QString::fromLocal8Bit(out), expectedTrace(silentHop, names));
        QCOMPARE(err, QByteArray());
    }

    void engine_data()
    {
        QTest::addColumn<int>("lastSequence"); // -1: as the socket chose
        QTest::addColumn<int>("maxInFlight");
        QTest::addColumn<bool>("stall");
        // Two probes at a time: TTL 3's probe (sequence 0) is under way when TTL 1's hop is done.
        QTest::newRow("sequence wraps to 0 on a probe under way") << 65533 << 2 << false;
        QTest::newRow("sequence wraps, all probes at once") << 65532 << 16 << false;
        QTest::newRow("replies wait through a stall") << -1 << 16 << true;
    }
    void engine()
    {
        QFETCH(int, lastSequence);
        QFETCH(int, maxInFlight);
        QFETCH(bool, stall);
        IcmpFile handle;
        QVERIFY(handle);
        if (lastSequence >= 0)
            echoSocketOf(handle.handle())->setLastSequence(uint16_t(lastSequence));
        TraceRoute::Settings settings;
        settings.maxInFlight = maxInFlight;
        settings.timeoutMs = stall ? 200 : 2400;
        TraceRoute route(handle.handle(), winsock::inet_addr(Target.toStdString()),
                         Target.toStdString(), 32, settings);
        QStringList steps; // each finished attempt: its TTL, "*" when unanswered
        auto record = [&](const std::optional<TraceRoute::Step> &step) {
            if (step)
                steps << QString::number(step->ttl) + (step->answered ? "" : "*");
        };
        if (stall) {
            record(route.next(0)); // the first probes go out
            // The caller is busy well beyond the attempts' time-out while every reply comes in.
            QTest::qSleep(2 * settings.timeoutMs);
        }
        while (!route.finished())
            record(route.next(5000));
        QCOMPARE(steps.join(','), "1,2,3,4,5");
        QVERIFY(route.complete());
    }

    void midTrace_data()
    {
        QTest::addColumn<QString>("action");
        // A hop's name, an answer (router 1 forwards and answers nothing) or the target's address.
        QTest::addColumn<QString>("pending");
        for (const char *action : {"stop", "close"})
            for (const char *pending : {"a name", "an answer", "the target"})
                QTest::addRow("%s while %s is pending", action, pending) << action << pending;
        QTest::newRow("reload") << QString("reload") << QString("an answer");
        QTest::newRow("destroy") << QString("destroy") << QString("a name");
    }
    void midTrace()
    {
        QFETCH(QString, action);
        QFETCH(QString, pending);
        const bool target = pending == "the target";
        // With names on, hop 1 answers at once and the look-up of its name keeps it under way.
        QVERIFY(pending == "an answer" ? m_chain->rule(m_chain->router(1), BlackHole)
                                       : m_chain->rule(m_chain->source(), SilentResolver));
        m_window->Check1->setChecked(pending == "a name");
        const int socketsBefore = rawSockets();
        bool tracing = false;
        QElapsedTimer timer;
        traceInWindow(target ? "pending.chain.test" : Target, [&] {
            tracing = m_window->isTracing() && !m_window->Command1->isEnabled() &&
                      m_window->cmdStop->isEnabled();
            timer.start();
            if (action == "stop")
                QTest::mouseClick(m_window->cmdStop, Qt::LeftButton);
            else if (action == "destroy")
                m_window.reset();
            else
                m_window->close();
            if (action == "reload")
                open(); // deletes the controls the trace was writing to
        });
        QVERIFY2(tracing, "the trace was over before the action");
        // Control comes back at once, not after the second a name may take or an attempt's
        // time-out; the window is gone or idle.
        VERIFY_WITHIN(timer, 600);
        QCOMPARE(rawSockets(), socketsBefore);
        if (!m_window)
            return;
        QVERIFY(!m_window->isTracing() && m_window->Command1->isEnabled() &&
                !m_window->cmdStop->isEnabled());
        // What was shown stays (a reloaded window shows nothing); the attempt under way adds
        // nothing.
        QCOMPARE(m_window->Text4->toPlainText() + attempts(),
                 action == "reload" || target ? "" : Header + '1');
        if (action == "reload")
            return;
        // At once the window traces again (a closed one once loaded again); names the resolver
        // keeps silent about hold each hop line a second at most.
        QVERIFY(m_chain->nft(m_chain->router(1), QString()));
        if (action == "close")
            open();
        timer.restart();
        traceInWindow(Target);
        QCOMPARE(output(), expectedTrace(0, false));
        VERIFY_WITHIN(timer, 2500);
    }

    void twoPingsInARow_data()
    {
        // The second ping's address and text; its status, address, size and data boxes.
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("boxes");
        const QString ok = "0   [ ip success ]|16777343|", y(250, 'y'), z(300, 'z');
        const auto row = [](const char *name, const QString &address, const QString &text,
                            const QString &boxes) {
            QTest::newRow(name) << address << text << boxes;
        };
        row("text", "127.0.0.1", "hello", ok + "5 bytes|hello");
        row("empty text: size 0, data box keeps the first", "127.0.0.1", "",
            ok + "0 bytes|first data");
        row("fills the data area", "127.0.0.1", y, ok + "250 bytes|" + y);
        row("longer than the data area", "127.0.0.1", z,
            "11001   [ ip buf too_small ]|16777343|250 bytes|" + z.left(250));
        row("not dotted: the broadcast address", "255.255.255.255", "abc",
            "-1   [ inet_addr: bad IP format ]|0|0 bytes|first data");
    }
    void twoPingsInARow()
    {
        QFETCH(QString, address);
        QFETCH(QString, text);
        QCOMPARE(ping("127.0.0.1", "first data").mid(3, 2),
                 (QStringList{"10 bytes", "first data"}));
        const QStringList b = ping(address, text);
        QTEST(QStringList({b[0], b[1], b[3], b[4]}).join('|'), "boxes");
        // Round trip and data pointer: zeros when nothing was sent, numbers otherwise.
        QVERIFY2(b[0].startsWith("-1") ? b[2] + '|' + b[5] == "0 ms|0"
                                       : b[2].endsWith(" ms") && b[5] != "0",
                 qPrintable(b.join('|')));
    }

    void withoutPermission()
    {
        // A network namespace of this thread's own where no group may open ICMP datagram sockets
        // (ping_group_range "1 0"), and CAP_NET_RAW out of the effective set against raw ones:
        // root sees what a user of a host that allows neither sees.
        const PrivateNetwork network;
        QFile range(QStringLiteral("/proc/sys/net/ipv4/ping_group_range"));
        QVERIFY(!network.entered() ||
                (range.open(QIODevice::WriteOnly) && range.write("1 0") == 3));
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct saved[2]{}, reduced[2]{};
        QCOMPARE(syscall(SYS_capget, &header, saved), 0);
        std::copy(saved, saved + 2, reduced);
        reduced[CAP_NET_RAW / 32].effective &= ~(1u << (CAP_NET_RAW % 32));
        if (syscall(SYS_capset, &header, reduced) != 0)
            VELMARIC_SKIP("cannot change this thread's capabilities");
        auto restore = qScopeGuard([&] { syscall(SYS_capset, &header, saved); });
        if (IcmpFile())
            VELMARIC_SKIP("needs root for a network namespace: this user may open ICMP sockets");
        // A message saying how to allow echoes, not "ip success" with zeros: the boxes stay empty.
        QCOMPARE(ping("127.0.0.1", "abc").join('|'), "|||||");
        QCOMPARE(m_boxes.take(),
                 QStringList{QString::number(vbExclamation) + ' ' + EchoNotPermittedText});
    }

    void foreignEchoesNeverTaken()
    {
        // Before each echo a raw socket queues replies on loopback that differ from the right one
        // in one point: identifier, sequence or data. Sent with TTL 7, a wrongly taken one shows
        // even where its data equals ours.
        const UniqueFd forger(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
        const int forgedTtl = 7;
        if (!forger || ::setsockopt(forger.get(), IPPROTO_IP, IP_TTL, &forgedTtl, sizeof forgedTtl))
            VELMARIC_SKIP("a raw socket is needed to forge foreign echoes");
        auto forge = [&forger](uint16_t id, uint16_t seq, const QByteArray &data) {
            auto packet = icmp::buildEchoRequest(
                id, seq,
                {reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size())});
            packet[0] = icmp::TypeEchoReply;
            packet[2] = packet[3] = 0;
            const uint16_t sum = icmp::checksum(packet);
            packet[2] = uint8_t(sum >> 8);
            packet[3] = uint8_t(sum);
            const sockaddr_in to{AF_INET, 0, {Loopback}, {}};
            ::sendto(forger.get(), packet.data(), packet.size(), 0,
                     reinterpret_cast<const sockaddr *>(&to), sizeof to);
        };
        IcmpFile handle;
        QVERIFY(handle);
        // One echo: its reply's TTL and data, or what went wrong.
        auto echo = [&handle](const QByteArray &text) -> std::pair<int, QByteArray> {
            std::vector<char> buffer(sizeof(ICMP_ECHO_REPLY) + 400);
            const uint32_t n = IcmpSendEcho(handle.handle(), Loopback, text.constData(),
                                            uint16_t(text.size()), nullptr, buffer.data(),
                                            uint32_t(buffer.size()), 500);
            ICMP_ECHO_REPLY r;
            std::memcpy(&r, buffer.data(), sizeof r);
            if (n != 1 || r.Status != 0)
                return {-1, "replies " + QByteArray::number(n) + ", status " +
                                QByteArray::number(r.Status)};
            return {r.Options.Ttl, QByteArray(buffer.data() + sizeof r, r.DataSize)};
        };
        const QByteArray whole(300, 'w'); // comes back whole where the reply buffer has room for it
        QCOMPARE(echo(whole).second, whole);
        EchoSocket *socket = echoSocketOf(handle.handle());
        for (uint16_t seq = 65530; seq != 10; ++seq) { // across the wrap
            socket->setLastSequence(uint16_t(seq - 1));
            const QByteArray text = "ours-" + QByteArray::number(seq);
            forge(socket->identifier() ^ 0x0101, seq, text);      // another process
            forge(socket->identifier(), uint16_t(seq - 1), text); // an earlier request
            forge(socket->identifier(), seq, "forged");           // other data
            const auto [ttl, data] = echo(text);
            QCOMPARE(data, text);
            QVERIFY(ttl != forgedTtl);
        }
    }

    void unresolvedTarget()
    {
        // The command line's resolver only knows its hosts file, so nothing leaves the chain.
        QByteArray out, err;
        QCOMPARE(m_chain->exec(m_chain->source(), {VELMARIC_CLI, "trace", "nohost.chain.test"},
                               &out, &err),
                 1);
        QCOMPARE(out, "Tracing Route to nohost.chain.test:\n\n\nTrace Route Complete\n");
        QVERIFY(err.contains("not found"));
        // The window's resolver is the system's: without a route its look-up fails at once.
        QCOMPARE(sh(m_chain->source(), "ip route del default"), 0);
        traceInWindow("no-such-host.invalid");
        QCOMPARE(sh(m_chain->source(), "ip route add default via 10.99.0.2"), 0);
        QCOMPARE(m_window->Text1->text() + '|' + attempts(), "|1"); // no address, one attempt
        QCOMPARE(output(), "Tracing Route to no-such-host.invalid:\n\n\nTrace Route Complete\n");
    }

private:
    int sh(const QString &ns, const QString &command)
    {
        return m_chain->exec(ns, command.split(' '));
    }
    void open()
    {
        if (!m_window)
            m_window = std::make_unique<frmNorvoRoute>();
        m_window->load();
        m_window->show();
    }
    // Traces in the window until the trace ends, calling during() once the first attempt is
    // under way, or, for a
    // target given by name, while it is looked up.
    void traceInWindow(const QString &target, const std::function<void()> &during = {})
    {
        m_window->Combo1->setEditText(target);
        if (during) {
            auto *poll = new QTimer(m_window.get());
            const bool byName = target.front().isLetter();
            connect(poll, &QTimer::timeout, this, [this, poll, during, byName] {
                if (m_window->List1->count() > 0 || (byName && m_window->isTracing())) {
                    poll->stop();
                    during();
                }
            });
            poll->start(20);
        }
        QTest::mouseClick(m_window->Command1, Qt::LeftButton);
        // The trace runs on the window's job; the window may be gone when it ends.
        QVERIFY(QTest::qWaitFor([this] { return !m_window || !m_window->isTracing(); }, 120000));
    }
    // Text4 with times of busy moments ("11 ms") read as "<10 ms"; List1's lines.
    QString output() const
    {
        return QString(m_window->Text4->toPlainText() + '\n')
            .replace(QRegularExpression("\t\\d+ ms\t"), "\t<10 ms\t");
    }
    QString attempts() const
    {
        QStringList lines;
        for (int i = 0; i < m_window->List1->count(); ++i)
            lines << m_window->List1->item(i)->text();
        return lines.join(',');
    }
    // The six result boxes of a ping window after a press of "Ping".
    QStringList ping(const QString &address, const QString &text)
    {
        if (!m_ping) {
            m_ping = std::make_unique<frmNorvoPing>();
            m_ping->load();
            m_ping->show();
        }
        m_ping->Text1->setText(address);
        m_ping->Text2->setText(text);
        QTest::mouseClick(m_ping->Command1, Qt::LeftButton);
        QStringList boxes;
        for (auto *box : m_ping->Text4)
            boxes << box->text();
        return boxes;
    }
    std::unique_ptr<NetnsChain> m_chain;
    QProcess m_foreignPing; // killed with the test object
    std::unique_ptr<frmNorvoRoute> m_window;
    std::unique_ptr<frmNorvoPing> m_ping;
    MsgBoxRecorder m_boxes;
};

QTEST_MAIN(tst_frmNorvoRoute)
#include "tst_frmnorvoroute.moc"
