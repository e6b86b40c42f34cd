// velmaric-cli's counting ping, IPv6 trace and trace report through a chain of network
// namespaces: source - routers 1 to 4 - target, over IPv6 (fd99:<link>::/64) and IPv4. Every
// figure is checked against the replies the output shows, not against itself.
#include "netnschain.h"
#include "skip.h"

#include <QtTest>

#include <cmath>
#include <csignal>

namespace {
const QString Target6 = QStringLiteral("fd99:4::2");
// A router that sends no time-exceeded messages: its hop stays silent.
const QString Silent = "table inet t { chain out { type filter hook output priority 0; "
                       "icmpv6 type time-exceeded drop; icmp type time-exceeded drop; }; }";

struct Run {
    int status = -1;
    QStringList out; // lines
    QString err;
};

// The address hop k answers from over IPv6: link k-1's far end.
QString hop6(int k)
{
    return k == 1 ? QStringLiteral("fd99::2") : QString("fd99:%1::2").arg(k - 1);
}

// Whole microseconds of a time ping printed ("0.051"); -1 when it was rounded (above 1 ms).
long micros(const QString &ms)
{
    const int decimals = int(ms.size() - ms.indexOf('.') - 1);
    return ms.contains('.') && decimals == 3 ? long(std::lround(ms.toDouble() * 1000)) : -1;
}
} // namespace

