#include "iphlpapi.h"
#include "tcptexts.h"
#include "winsock.h"

#include <QtTest>

#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

using namespace iphlp;

namespace {

const char *const standardSnmp =
    "Ip: Forwarding DefaultTTL InReceives\n"
    "Ip: 1 64 1000\n"
    "Tcp: RtoAlgorithm RtoMin RtoMax MaxConn ActiveOpens PassiveOpens AttemptFails EstabResets "
    "CurrEstab InSegs OutSegs RetransSegs InErrs OutRsts InCsumErrors\n"
    "Tcp: 1 200 120000 -1 29 18 3 4 5 3203 1921 7 8 2 0\n"
    "Udp: InDatagrams NoPorts\n"
    "Udp: 10 20\n";

MIB_TCPSTATS standardStats()
{
    MIB_TCPSTATS s;
    s.dwRtoAlgorithm = 1;
    s.dwRtoMin = 200;
    s.dwRtoMax = 120000;
    s.dwMaxConn = 0xFFFFFFFFu;
    s.dwActiveOpens = 29;
    s.dwPassiveOpens = 18;
    s.dwAttemptFails = 3;
    s.dwEstabResets = 4;
    s.dwCurrEstab = 5;
    s.dwInSegs = 3203;
    s.dwOutSegs = 1921;
    s.dwRetransSegs = 7;
    s.dwInErrs = 8;
    s.dwOutRsts = 2;
    return s;
}

uint32_t addr(const char *dotted) { return winsock::inet_addr(dotted); }
uint32_t portField(unsigned port) { return (port >> 8 & 0xFF) | (port & 0xFF) << 8; }

MIB_TCPROW row(uint32_t state, const char *local, unsigned lport, const char *remote,
               unsigned rport)
{
    return {state, addr(local), portField(lport), addr(remote), portField(rport)};
}

// One sock_diag message as the kernel sends it.
QByteArray diagMessage(uint8_t family, uint8_t linuxState, const char *src, unsigned sport,
                       const char *dst, unsigned dport)
{
    QByteArray bytes(NLMSG_LENGTH(sizeof(inet_diag_msg)), '\0');
    auto *h = reinterpret_cast<nlmsghdr *>(bytes.data());
    h->nlmsg_len = uint32_t(bytes.size());
    h->nlmsg_type = SOCK_DIAG_BY_FAMILY;
    h->nlmsg_flags = NLM_F_MULTI;
    auto *m = reinterpret_cast<inet_diag_msg *>(NLMSG_DATA(h));
    m->idiag_family = family;
    m->idiag_state = linuxState;
    m->id.idiag_sport = htons(uint16_t(sport));
    m->id.idiag_dport = htons(uint16_t(dport));
    const uint32_t s = addr(src);
    const uint32_t d = addr(dst);
    const uint8_t sb[4] = {uint8_t(s), uint8_t(s >> 8), uint8_t(s >> 16), uint8_t(s >> 24)};
    const uint8_t db[4] = {uint8_t(d), uint8_t(d >> 8), uint8_t(d >> 16), uint8_t(d >> 24)};
    std::memcpy(&m->id.idiag_src[0], sb, 4);
    std::memcpy(&m->id.idiag_dst[0], db, 4);
    return bytes;
}

QByteArray controlMessage(uint16_t type, int value, bool withPayload = true)
{
    QByteArray bytes(NLMSG_LENGTH(withPayload ? sizeof(nlmsgerr) : 0), '\0');
    auto *h = reinterpret_cast<nlmsghdr *>(bytes.data());
    h->nlmsg_len = uint32_t(bytes.size());
    h->nlmsg_type = type;
    if (withPayload)
        std::memcpy(NLMSG_DATA(h), &value, sizeof value);
    return bytes;
}

} // namespace

Q_DECLARE_METATYPE(iphlp::MIB_TCPSTATS)
Q_DECLARE_METATYPE(iphlp::MIB_TCPROW)
Q_DECLARE_METATYPE(iphlp::DumpStep)

