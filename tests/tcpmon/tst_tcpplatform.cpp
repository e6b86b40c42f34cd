// The TCP platform layer: its parsers over chosen texts and dumps (/proc/net/snmp, /proc/net/tcp,
// sock_diag), the table's order, and the table and counters through every reader and
// velmaric-cli against ss in a network namespace of the test's own.
#include "winsock.h" // before libc's network headers, which may make ntohs a macro

#include "privatenetwork.h"
#include "tcptest.h"
#include "uniquefd.h"

#include <QtTest>

#include <algorithm>
#include <climits>
#include <cstring>

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>

using namespace iphlp;
using Rows = QList<MIB_TCPROW>;
using Steps = QList<DumpStep>;

Q_DECLARE_METATYPE(iphlp::MIB_TCPSTATS)
Q_DECLARE_METATYPE(iphlp::DumpStep)

namespace {
std::string_view view(const QByteArray &b) { return {b.constData(), size_t(b.size())}; }

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
    std::memcpy(m.id.idiag_src, &r.dwLocalAddr, 4);
    std::memcpy(m.id.idiag_dst, &r.dwRemoteAddr, 4);
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

// `ss -tan4` as the CLI prints the table: "local<TAB>port<TAB>remote<TAB>port<TAB>state".
QStringList ssRows()
{
    static const QStringList states{"",           "UNCONN",  "LISTEN",     "SYN-SENT",
                                    "SYN-RECV",   "ESTAB",   "FIN-WAIT-1", "FIN-WAIT-2",
                                    "CLOSE-WAIT", "CLOSING", "LAST-ACK",   "TIME-WAIT"};
    QStringList list;
    for (const QString &line : run(QStringLiteral("ss"), {"-tanH4"})) {
        const QStringList f = line.simplified().split(' ');
        list << QString(f.value(3) + ':' + f.value(4)).replace(":*", ":0").replace(':', '\t') +
                    '\t' + QString::number(std::max(0, int(states.indexOf(f[0]))));
    }
    list.sort();
    return list;
}

// A connected pair through the listener: the client end, then the accepted end.
std::pair<UniqueFd, UniqueFd> connectPair(const UniqueFd &listener)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::getsockname(listener.get(), reinterpret_cast<sockaddr *>(&a), &len) ||
        ::connect(client.get(), reinterpret_cast<sockaddr *>(&a), len))
        return {UniqueFd(), UniqueFd()};
    return {std::move(client), UniqueFd(::accept4(listener.get(), nullptr, nullptr, 0))};
}
} // namespace

