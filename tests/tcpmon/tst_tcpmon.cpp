// The TCP parsers over chosen texts and dumps, the table and counters against ss in a namespace of
// the test's own (IPv6 and owning processes too), and the TCP windows over chosen counters and a
// stand-in table source.
#include "winsock.h" // before libc's network headers, which may make ntohs a macro

#include "frmtcpstat.h"
#include "frmtcptable.h"
#include "privatenetwork.h"
#include "reportlistview.h"
#include "skip.h"

#include <QtTest>
#include <QtWidgets>

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>

using namespace iphlp;
using Rows = QList<MIB_TCPROW>;
using Steps = QList<DumpStep>;

namespace {
// A table row from dotted addresses.
MIB_TCPROW row(uint32_t state, const char *local, unsigned lport, const char *remote,
               unsigned rport)
{
    const auto port = [](unsigned p) { return (p >> 8 & 0xFF) | (p & 0xFF) << 8; };
    return {state, winsock::inet_addr(local), port(lport), winsock::inet_addr(remote), port(rport)};
}

template<typename T>
QByteArray bytes(const T &value)
{
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
}

// A netlink message as the kernel sends it.
QByteArray message(uint16_t type, const QByteArray &payload)
{
    return bytes(nlmsghdr{uint32_t(NLMSG_LENGTH(payload.size())), type, NLM_F_MULTI, 0, 0}) +
           payload;
}

QByteArray diag(uint8_t family, uint8_t linuxState, const MIB_TCPROW &r)
{
    inet_diag_msg m{};
    m.idiag_family = family;
    m.idiag_state = linuxState;
    m.id.idiag_sport = uint16_t(r.dwLocalPort); // ports and addresses both in network order
    m.id.idiag_dport = uint16_t(r.dwRemotePort);
    m.id.idiag_src[0] = r.dwLocalAddr;
    m.id.idiag_dst[0] = r.dwRemoteAddr;
    return message(SOCK_DIAG_BY_FAMILY, bytes(m));
}

// NLMSG_DONE or NLMSG_ERROR with an errno payload.
QByteArray control(uint16_t type, int value)
{
    return message(type, bytes(value).leftJustified(sizeof(nlmsgerr), '\0'));
}

QStringList run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(10000);
    return QString(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// `ss -tan` rows (ss options given) as the CLI prints them: addresses, ports, state code and
// text, and with -p the owners as "pid/command", "-" for none.
QStringList ssRowsOf(const QString &options)
{
    const QStringList states{"UNCONN",  "LISTEN",     "SYN-SENT",   "SYN-RECV",
                             "ESTAB",   "FIN-WAIT-1", "FIN-WAIT-2", "CLOSE-WAIT",
                             "CLOSING", "LAST-ACK",   "TIME-WAIT"};
    const QStringList texts{"closed",      "listening",  "syn sent",   "syn received",
                            "established", "fin wait 1", "fin wait 2", "close wait",
                            "closing",     "last ack",   "time wait"};
    static const QRegularExpression endpoint("^\\[?(.*?)\\]?:(\\d+|\\*)$");
    static const QRegularExpression user("\\(\"([^\"]*)\",pid=(\\d+),fd=\\d+\\)");
    QStringList list;
    for (const QString &line : run(QStringLiteral("ss"), {"-tanH" + options})) {
        const QStringList f = line.simplified().split(' ');
        QStringList row;
        for (const QString &e : {f.value(3), f.value(4)}) {
            const auto m = endpoint.match(e);
            row << m.captured(1).replace("*", f.value(3).contains('[') ? "::" : "0.0.0.0")
                << (m.captured(2) == "*" ? "0" : m.captured(2));
        }
        const int state = int(states.indexOf(f[0]));
        row << QString::number(state + 1) << texts.value(state);
        if (options.contains('p')) {
            QStringList users;
            for (const auto &m : user.globalMatch(f.value(5)))
                users << m.captured(2) + '/' + m.captured(1);
            users.sort();
            row << (users.isEmpty() ? QStringLiteral("-") : users.join(','));
        }
        list << row.join('\t');
    }
    return list;
}

// What the stand-in table source does wrong.
enum Trouble { None, SizeZero, SizeNegative, GrowsOnce, KeepsGrowing, ReadFails, CountTooLarge };
Trouble g_trouble = None;
std::vector<MIB_TCPROW> g_table; // what it reports

uint32_t fakeTable(void *buffer, uint32_t *size, bool)
{
    if (g_trouble == SizeZero || g_trouble == SizeNegative)
        return *size = g_trouble == SizeZero ? 0 : 0x80000000u, 0;
    // A connection appears between the size query and the read: once, or at every read.
    if (buffer && (g_trouble == KeepsGrowing || (g_trouble == GrowsOnce && g_table.size() == 1)))
        g_table.push_back(g_table.front());
    if (buffer && g_trouble == ReadFails)
        return 31;
    const auto needed = uint32_t(iphlp::tcpTableSize(g_table.size()));
    if (!buffer || *size < needed)
        return *size = needed, iphlp::ERROR_INSUFFICIENT_BUFFER;
    iphlp::writeTcpTable(g_table, static_cast<uint8_t *>(buffer));
    static_cast<uint8_t *>(buffer)[0] += g_trouble == CountTooLarge ? 200 : 0;
    return 0;
}

// Each row as displayed, its texts (or only the one of column `only`) joined by "|", top down.
QStringList shown(const ReportListView *view, int only = -1)
{
    QStringList rows;
    for (int r = 0; r < view->model()->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < view->model()->columnCount(); ++c)
            if (only < 0 || c == only)
                cells << view->displayText(r, c);
        rows << cells.join('|');
    }
    return rows;
}

void clickHeader(ReportListView *view, int section)
{
    QHeaderView *h = view->header();
    QTest::mouseClick(
        h->viewport(), Qt::LeftButton, {},
        {h->sectionViewportPosition(section) + h->sectionSize(section) / 2, h->height() / 2});
}

bool showWindow(ToolWindow &w)
{
    w.load();
    w.show();
    return QTest::qWaitForWindowExposed(&w);
}

// The TCP Table window pressed once over the stand-in source with `rows`: the rows shown then.
QStringList press(frmTCPTable &table, Trouble trouble, std::vector<MIB_TCPROW> rows)
{
    table.setTableSource(fakeTable);
    g_trouble = trouble;
    g_table = std::move(rows);
    QTest::mouseClick(table.Command1, Qt::LeftButton);
    return shown(table.ListView1);
}
} // namespace