class TestTcpParse : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void snmp_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<MIB_TCPSTATS>("expected");

        const MIB_TCPSTATS standard = standardStats();
        QTest::newRow("kernel layout") << QByteArray(standardSnmp) << true << standard;
        QTest::newRow("other order, extra field")
            << QByteArray("Tcp: OutRsts NewField InErrs RetransSegs OutSegs InSegs CurrEstab "
                          "EstabResets AttemptFails PassiveOpens ActiveOpens MaxConn RtoMax "
                          "RtoMin RtoAlgorithm\n"
                          "Tcp: 2 99999 8 7 1921 3203 5 4 3 18 29 -1 120000 200 1\n")
            << true << standard;
        MIB_TCPSTATS wide = standard;
        wide.dwInSegs = 1; // a 64-bit counter keeps its low 32 bits
        QTest::newRow("counter beyond 32 bits")
            << QByteArray(standardSnmp).replace(" 3203 ", " 4294967297 ") << true << wide;
        QTest::newRow("no Tcp lines")
            << QByteArray("Ip: Forwarding\nIp: 1\nUdp: InDatagrams\nUdp: 3\n") << false
            << MIB_TCPSTATS{};
        QTest::newRow("header without values")
            << QByteArray("Tcp: RtoAlgorithm RtoMin\n") << false << MIB_TCPSTATS{};
        QTest::newRow("field missing")
            << QByteArray(standardSnmp).replace(" OutRsts", " Other") << false << MIB_TCPSTATS{};
        QTest::newRow("value not a number")
            << QByteArray(standardSnmp).replace(" 1921 ", " 19x1 ") << false << MIB_TCPSTATS{};
        QTest::newRow("fewer values than names")
            << QByteArray(standardSnmp).replace(" 2 0\n", " 2\n") << false << MIB_TCPSTATS{};
        QTest::newRow("garbage") << QByteArray("\x01\x02 Tcp:\n\n\xff") << false
                                 << MIB_TCPSTATS{};
        QTest::newRow("empty") << QByteArray() << false << MIB_TCPSTATS{};
    }

    void snmp()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, ok);
        QFETCH(MIB_TCPSTATS, expected);
        MIB_TCPSTATS stats;
        stats.dwNumConns = 77;
        QCOMPARE(parseSnmpTcp(std::string_view(text.constData(), size_t(text.size())), stats), ok);
        if (!ok) {
            QCOMPARE(stats.dwRtoMin, 0u); // a failed parse leaves the record alone
            return;
        }
        for (const TcpStatRow &r : TcpStatRows) {
            if (r.field == &MIB_TCPSTATS::dwNumConns)
                QCOMPARE(stats.*r.field, 77u);
            else
                QCOMPARE(stats.*r.field, expected.*r.field);
        }
    }

    void procLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<MIB_TCPROW>("expected");

        QTest::newRow("listening")
            << QByteArray("   0: 0100007F:0277 00000000:0000 0A 00000000:00000000 00:00000000 "
                          "00000000     0        0 12345 1 0000000000000000 100 0 0 10 0")
            << true << row(2, "127.0.0.1", 631, "0.0.0.0", 0);
        QTest::newRow("established, high ports")
            << QByteArray("  12: 0100007F:C350 0200A8C0:FFFF 01 00000000:00000000 00:00000000 "
                          "00000000  1000        0 999 1 0 20 4 30 10 -1")
            << true << row(5, "127.0.0.1", 50000, "192.168.0.2", 65535);
        QTest::newRow("time-wait")
            << QByteArray(" 7: 0100007F:1F90 0100007F:D431 06 00000000:00000000 03:00001770 "
                          "00000000     0        0 0 3 0")
            << true << row(11, "127.0.0.1", 8080, "127.0.0.1", 54321);
        QTest::newRow("fin-wait-2 and tabs")
            << QByteArray("\t3:\t0A0B0C0D:0050\t01020304:0400\t05\t")
            << true << row(7, "13.12.11.10", 80, "4.3.2.1", 1024);
        QTest::newRow("unknown state") << QByteArray("0: 0100007F:0050 00000000:0000 0D")
                                       << true << row(0, "127.0.0.1", 80, "0.0.0.0", 0);
        QTest::newRow("header") << QByteArray("  sl  local_address rem_address   st tx_queue")
                                << false << MIB_TCPROW{};
        QTest::newRow("IPv6 address")
            << QByteArray("0: 00000000000000000000000001000000:0277 "
                          "00000000000000000000000000000000:0000 0A")
            << false << MIB_TCPROW{};
        QTest::newRow("truncated") << QByteArray("  0: 0100007F:0277 00000000:0000")
                                   << false << MIB_TCPROW{};
        QTest::newRow("bad hex") << QByteArray("0: 0100007G:0277 00000000:0000 0A") << false
                                 << MIB_TCPROW{};
        QTest::newRow("port too long") << QByteArray("0: 0100007F:10277 00000000:0000 0A")
                                       << false << MIB_TCPROW{};
        QTest::newRow("no slot") << QByteArray("0100007F:0277 00000000:0000 0A") << false
                                 << MIB_TCPROW{};
    }

    void procLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, ok);
        QFETCH(MIB_TCPROW, expected);
        const MIB_TCPROW untouched{99, 99, 99, 99, 99};
        MIB_TCPROW parsed = untouched;
        QCOMPARE(parseProcTcpLine(std::string_view(line.constData(), size_t(line.size())), parsed),
                 ok);
        QCOMPARE(parsed, ok ? expected : untouched);
    }

    void procFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("rows");
        const QByteArray header = "  sl  local_address rem_address   st tx_queue rx_queue tr "
                                  "tm->when retrnsmt   uid  timeout inode\n";
        const QByteArray a = "   0: 0100007F:0277 00000000:0000 0A 0:0 0 0 0 0 1\n";
        const QByteArray b = "   1: 0100007F:C350 0100007F:0050 01 0:0 0 0 0 0 2\n";
        QTest::newRow("header only") << header << true << 0;
        QTest::newRow("two rows") << header + a + b << true << 2;
        QTest::newRow("no final newline") << header + a + b.chopped(1) << true << 2;
        QTest::newRow("blank line ignored") << header + a + "\n" + b << true << 2;
        QTest::newRow("malformed row") << header + a + "   2: nonsense\n" + b << false << 0;
    }

    void procFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, ok);
        QFETCH(int, rows);
        std::vector<MIB_TCPROW> parsed;
        QCOMPARE(parseProcTcp(std::string_view(text.constData(), size_t(text.size())), parsed), ok);
        if (ok)
            QCOMPARE(int(parsed.size()), rows);
    }

    void netlink_data()
    {
        QTest::addColumn<QByteArrayList>("datagrams");
        QTest::addColumn<QList<DumpStep>>("steps");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("error");

        const QByteArray listen = diagMessage(AF_INET, 10, "127.0.0.1", 8080, "0.0.0.0", 0);
        const QByteArray estab = diagMessage(AF_INET, 1, "127.0.0.1", 50000, "127.0.0.1", 8080);
        const QByteArray v6 = diagMessage(AF_INET6, 1, "0.0.0.0", 1, "0.0.0.0", 2);
        const QByteArray done = controlMessage(NLMSG_DONE, 0);

        QTest::newRow("multi-part dump")
            << QByteArrayList{listen + estab, estab + done}
            << QList<DumpStep>{DumpStep::More, DumpStep::Done} << 3 << 0;
        QTest::newRow("done without payload")
            << QByteArrayList{listen + controlMessage(NLMSG_DONE, 0, false)}
            << QList<DumpStep>{DumpStep::Done} << 1 << 0;
        QTest::newRow("other family skipped") << QByteArrayList{v6 + listen + done}
                                              << QList<DumpStep>{DumpStep::Done} << 1 << 0;
        QTest::newRow("noop ignored")
            << QByteArrayList{controlMessage(NLMSG_NOOP, 0) + estab + done}
            << QList<DumpStep>{DumpStep::Done} << 1 << 0;
        QTest::newRow("error message")
            << QByteArrayList{controlMessage(NLMSG_ERROR, -EPERM)}
            << QList<DumpStep>{DumpStep::Error} << 0 << EPERM;
        QTest::newRow("failed dump in done")
            << QByteArrayList{listen, controlMessage(NLMSG_DONE, -ENOENT)}
            << QList<DumpStep>{DumpStep::More, DumpStep::Error} << 1 << ENOENT;
        QTest::newRow("acknowledgement") << QByteArrayList{controlMessage(NLMSG_ERROR, 0) + done}
                                         << QList<DumpStep>{DumpStep::Done} << 0 << 0;
        QTest::newRow("truncated message")
            << QByteArrayList{listen + estab.left(estab.size() - 8)}
            << QList<DumpStep>{DumpStep::Malformed} << 1 << 0;
        QByteArray shortPayload = listen;
        reinterpret_cast<nlmsghdr *>(shortPayload.data())->nlmsg_len = NLMSG_LENGTH(8);
        QTest::newRow("payload shorter than a record")
            << QByteArrayList{shortPayload.left(NLMSG_LENGTH(8))}
            << QList<DumpStep>{DumpStep::Malformed} << 0 << 0;
        QTest::newRow("trailing partial header") << QByteArrayList{listen + QByteArray(6, '\0')}
                                                 << QList<DumpStep>{DumpStep::Malformed} << 1 << 0;
        QByteArray zeroLength = listen;
        reinterpret_cast<nlmsghdr *>(zeroLength.data())->nlmsg_len = 0;
        QTest::newRow("zero length") << QByteArrayList{zeroLength}
                                     << QList<DumpStep>{DumpStep::Malformed} << 0 << 0;
        QTest::newRow("empty datagram") << QByteArrayList{QByteArray()}
                                        << QList<DumpStep>{DumpStep::More} << 0 << 0;
    }

    void netlink()
    {
        QFETCH(QByteArrayList, datagrams);
        QFETCH(QList<DumpStep>, steps);
        QFETCH(int, rows);
        QFETCH(int, error);
        std::vector<MIB_TCPROW> parsed;
        int reported = 0;
        for (int i = 0; i < datagrams.size(); ++i) {
            // An odd offset: the parser must not rely on the buffer's alignment.
            QByteArray copy = " " + datagrams[i];
            const auto *data = reinterpret_cast<const uint8_t *>(copy.constData()) + 1;
            QCOMPARE(parseInetDiagDump(data, size_t(datagrams[i].size()), parsed, &reported),
                     steps[i]);
        }
        QCOMPARE(int(parsed.size()), rows);
        QCOMPARE(reported, error);
    }

    void netlinkRowFields()
    {
        const QByteArray msg = diagMessage(AF_INET, 1, "10.1.2.3", 50000, "192.168.7.9", 443);
        std::vector<MIB_TCPROW> parsed;
        parseInetDiagDump(reinterpret_cast<const uint8_t *>(msg.constData()), size_t(msg.size()),
                          parsed);
        QCOMPARE(int(parsed.size()), 1);
        QCOMPARE(parsed[0], row(5, "10.1.2.3", 50000, "192.168.7.9", 443));
        // ntohs is also a libc macro here, hence the parentheses.
        QCOMPARE((winsock::ntohs)(parsed[0].dwLocalPort), 50000u);
        QCOMPARE(winsock::inet_ntoa(parsed[0].dwRemoteAddr), std::string("192.168.7.9"));
    }

    void stateMap_data()
    {
        QTest::addColumn<unsigned>("linuxState");
        QTest::addColumn<uint32_t>("code");
        QTest::newRow("ESTABLISHED") << 1u << 5u;
        QTest::newRow("SYN_SENT") << 2u << 3u;
        QTest::newRow("SYN_RECV") << 3u << 4u;
        QTest::newRow("FIN_WAIT1") << 4u << 6u;
        QTest::newRow("FIN_WAIT2") << 5u << 7u;
        QTest::newRow("TIME_WAIT") << 6u << 11u;
        QTest::newRow("CLOSE") << 7u << 1u;
        QTest::newRow("CLOSE_WAIT") << 8u << 8u;
        QTest::newRow("LAST_ACK") << 9u << 10u;
        QTest::newRow("LISTEN") << 10u << 2u;
        QTest::newRow("CLOSING") << 11u << 9u;
        QTest::newRow("NEW_SYN_RECV") << 12u << 4u;
        QTest::newRow("none") << 0u << 0u;
        QTest::newRow("beyond") << 13u << 0u;
        QTest::newRow("large") << 255u << 0u;
    }

    void stateMap()
    {
        QFETCH(unsigned, linuxState);
        QFETCH(uint32_t, code);
        QCOMPARE(tcpStateFromLinux(linuxState), code);
    }

    void sortOrder()
    {
        // Each key compares as a host-order number, not as the raw network-order field.
        std::vector<MIB_TCPROW> rows{
            row(5, "2.0.0.1", 1, "9.9.9.9", 1),
            row(5, "1.0.0.2", 256, "9.9.9.9", 1),
            row(5, "1.0.0.2", 1, "9.9.9.9", 1),
            row(5, "1.0.0.2", 1, "1.0.0.3", 256),
            row(5, "1.0.0.2", 1, "1.0.0.3", 2),
            row(2, "1.0.0.2", 1, "0.0.0.0", 0),
        };
        sortTcpRows(rows);
        const std::vector<MIB_TCPROW> expected{
            row(2, "1.0.0.2", 1, "0.0.0.0", 0),
            row(5, "1.0.0.2", 1, "1.0.0.3", 2),
            row(5, "1.0.0.2", 1, "1.0.0.3", 256),
            row(5, "1.0.0.2", 1, "9.9.9.9", 1),
            row(5, "1.0.0.2", 256, "9.9.9.9", 1),
            row(5, "2.0.0.1", 1, "9.9.9.9", 1),
        };
        QVERIFY(rows == expected);
    }

    void tableBlock()
    {
        const std::vector<MIB_TCPROW> rows{row(2, "127.0.0.1", 80, "0.0.0.0", 0),
                                           row(5, "10.0.0.1", 50000, "10.0.0.2", 1025)};
        std::vector<uint8_t> block(tcpTableSize(rows.size()));
        QCOMPARE(block.size(), size_t(44));
        writeTcpTable(rows, block.data());
        // Count, then five little-endian fields per row.
        const uint8_t head[] = {2, 0, 0, 0, 2, 0, 0, 0, 127, 0, 0, 1, 0, 80, 0, 0};
        QVERIFY(std::memcmp(block.data(), head, sizeof head) == 0);
        const uint8_t secondPort[] = {0xC3, 0x50, 0, 0};
        QVERIFY(std::memcmp(block.data() + 4 + 20 + 8, secondPort, 4) == 0);

        std::vector<MIB_TCPROW> back;
        QVERIFY(readTcpTableBlock(block.data(), block.size(), back));
        QVERIFY(back == rows);
        back.clear();
        QVERIFY(!readTcpTableBlock(block.data(), block.size() - 1, back));
        QVERIFY(!readTcpTableBlock(block.data(), 3, back));
        QVERIFY(!readTcpTableBlock(nullptr, 44, back));
        QVERIFY(back.empty());
    }
};

QTEST_APPLESS_MAIN(TestTcpParse)
#include "tst_tcpparse.moc"