class tst_TcpPlatform : public QObject {
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
        QTest::newRow("kernel layout") << kernel << stats;
        QTest::newRow("other order, extra field")
            << QByteArray("Tcp: OutRsts NewField InErrs RetransSegs OutSegs InSegs CurrEstab "
                          "EstabResets AttemptFails PassiveOpens ActiveOpens MaxConn RtoMax RtoMin "
                          "RtoAlgorithm\nTcp: 2 99999 8 7 1921 3203 5 4 3 18 29 -1 120000 200 1\n")
            << stats;
        const auto with = [&kernel](const char *from, const char *to) {
            return QByteArray(kernel).replace(from, to);
        };
        const MIB_TCPSTATS failed{};
        QTest::newRow("beyond 32 bits") << with(" 3203 ", " 4294967297 ") << wide;
        QTest::newRow("no Tcp lines") << QByteArray("Ip: Forwarding\nIp: 1\n") << failed;
        QTest::newRow("field missing") << with(" OutRsts", " X") << failed;
        QTest::newRow("not a number") << with(" 1921 ", " 19x1 ") << failed;
        QTest::newRow("too few values") << with(" 2 0\n", " 2\n") << failed;
    }
    void snmp()
    {
        QFETCH(QByteArray, text);
        QFETCH(MIB_TCPSTATS, expected);
        MIB_TCPSTATS stats;
        stats.dwNumConns = expected.dwNumConns = 77; // not in the file: left alone
        QCOMPARE(parseSnmpTcp(view(text), stats), expected.dwRtoMin != 0);
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
        const bool ok = parseProcTcp(view("  sl  local_address rem_address   st tx_queue rx_queue "
                                          "tr tm->when retrnsmt   uid  timeout inode\n" +
                                          body),
                                     parsed);
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
        QByteArray shortPayload = message(SOCK_DIAG_BY_FAMILY, QByteArray(8, '\0'));
        QByteArray zeroLength = listen;
        zeroLength.replace(0, 4, bytes(0));
        using S = DumpStep;
        const auto add = [](const char *name, const QByteArrayList &datagrams, const Steps &steps,
                            const Rows &rows, int error = 0) {
            QTest::newRow(name) << datagrams << steps << rows << error;
        };
        add("multi-part dump", {listen + estab, estab + done}, {S::More, S::Done}, {l, e, e});
        add("done without payload", {listen + message(NLMSG_DONE, {})}, {S::Done}, {l});
        add("IPv6 skipped, noop ignored",
            {diag(AF_INET6, 1, e) + control(NLMSG_NOOP, 0) + listen + done}, {S::Done}, {l});
        add("error", {control(NLMSG_ERROR, -EPERM)}, {S::Error}, {}, EPERM);
        add("failed dump in done", {listen, control(NLMSG_DONE, -ENOENT)}, {S::More, S::Error}, {l},
            ENOENT);
        add("error number beyond any errno", {control(NLMSG_ERROR, INT_MIN)}, {S::Malformed}, {});
        add("done with INT_MIN", {control(NLMSG_DONE, INT_MIN)}, {S::Malformed}, {});
        add("acknowledgement", {control(NLMSG_ERROR, 0) + done}, {S::Done}, {});
        add("truncated message", {listen + estab.chopped(8)}, {S::Malformed}, {l});
        add("payload shorter than a record", {shortPayload}, {S::Malformed}, {});
        add("trailing partial header", {listen + QByteArray(6, '\0')}, {S::Malformed}, {l});
        add("zero length", {zeroLength}, {S::Malformed}, {});
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

    // A quiet table of this test's own, and counters that count only its sockets.
    void tableMatchesSs()
    {
        const PrivateNetwork network;
        if (!network.entered())
            QSKIP("needs root for a private network namespace");
        UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in any{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        QVERIFY(!::bind(listener.get(), reinterpret_cast<const sockaddr *>(&any), sizeof any));
        QVERIFY(!::listen(listener.get(), 8));
        auto estab = connectPair(listener), halfClosed = connectPair(listener),
             closed = connectPair(listener);
        QVERIFY(estab.second.valid() && halfClosed.second.valid() && closed.second.valid());
        halfClosed.first.reset(); // client FIN-WAIT-2, server CLOSE-WAIT
        closed.first.reset();
        closed.second.reset(); // client TIME-WAIT; the server end is gone at once
        QStringList reference;
        const auto settled = [&reference] { // every close done: the states the sockets reach
            QStringList states;
            for (const QString &r : reference = ssRows())
                states << r.section('\t', 4);
            states.sort();
            return states.join(' ') == QLatin1String("11 2 5 5 7 8");
        };
        QTRY_VERIFY2_WITH_TIMEOUT(settled(), qPrintable(reference.join('\n')), 5000);

        // GetTcpTable: the size needed, nothing written into a short buffer, then sorted rows.
        std::vector<MIB_TCPROW> rows, netlinkRows, procRows;
        uint32_t size = 0, small = 3;
        std::vector<uint8_t> block(1000, 0xAB);
        QCOMPARE(GetTcpTable(nullptr, &size, true), ERROR_INSUFFICIENT_BUFFER);
        QCOMPARE(GetTcpTable(block.data(), &small, true), ERROR_INSUFFICIENT_BUFFER);
        QVERIFY(size == TcpTableHeader + 6 * TcpRowBytes && small == size && block[0] == 0xAB);
        QCOMPARE(GetTcpTable(block.data(), &size, true), NO_ERROR);
        QVERIFY(readTcpTableBlock(block.data(), size, rows));
        // Both readers give those rows; the CLI prints them as ss does.
        QCOMPARE(readTcpRowsNetlink(netlinkRows), NO_ERROR);
        QCOMPARE(readTcpRowsProc(procRows), NO_ERROR);
        sortTcpRows(netlinkRows);
        sortTcpRows(procRows);
        QVERIFY(netlinkRows == rows && procRows == rows);
        QStringList printed = run(VELMARIC_CLI, {"tcptable"});
        printed.replaceInStrings(QRegularExpression("^(([^\t]*\t){4}[^\t]*).*"), "\\1").sort();
        QCOMPARE(printed, reference);

        // Three connects, six table rows; the CLI shows the same counters.
        MIB_TCPSTATS stats;
        QCOMPARE(GetTcpStatistics(&stats), NO_ERROR);
        QCOMPARE(QList<uint32_t>({stats.dwActiveOpens, stats.dwPassiveOpens, stats.dwNumConns}),
                 QList<uint32_t>({3, 3, 6}));
        const QStringList statsLines = run(VELMARIC_CLI, {"tcpstats"});
        QCOMPARE(statsLines.size(), 15);
        QVERIFY(statsLines.contains("active opens\t3"));
        QVERIFY(statsLines.contains("maximum connections\t-1"));
    }
};

QTEST_GUILESS_MAIN(tst_TcpPlatform)
#include "tst_tcpplatform.moc"