class tst_TcpMon : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void snmp_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<MIB_TCPSTATS>("expected"); // all zero where the parse must fail
        const QByteArray kernel =
            "Ip: Forwarding DefaultTTL\nIp: 1 64\nTcp: RtoAlgorithm RtoMin RtoMax MaxConn "
            "ActiveOpens PassiveOpens AttemptFails EstabResets CurrEstab InSegs OutSegs "
            "RetransSegs InErrs OutRsts InCsumErrors\n"
            "Tcp: 1 200 120000 -1 29 18 3 4 5 3203 1921 7 8 2 0\nUdp: InDatagrams\nUdp: 10\n";
        const MIB_TCPSTATS stats{1, 200, 120000, 0xFFFFFFFFu, 29, 18, 3, 4, 5, 3203, 1921, 7, 8, 2};
        MIB_TCPSTATS wide = stats;
        wide.dwInSegs = 1; // a 64-bit counter keeps its low 32 bits
        QTest::newRow("other order, extra field")
            << QByteArray("Tcp: OutRsts NewField InErrs RetransSegs OutSegs InSegs CurrEstab "
                          "EstabResets AttemptFails PassiveOpens ActiveOpens MaxConn RtoMax RtoMin "
                          "RtoAlgorithm\nTcp: 2 99999 8 7 1921 3203 5 4 3 18 29 -1 120000 200 1\n")
            << stats;
        for (const auto &[name, from, to, result] :
             {std::tuple{"kernel layout, a counter beyond 32 bits", " 3203 ", " 4294967297 ", wide},
              {"no Tcp lines", "Tcp:", "Tc:", {}},
              {"field missing", " OutRsts", " X", {}},
              {"not a number", " 1921 ", " 19x1 ", {}},
              {"too few values", " 2 0\n", " 2\n", {}}})
            QTest::newRow(name) << QByteArray(kernel).replace(from, to) << result;
    }
    void snmp()
    {
        QFETCH(QByteArray, text);
        QFETCH(MIB_TCPSTATS, expected);
        MIB_TCPSTATS stats;
        stats.dwNumConns = expected.dwNumConns = 77; // not in the file: left alone
        QCOMPARE(parseSnmpTcp(text.toStdString(), stats), expected.dwRtoMin != 0);
        QVERIFY(std::memcmp(&stats, &expected, sizeof stats) == 0);
    }

    // The states and ports of real lines are checked live (tableMatchesSs); here: odd spacing and
    // lines no row may come from.
    void procTcp_data()
    {
        QTest::addColumn<QByteArray>("body"); // the lines below the header
        QTest::addColumn<Rows>("expected");   // none where the parse must fail
        const QByteArray tabs = "\t3:\t0A0B0C0D:0050\t01020304:0400\t05\t\n";
        QTest::newRow("header only") << QByteArray() << Rows();
        QTest::newRow("tabs") << tabs << Rows{row(7, "13.12.11.10", 80, "4.3.2.1", 1024)};
        QTest::newRow("truncated") << QByteArray("0: 0100007F:0277 00000000:0000") << Rows();
        QTest::newRow("bad hex") << QByteArray("0: 0100007G:0277 00000000:0000 0A") << Rows();
        QTest::newRow("long port") << QByteArray("0: 0100007F:10277 00000000:0000 0A") << Rows();
        QTest::newRow("malformed between good rows") << tabs + "   2: nonsense\n" + tabs << Rows();
    }
    void procTcp()
    {
        QFETCH(QByteArray, body);
        QFETCH(Rows, expected);
        std::vector<MIB_TCPROW> parsed;
        const bool ok = parseProcTcp(
            ("  sl  local_address rem_address   st\n" + body).toStdString(), parsed);
        QCOMPARE(ok, !expected.isEmpty() || body.isEmpty());
        QCOMPARE(ok ? Rows(parsed.begin(), parsed.end()) : Rows(), expected);
    }

    void netlink_data()
    {
        QTest::addColumn<QByteArrayList>("datagrams");
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<Rows>("expected");
        QTest::addColumn<int>("error");
        const MIB_TCPROW l = row(2, "127.0.0.1", 8080, "0.0.0.0", 0);
        const MIB_TCPROW e = row(5, "10.1.2.3", 50000, "192.168.7.9", 443);
        const QByteArray listen = diag(AF_INET, 10, l), estab = diag(AF_INET, 1, e);
        const QByteArray done = control(NLMSG_DONE, 0);
        using S = DumpStep;
        const auto add = [](const char *name, const QByteArrayList &datagrams, const Steps &steps,
                            const Rows &rows, int error = 0) {
            QTest::newRow(name) << datagrams << steps << rows << error;
        };
        add("multi-part dump", {listen + estab, estab + done}, {S::More, S::Done}, {l, e, e});
        add("IPv6 skipped, noop ignored, done without payload",
            {diag(AF_INET6, 1, e) + control(NLMSG_NOOP, 0) + listen + message(NLMSG_DONE, {})},
            {S::Done}, {l});
        add("error", {control(NLMSG_ERROR, -EPERM)}, {S::Error}, {}, EPERM);
        add("failed dump in done", {listen, control(NLMSG_DONE, -ENOENT)}, {S::More, S::Error}, {l},
            ENOENT);
        add("acknowledgement", {control(NLMSG_ERROR, 0) + done}, {S::Done}, {});
        // Each datagram on its own: a message cut short, a length of zero, an error number no
        // errno has.
        add("malformed",
            {listen + estab.chopped(8), message(SOCK_DIAG_BY_FAMILY, QByteArray(8, 0)),
             listen + QByteArray(6, '\0'), bytes(0) + listen.mid(4), control(NLMSG_ERROR, INT_MIN),
             control(NLMSG_DONE, INT_MIN)},
            Steps(6, S::Malformed), {l, l});
        add("empty datagram", {QByteArray()}, {S::More}, {});
    }
    void netlink()
    {
        QFETCH(QByteArrayList, datagrams);
        QFETCH(Steps, steps);
        QFETCH(Rows, expected);
        QFETCH(int, error);
        std::vector<MIB_TCPROW> parsed;
        int reported = 0;
        for (int i = 0; i < datagrams.size(); ++i) {
            // At an odd offset: the parser must not rely on the buffer's alignment.
            const QByteArray copy = " " + datagrams[i];
            const auto *data = reinterpret_cast<const uint8_t *>(copy.constData()) + 1;
            QCOMPARE(parseInetDiagDump(data, size_t(copy.size() - 1), parsed, &reported), steps[i]);
        }
        QCOMPARE(Rows(parsed.begin(), parsed.end()), expected);
        QCOMPARE(reported, error);
    }

    void sortOrder()
    {
        // Each key compares as a host-order number, not as the raw network-order field.
        const std::vector<MIB_TCPROW> expected{
            row(2, "1.0.0.2", 1, "0.0.0.0", 0),   row(5, "1.0.0.2", 1, "1.0.0.3", 2),
            row(5, "1.0.0.2", 1, "1.0.0.3", 256), row(5, "1.0.0.2", 1, "9.9.9.9", 1),
            row(5, "1.0.0.2", 256, "9.9.9.9", 1), row(5, "2.0.0.1", 1, "9.9.9.9", 1)};
        std::vector<MIB_TCPROW> rows(expected.rbegin(), expected.rend());
        sortTcpRows(rows);
        QVERIFY(rows == expected);
    }

    void statValues()
    {
        frmTCPStat stat;
        QVERIFY(showWindow(stat));
        clickHeader(stat.ListView1, 1); // values descending: unlike the load order
        // Every value different: a code without a name, signed values, the count not in the file.
        stat.fillStatistics(
            {7, 200, 120000, 0xFFFFFFFFu, 29, 18, 3, 4, 5, 0x80000001u, 1921, 7, 8, 2, 77});
        // New values take their places, compared as texts.
        QCOMPARE(shown(stat.ListView1, 1).join(','),
                 "8,77,7 - ,7,5,4,3,29,200,2,1921,18,120000,-2147483647,-1");
    }

    // One window over the stand-in source: a press that finds the source misbehaving shows
    // nothing; the others append their rows; a sort by a column's texts takes appended rows in.
    void tableWindow()
    {
        frmTCPTable table;
        QVERIFY(showWindow(table));
        const MIB_TCPROW any = row(5, "10.0.0.1", 1, "10.0.0.2", 2);
        for (Trouble t : {SizeZero, SizeNegative, KeepsGrowing, ReadFails, CountTooLarge})
            QVERIFY2(press(table, t, {any}).isEmpty(), qPrintable(QString::number(t)));
        press(table, GrowsOnce, {any}); // the read that finds a row more is tried again
        MIB_TCPROW upper = row(11, "1.2.3.4", 8080, "5.6.7.8", 443);
        upper.dwLocalPort |= 0xABCD0000u; // ignored
        QCOMPARE(press(table, None,
                       {row(5, "192.168.1.2", 50000, "10.0.0.1", 65535), upper,
                        row(0xFFFFFFFFu, "0.0.0.0", 0, "0.0.0.0", 0)}),
                 QStringList({"10.0.0.1|1|10.0.0.2|2|5|established",
                              "10.0.0.1|1|10.0.0.2|2|5|established",
                              "192.168.1.2|50000|10.0.0.1|65535|5|established",
                              "1.2.3.4|8080|5.6.7.8|443|11|time wait", "0.0.0.0|0|0.0.0.0|0|-1|"}));
        clickHeader(table.ListView1, 1);
        QCOMPARE(shown(table.ListView1, 1).join(' '), "8080 50000 1 1 0"); // descending, as texts
        for (int column : {1, 0, 1}) // one order for the list, flipped by every click
            clickHeader(table.ListView1, column);
        press(table, None,
              {row(5, "127.0.0.1", 9, "0.0.0.0", 0), row(5, "127.0.0.1", 100, "0.0.0.0", 0)});
        QCOMPARE(shown(table.ListView1, 1).join(' '), "0 1 1 100 50000 8080 9");
    }

    // A quiet table of this test's own, and counters that count only its sockets; then listeners
    // and a connection over IPv6 too, one IPv4 listener held by another process: the CLI's rows
    // and owners as ss shows them.
    void tableMatchesSs()
    {
        const PrivateNetwork network;
        if (!network.entered())
            VELMARIC_SKIP("needs root for a private network namespace");
        UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        // Port 80 of this namespace's own loopback: nothing else uses it.
        const sockaddr_in a{AF_INET, htons(80), {htonl(INADDR_LOOPBACK)}, {}};
        const auto *address = reinterpret_cast<const sockaddr *>(&a);
        QVERIFY(!::bind(listener.get(), address, sizeof a) && !::listen(listener.get(), 8));
        UniqueFd ends[6]; // client, then accepted end, of three connections
        for (int i = 0; i < 6; i += 2) {
            ends[i] = UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            QVERIFY(!::connect(ends[i].get(), address, sizeof a));
            QVERIFY(
                (ends[i + 1] = UniqueFd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC)))
                    .valid());
        }
        ends[2].reset(); // client FIN-WAIT-2, server CLOSE-WAIT
        ends[4].reset();
        ends[5].reset(); // client TIME-WAIT; the server end is gone at once
        QStringList reference;
        const auto settled = [&reference] { // every close done: the states the sockets reach
            QStringList states;
            for (const QString &r : reference = ssRowsOf("4"))
                states << r.section('\t', 4, 4);
            states.sort();
            return states.join(' ') == QLatin1String("11 2 5 5 7 8");
        };
        QTRY_VERIFY2_WITH_TIMEOUT(settled(), qPrintable(reference.join('\n')), 5000);

        // GetTcpTable: the size needed, nothing written into a short buffer, then sorted rows.
        std::vector<MIB_TCPROW> rows;
        uint32_t size = 0, small = 3;
        std::vector<uint8_t> block(1000, 0xAB);
        QCOMPARE(GetTcpTable(nullptr, &size, true), ERROR_INSUFFICIENT_BUFFER);
        QCOMPARE(GetTcpTable(block.data(), &small, true), ERROR_INSUFFICIENT_BUFFER);
        QVERIFY(size == TcpTableHeader + 6 * TcpRowBytes && small == size && block[0] == 0xAB);
        QCOMPARE(GetTcpTable(block.data(), &size, true), NO_ERROR);
        QVERIFY(readTcpTableBlock(block.data(), size, rows));
        // Both readers give those rows.
        for (const auto reader : {readTcpRowsNetlink, readTcpRowsProc}) {
            std::vector<MIB_TCPROW> read;
            QCOMPARE(reader(read), NO_ERROR);
            sortTcpRows(read);
            QVERIFY(read == rows);
        }

        // Three connects, six table rows: the counters, signed, as the CLI shows them.
        const QStringList stats = run(VELMARIC_CLI, {"tcpstats"});
        for (const char *line : {"active opens\t3", "passive opens\t3", "cumulative connections\t6",
                                 "maximum connections\t-1"})
            QVERIFY2(stats.contains(line), qPrintable(stats.join('\n')));

        QProcess other; // an IPv4 listener of another process, on port 81
        other.start("python3", {"-c", "import socket,sys\ns=socket.socket()\n"
                                      "s.bind(('127.0.0.1',81))\ns.listen()\nprint(1,flush=True)\n"
                                      "sys.stdin.read()"});
        QVERIFY(other.waitForReadyRead(10000));
        UniqueFd listener6(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in6 a6{};
        a6.sin6_family = AF_INET6;
        a6.sin6_port = htons(80);
        a6.sin6_addr = in6addr_loopback;
        const auto *address6 = reinterpret_cast<const sockaddr *>(&a6);
        QVERIFY(!::bind(listener6.get(), address6, sizeof a6) && !::listen(listener6.get(), 8));
        UniqueFd client(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
        QVERIFY(!::connect(client.get(), address6, sizeof a6));
        UniqueFd accepted(::accept4(listener6.get(), nullptr, nullptr, SOCK_CLOEXEC));
        QVERIFY(accepted.valid());

        // The CLI's rows as ss prints them: IPv4 by default, -4 as ss takes it; each owner shows
        // this test's sockets, and the other process's listener where IPv4 rows are listed.
        const struct {
            const char *args, *ssOptions;
            int rows;
        } cases[] = {{"", "4", 7}, {"-6 -p", "p6", 3}, {"-4 -p", "p4", 7}, {"--all -p", "p", 10}};
        for (const auto &c : cases) {
            QStringList expected = ssRowsOf(c.ssOptions);
            QCOMPARE(expected.size(), c.rows);
            const QString table = expected.join('\n');
            QVERIFY2(!*c.args || (table.contains(QString::number(getpid()) + "/tst_tcpmon") &&
                                  table.contains("/python3") == (c.rows != 3)),
                     qPrintable(table));
            QStringList printed = run(VELMARIC_CLI,
                                      QStringList{"tcptable"} +
                                          QString(c.args).split(' ', Qt::SkipEmptyParts));
            printed.sort();
            expected.sort();
            QCOMPARE(printed, expected);
        }
        other.closeWriteChannel();
        QVERIFY(other.waitForFinished(10000));
    }
};

QTEST_MAIN(tst_TcpMon)
#include "tst_tcpmon.moc"