class tst_CliIcmp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (geteuid() != 0)
            return; // the chain's cases skip
        m_chain = std::make_unique<NetnsChain>(4, "fd99::2 router-one.chain.test\n");
        QVERIFY2(m_chain->error().isEmpty(), qPrintable(m_chain->error()));
        // Neighbour discovery and ARP settle before anything counts losses.
        for (const QString &target : {Target6, QStringLiteral("10.99.4.2")})
            QTRY_VERIFY_WITH_TIMEOUT(
                m_chain->exec(m_chain->source(), {"ping", "-c", "1", "-W", "1", target}) == 0,
                10000);
    }
    void init()
    {
        if (!m_chain && QString(QTest::currentTestFunction()) != "usageErrors")
            VELMARIC_SKIP("network namespaces need root");
        QVERIFY(m_chain->clearRules());
    }

    void usageErrors_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("message");
        const char *rows[][3] = {
            {"unknown option", "ping -x ::1", "unknown option '-x'"},
            {"count 0", "ping -c 0 ::1", "count must be a whole number"},
            {"count joined to its option", "ping ::1 -c0", "count must be a whole number"},
            {"negative interval", "ping -i -1 ::1", "interval must be a number"},
            {"IPv6 text with -4", "ping -4 -c 1 ::1", "IPv6 address, but -4"},
            {"IPv4 text with -6", "trace -6 127.0.0.1", "IPv4 address, but -6"},
            {"empty host", "ping -c 1 ", "no host given"},
            {"empty trace host", "trace ", "no host given"},
            {"cycles without report", "trace --cycles 3 ::1", "belong to --report"},
            {"cycles 0", "trace --report --cycles 0 ::1", "cycles must be"},
            {"resolve --all twice", "resolve --all --all", ""},
            {"table option", "tcptable -q", "unknown option '-q'"},
            {"flooding as a user", "nobody: ping -i 0.1 -c 1 ::1", "superuser"},
            {"fast report as a user", "nobody: trace --report --interval 0.1 ::1", "superuser"}};
        for (const auto &[name, args, message] : rows)
            QTest::newRow(name) << QString(args) << QString(message);
    }
    void usageErrors()
    {
        QFETCH(QString, args);
        QFETCH(QString, message);
        QStringList command = QStringList{VELMARIC_CLI} + args.split(' ');
        if (args.startsWith("nobody: ")) {
            if (geteuid() != 0)
                VELMARIC_SKIP("needs root to run as another user");
            command = QStringList{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                  VELMARIC_CLI} +
                      args.mid(8).split(' ');
        }
        QProcess p;
        p.start(command.takeFirst(), command);
        QVERIFY(p.waitForFinished(10000));
        const QString err = p.readAllStandardError();
        QCOMPARE(p.exitCode(), 2);
        QVERIFY2(err.contains(message) && err.contains("Usage: velmaric-cli "), qPrintable(err));
        QCOMPARE(p.readAllStandardOutput(), QByteArray());
    }

    void ping_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("ruledNode"); // 0: no rule
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("errorText"); // of every error line
        const QString half = "table inet t { chain in { type filter hook input priority 0; "
                             "icmpv6 type echo-request numgen random mod 100 < 50 drop; }; }";
        const QString refuse = "table inet t { chain fw { type filter hook forward priority 0; "
                               "ip6 daddr fd98:2::/64 reject with icmpv6 type admin-prohibited; "
                               "ip6 daddr fd98:5::/64 drop; }; }";
        const auto row = [](const char *name, const char *args, int node = 0,
                            const QString &rule = {}, const QString &error = {}) {
            QTest::newRow(name) << QString(name).section(':', 0, 0) << QString(args) << node << rule
                                << error;
        };
        const QString prohibited = "Destination unreachable: Administratively prohibited";
        // Raw, every echo answered: the row with the options after the host.
        row("datagram: every echo answered", "-6 -c 5 -i 0.05 fd99:4::2");
        row("raw: prohibited", "-6 -c 3 -i 0.05 fd98:2::1", 4, refuse, prohibited);
        row("datagram: prohibited", "-6 -c 3 -i 0.05 fd98:2::1", 4, refuse, prohibited);
        row("raw: half the echoes dropped", "-6 -c 20 -i 0.01 -W 1 fd99:4::2", 5, half);
        row("raw: nobody answers", "-6 -c 2 -i 0.05 -W 0.3 fd98:5::1", 4, refuse);
        row("raw: IPv4 by name of the family", "-4 -c 3 -i 0.05 -s 100 10.99.4.2");
        row("raw: options after the host, as ping takes them", "fd99:4::2 -6 -c 3 -i 0.05");
    }
    void ping()
    {
        QFETCH(QString, kind);
        QFETCH(QString, args);
        QFETCH(int, ruledNode);
        QFETCH(QString, rule);
        QFETCH(QString, errorText);
        QVERIFY(m_chain->useSocketKind(kind));
        if (ruledNode)
            QVERIFY(setRule(ruledNode, rule));
        const QStringList a = args.split(' ');
        const QString target = *std::find_if(a.begin(), a.end(), [](const QString &w) {
            return w.contains(':') || w.count('.') == 3;
        });
        const long count = a[a.indexOf("-c") + 1].toLong();
        const bool six = a.contains("-6");
        const int size = a.contains("-s") ? a[a.indexOf("-s") + 1].toInt() : 56;
        const Run r = cli(QStringList{"ping"} + a);
        const QString all = r.out.join('\n') + "\n" + r.err;

        QCOMPARE(r.out.value(0), six ? QString("PING %1(%1) %2 data bytes").arg(target).arg(size)
                                     : QString("PING %1 (%1) %2(%3) bytes of data.")
                                           .arg(target)
                                           .arg(size)
                                           .arg(size + 28));
        static const QRegularExpression reply(
            "^(\\d+) bytes from (\\S+): icmp_seq=(\\d+) ttl=(\\d+) time=([\\d.]+) ms$");
        static const QRegularExpression error("^From (\\S+) icmp_seq=(\\d+) (.*)$");
        QList<long> times;
        bool rounded = false;
        QSet<int> sequences;
        int errors = 0;
        int line = 1;
        for (; line < r.out.size() && !r.out[line].isEmpty(); ++line) {
            if (const auto m = reply.match(r.out[line]); m.hasMatch()) {
                QCOMPARE(m.captured(1).toInt(), size + 8);
                QCOMPARE(m.captured(2), target);
                QCOMPARE(m.captured(4).toInt(), 60); // four routers on the way back
                QVERIFY2(!sequences.contains(m.captured(3).toInt()), qPrintable(all));
                sequences << m.captured(3).toInt();
                const long us = micros(m.captured(5));
                rounded = rounded || us < 0;
                times << (us < 0 ? long(m.captured(5).toDouble() * 1000) : us);
            } else if (const auto e = error.match(r.out[line]); e.hasMatch()) {
                QCOMPARE(e.captured(1), QStringLiteral("fd99:3::2"));
                QCOMPARE(e.captured(3), errorText);
                ++errors;
            } else {
                QFAIL(qPrintable("unexpected line: " + r.out[line]));
            }
        }
        QCOMPARE(errors > 0, !errorText.isEmpty());
        for (int s : sequences)
            QVERIFY(s >= 1 && s <= count);

        // The summary against those lines.
        QCOMPARE(r.out.value(line + 1), QString("--- %1 ping statistics ---").arg(target));
        const long received = long(times.size());
        QString counts = QString("%1 packets transmitted, %2 received").arg(count).arg(received);
        if (errors)
            counts += QString(", +%1 errors").arg(errors);
        counts += QString(", %1% packet loss, time ")
                      .arg(double(float(double(count - received) * 100.0 / double(count))));
        QVERIFY2(r.out.value(line + 2).startsWith(counts), qPrintable(all));
        QCOMPARE(r.status, received ? 0 : 1);
        if (!received) {
            QCOMPARE(r.out.size(), line + 3);
            return;
        }
        long long sum = 0, squares = 0;
        for (long t : times) {
            sum += t;
            squares += (long long)t * t;
        }
        const double average = double(sum / received);
        const double deviation = std::floor(
            std::sqrt(double((squares - sum * sum / received) / received)));
        const double expected[] = {double(*std::min_element(times.begin(), times.end())), average,
                                   double(*std::max_element(times.begin(), times.end())),
                                   deviation};
        static const QRegularExpression rtt(
            "^rtt min/avg/max/mdev = ([\\d.]+)/([\\d.]+)/([\\d.]+)/([\\d.]+) ms$");
        const auto m = rtt.match(r.out.value(line + 3));
        QVERIFY2(m.hasMatch(), qPrintable(all));
        for (int k = 0; k < 4; ++k) {
            // Exact where every reply showed whole microseconds.
            const double shown = m.captured(k + 1).toDouble() * 1000;
            QVERIFY2(std::abs(shown - expected[k]) <= (rounded ? 10.0 : 1.0),
                     qPrintable(
                         QString("%1: %2 vs %3\n%4").arg(k).arg(shown).arg(expected[k]).arg(all)));
        }
    }

    // A link-local address names its interface, as ping writes it, on both socket kinds.
    void pingLinkLocal()
    {
        m_chain->exec(m_chain->source(), {"ip", "addr", "add", "fe80::99/64", "dev", "lo"});
        for (const char *kind : {"raw", "datagram"}) {
            QVERIFY(m_chain->useSocketKind(kind));
            const Run r = cli({"ping", "-c", "2", "-i", "0.05", "fe80::99%lo"});
            QVERIFY2(r.status == 0 &&
                         r.out.value(0) == "PING fe80::99%lo(fe80::99%lo) 56 data bytes" &&
                         r.out.value(2).startsWith("64 bytes from fe80::99%lo: icmp_seq=2 ttl=64"),
                     qPrintable(r.out.join('\n') + r.err));
        }
        QCOMPARE(cli({"ping", "-c", "1", "fe80::99%nosuch"}).status, 2);
    }

    // Without a count, echoes go on until Ctrl+C, and the summary still comes.
    void pingUntilInterrupted()
    {
        QVERIFY(m_chain->useSocketKind("raw"));
        QProcess p;
        p.start("ip", {"netns", "exec", m_chain->source(), VELMARIC_CLI, "ping", "-6", "-i", "0.05",
                       Target6});
        QByteArray out;
        while (out.count("bytes from") < 3 && p.waitForReadyRead(5000))
            out += p.readAllStandardOutput();
        QVERIFY2(out.count("bytes from") >= 3, out.constData());
        ::kill(pid_t(p.processId()), SIGINT); // `ip netns exec` has become velmaric-cli
        QVERIFY(p.waitForFinished(5000));
        out += p.readAllStandardOutput();
        QCOMPARE(p.exitCode(), 0);
        const auto replies = out.count("bytes from");
        static const QRegularExpression counts("\\n(\\d+) packets transmitted, (\\d+) received, ");
        const auto m = counts.match(QString(out));
        QVERIFY2(m.hasMatch() && m.captured(2).toLong() == replies &&
                     m.captured(1).toLong() - replies <= 1, // one may be under way
                 out.constData());
    }

    void trace_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("silentHop");
        QTest::addColumn<bool>("names");
        // Every hop answering: the names row.
        for (const char *kind : {"raw", "datagram"})
            QTest::addRow("%s, silent hop 2", kind) << kind << 2 << false;
        QTest::addRow("raw, names") << "raw" << 0 << true;
    }
    void trace()
    {
        QFETCH(QString, kind);
        QFETCH(int, silentHop);
        QFETCH(bool, names);
        QVERIFY(m_chain->useSocketKind(kind));
        if (silentHop)
            QVERIFY(setRule(silentHop, Silent));
        QStringList args{"trace", "-6", Target6};
        if (names)
            args << "--resolve";
        Run r = cli(args);
        r.out.replaceInStrings(QRegularExpression("\t\\d+ ms\t"), "\t<10 ms\t"); // busy moments
        QStringList expected{"Tracing Route to " + Target6 + ":", ""};
        for (int k = 1; k <= 5; ++k) {
            const QString name = names && k == 1 ? "\trouter-one.chain.test" : QString();
            expected << (k == silentHop
                             ? QString("Hop #\t%1\t*\t").arg(k)
                             : QString("Hop #\t%1\t<10 ms\t%2%3").arg(k).arg(hop6(k), name));
        }
        expected << ""
                 << "Trace Route Complete";
        QCOMPARE(r.out, expected);
        QCOMPARE(r.status, 0);
    }

    void report_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("cycles");
        QTest::addColumn<int>("ruledNode"); // its hop loses all, or the share a counting rule drops
        QTest::addColumn<QString>("rule");
        const auto row = [](const char *name, const QString &target, int cycles, int node,
                            const QString &rule) {
            QTest::newRow(name) << QString(strstr(name, "datagram") ? "datagram" : "raw") << target
                                << cycles << node << rule;
        };
        row("IPv6, a third lost at hop 2", Target6, 50, 2,
            "table inet t { chain out { type filter hook output priority 0; "
            "icmpv6 type time-exceeded numgen random mod 100 < 30 counter drop; }; }");
        row("IPv6 datagram, hop 3 silent", Target6, 5, 3, Silent);
        row("IPv4 datagram, hop 3 silent", "10.99.4.2", 5, 3, Silent);
        // Names (--resolve): the hosts file names hop 1, the others wait on a resolver that never
        // answers, for a second at most, and show their addresses.
        row("IPv6 names, silent resolver", Target6, 3, 0,
            "table inet dns { chain out { type filter hook output priority 0; "
            "udp dport 53 drop; tcp dport 53 drop; }; }");
    }
    void report()
    {
        QFETCH(QString, kind);
        QFETCH(QString, target);
        QFETCH(int, cycles);
        QFETCH(int, ruledNode);
        QFETCH(QString, rule);
        QVERIFY(m_chain->useSocketKind(kind));
        QVERIFY(setRule(ruledNode, rule));
        const bool names = ruledNode == 0;
        QElapsedTimer timer;
        timer.start();
        const Run r = cli(QStringList{"trace", "--report", "--cycles", QString::number(cycles),
                                      "--interval", "0.02", target} +
                          (names ? QStringList{"--resolve"} : QStringList()));
        QVERIFY2(timer.elapsed() < 4000, qPrintable(QString::number(timer.elapsed())));
        const QString all = r.out.join('\n');
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out.size(), 2 + 5);
        QVERIFY(r.out[0].startsWith("Start: ") && r.out[1].startsWith("HOST: "));
        QVERIFY2(r.out[1].endsWith("Loss%   Snt   Last   Avg  Best  Wrst StDev"), qPrintable(all));
        static const QRegularExpression hop(
            "^ +(\\d+)\\.\\|-- (\\S+) +([\\d.]+)%? +(\\d+) +([\\d.]+) "
            "+([\\d.]+) +([\\d.]+) +([\\d.]+) +([\\d.]+)$");
        const bool six = target.contains(':');
        // What the random rule really dropped: the report must show exactly that share. (Around
        // 30 %, but a binomial 50-sample share strays past 30 +- 15 in a few runs out of 100.)
        QByteArray rules;
        QCOMPARE(m_chain->exec(m_chain->router(ruledNode), {"nft", "list", "ruleset"}, &rules), 0);
        static const QRegularExpression counter("counter packets (\\d+)");
        const double dropped = 100.0 * counter.match(rules).captured(1).toInt() / cycles;
        for (int k = 1; k <= 5; ++k) {
            const auto m = hop.match(r.out[k + 1]);
            QVERIFY2(m.hasMatch(), qPrintable(all));
            QCOMPARE(m.captured(1).toInt(), k);
            const bool silent = k == ruledNode && rule == Silent;
            const QString address = six ? hop6(k) : QString("10.99.%1.2").arg(k - 1);
            QCOMPARE(m.captured(2), silent            ? QString("???")
                                    : names && k == 1 ? QString("router-one.chain.test")
                                                      : address);
            QCOMPARE(m.captured(4).toInt(), cycles);
            const double loss = k != ruledNode ? 0 : silent ? 100 : dropped;
            QVERIFY2(m.captured(3).toDouble() == loss, qPrintable(all));
            const double best = m.captured(7).toDouble(), average = m.captured(6).toDouble(),
                         worst = m.captured(8).toDouble();
            QVERIFY2(best <= average && average <= worst, qPrintable(all));
        }
    }

private:
    Run cli(const QStringList &args)
    {
        QByteArray out, err;
        Run r;
        r.status = m_chain->exec(m_chain->source(), QStringList{VELMARIC_CLI} + args, &out, &err);
        r.out = QString(out).split('\n');
        if (r.out.last().isEmpty())
            r.out.removeLast();
        r.err = err;
        return r;
    }
    bool setRule(int node, const QString &ruleset)
    {
        return m_chain->rule(m_chain->router(node), ruleset);
    }

    std::unique_ptr<NetnsChain> m_chain;
};

QTEST_GUILESS_MAIN(tst_CliIcmp)
#include "tst_cliicmp.moc"
