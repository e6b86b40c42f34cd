// Units: status texts, address conversion, the packet-size rule, the ICMP and ICMPv6 parsers and
// matcher over packets captured in a namespace chain (with type, code, checksum or a byte
// replaced), the trace report's layout and terminal escaping. Packets the kernel delivers in the
// chain tests (replies, time exceeded, unreachable) are not repeated here.
#include "echomodule.h"
#include "icmp6packet.h"
#include "icmppacket.h"
#include "inetaddress.h"
#include "pathprober.h"
#include "traceroute.h"
#include "winsock.h"

#include <QTest>

class tst_IcmpUnits : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void texts_data();
    void texts()
    {
        QFETCH(QString, actual);
        QTEST(actual, "expected");
    }
};

namespace {
void row(const QString &name, const std::string &actual, const QString &expected)
{
    QTest::newRow(qPrintable(name)) << QString::fromStdString(actual) << expected;
}

// Captured from 10.99.0.1: ping -p 6162 -s 4 to 10.99.2.2 (identifiers 0x368c, 0x368d) and
// to 10.98.0.1 through a router with an unreachable route (identifier 0x368e).
const char *TimeExceeded =
    "45c0003c778800004001edb00a6300020a6300010b00f4ff0000000045000020da29400001"
    "0188eb0a6300010a63020208006010368c000161620000";
const char *EchoReply = "45000020dd7200003e0188a20a6302020a6300010000680f368d000161620000";
const char *HostUnreachable = "45c0003c148200003f0150b70a6301020a6300010301fcfe000000004500002001"
                              "9c40003f01257b0a6300010a6200010800bf6c368e000100010203";

QByteArray with(const char *packet, int type, int code, const char *checksum)
{
    QByteArray hex(packet);
    hex.replace(40, 8, QByteArray::number(type << 8 | code, 16).rightJustified(4, '0') + checksum);
    return QByteArray::fromHex(hex);
}

// An ICMPv6 time exceeded from the chain, quoting an echo request (identifier 0x1234, sequence 7)
// to fd99:4::2.
const char *TimeExceeded6 = "03000000000000006000000000103a01fd990000000000000000000000000001"
                            "fd99000400000000000000000000000280000000123400076162636400000000";

std::string read6(const QByteArray &packet)
{
    const auto m = icmp6::parse(
        {reinterpret_cast<const uint8_t *>(packet.constData()), size_t(packet.size())});
    if (!m)
        return "rejected";
    InetAddress quoted;
    quoted.family = AF_INET6;
    std::copy_n(m->quotedDestination, 16, quoted.bytes.begin());
    return QStringLiteral("%1 id %2 seq %3 quoting ")
               .arg(*icmp6::statusFor(m->type, m->code))
               .arg(m->identifier, 0, 16)
               .arg(m->sequence)
               .toStdString() +
           quoted.text();
}

QString dotted(uint32_t a) { return QString::fromStdString(winsock::inet_ntoa(a)); }

// "<status> from <source> id <identifier> seq <sequence> quoting <destination>", or whether
// it answers the probe given (destination, identifier, sequence; data "ab\0\0").
std::string read(const QByteArray &packet, std::optional<icmp::Probe> probe = {})
{
    const auto m = icmp::parse(
        {reinterpret_cast<const uint8_t *>(packet.constData()), size_t(packet.size())}, true);
    if (!m)
        return "rejected";
    if (probe)
        return icmp::answers(*m, *probe) ? "answers" : "does not answer";
    return QStringLiteral("%1 from %2 id %3 seq %4 quoting %5")
        .arg(*icmp::statusFor(m->type, m->code))
        .arg(dotted(m->source))
        .arg(m->identifier, 0, 16)
        .arg(m->sequence)
        .arg(dotted(m->quotedDestination))
        .toStdString();
}
} // namespace

void tst_IcmpUnits::texts_data()
{
    QTest::addColumn<QString>("actual");
    QTest::addColumn<QString>("expected");

    // The table's last code, a single code beside it, and codes outside it (the ping window
    // shows 11001, 0 and -1).
    for (const char *r :
         {"11023|ip addr added", "500|ping timeout", "11000|", "11024|", "-2147483648|"}) {
        const QStringList f = QString(r).split('|');
        row("status " + f[0], EchoStatusText(f[0].toInt()),
            f[0] + "   [ " + (f[1].isEmpty() ? "unknown  msg returned" : f[1]) + " ]");
    }

    for (const char *r :
         {"127.0.0.1|100007f", "10.0.0.200|c800000a", "0.0.0.0|0", "255.255.255.254|feffffff",
          "255.255.255.255|ffffffff", "|ffffffff", "localhost|ffffffff", "10.0.1|ffffffff",
          "1.2.3.4.5|ffffffff", "1.2.3.256|ffffffff", "1.2.3.4.|ffffffff", "1..3.4|ffffffff",
          " 1.2.3.4|ffffffff", "+1.2.3.4|ffffffff"}) {
        const QStringList f = QString(r).split('|');
        row("inet_addr '" + f[0] + "'",
            QString::number(winsock::inet_addr(f[0].toStdString()), 16).toStdString(), f[1]);
    }

    // Packet-size box: "<box text>|<corrected box text>|<size>".
    for (const char *r :
         {"20|32|32", "500|128|128", "abc|32|32", "|32|32", "64|64|64", "40.5|40.5|40",
          "41.5|41.5|42", "128|128|128", "128.4|128|128", "31.9|32|32", "-5|32|32", " 50 | 50 |50",
          "1e2|1e2|100", "1e400|128|128", "50abc|32|32", "inf|32|32", "0x40|32|32", ".|32|32"}) {
        const PacketSize p = correctPacketSize(QString(r).section('|', 0, 0).toStdString());
        row(QStringLiteral("packet size '%1'").arg(r), p.text + '|' + std::to_string(p.size),
            QString(r).section('|', 1));
    }

    const QByteArray reply = QByteArray::fromHex(EchoReply);
    const QByteArray exceeded = QByteArray::fromHex(TimeExceeded);
    const QByteArray unreachable = QByteArray::fromHex(HostUnreachable);
    row("time exceeded reassembly", read(with(TimeExceeded, 11, 1, "f4fe")),
        "11014 from 10.99.0.2 id 368c seq 1 quoting 10.99.2.2");

    const std::pair<const char *, QByteArray> rejected[] = {
        {"empty", {}},
        {"IP header only", reply.left(20)},
        {"ICMP header cut", reply.left(26)},
        {"data cut", reply.left(30)},
        {"bad checksum", QByteArray(reply).replace(29, 1, "c")},
        {"not IPv4", QByteArray(reply).replace(0, 1, "\x65")},
        {"header length beyond packet", QByteArray(reply).replace(0, 1, "\x4f")},
        {"not ICMP", QByteArray(reply).replace(9, 1, "\x11")},
        {"error with quoted header cut", unreachable.left(48)},
        {"error quoting a UDP probe", with(HostUnreachable, 3, 1, "fcee").replace(37, 1, "\x11")},
        {"redirect", with(HostUnreachable, 5, 1, "fafe")},
        {"our own echo request on loopback", with(EchoReply, 8, 0, "600f")}};
    for (const auto &[name, packet] : rejected)
        row(name, read(packet), "rejected");

    const QByteArray exceeded6 = QByteArray::fromHex(TimeExceeded6);
    row("ICMPv6 no route", read6(QByteArray(exceeded6).replace(0, 1, "\x01")),
        "11002 id 1234 seq 7 quoting fd99:4::2");
    row("ICMPv6 prohibited", read6(QByteArray(exceeded6).replace(0, 2, "\x01\x01")),
        "11004 id 1234 seq 7 quoting fd99:4::2");
    const std::pair<const char *, QByteArray> rejected6[] = {
        {"ICMPv6 header cut", exceeded6.left(7)},
        {"ICMPv6 quote cut", exceeded6.left(55)},
        {"ICMPv6 quoting UDP", QByteArray(exceeded6).replace(14, 1, "\x11")},
        {"ICMPv6 quoting a reply", QByteArray(exceeded6).replace(48, 1, "\x81")},
        {"ICMPv6 quoting IPv4", QByteArray(exceeded6).replace(8, 1, "\x45")},
        {"ICMPv6 neighbour solicitation", QByteArray(exceeded6).replace(0, 1, "\x87")}};
    for (const auto &[name, packet] : rejected6)
        row(name, read6(packet), "rejected");

    // mtr's report layout: a whole loss loses its percent sign, further addresses follow.
    HopReport seen, silent;
    seen.addresses = {*InetAddress::parse("fd99::2"), *InetAddress::parse("fd99::7")};
    seen.sent = silent.sent = 10;
    for (long us : {100, 300, 200})
        seen.add(us);
    row("report", traceReportText({seen, silent}, "vm", "2026-01-02T03:04:05+0000", {}),
        "Start: 2026-01-02T03:04:05+0000\n"
        "HOST: vm                          Loss%   Snt   Last   Avg  Best  Wrst StDev\n"
        "  1.|-- fd99::2                   70.0%    10    0.2   0.2   0.1   0.3   0.1\n"
        "        fd99::7\n"
        "  2.|-- ???                       100.0    10    0.0   0.0   0.0   0.0   0.0\n");

    const char *safe[][2] = {{"plain.name", "plain.name"},   {"bell\a", "bell\\x07"},
                             {"esc\x1b[2J", "esc\\x1b[2J"},  {"caf\xc3\xa9", "caf\xc3\xa9"},
                             {"c1\xc2\x9b", "c1\\xc2\\x9b"}, {"cut\xe2\x82", "cut\\xe2\\x82"}};
    for (const auto &[text, shown] : safe)
        row("terminal-safe " + QString::fromUtf8(shown), terminalSafe(text),
            QString::fromUtf8(shown));

    // Echo replies are matched on real sockets in the ping test.
    static const uint8_t sent[] = {'a', 'b', 0, 0};
    const struct {
        const char *name;
        QByteArray packet;
        const char *destination;
        uint16_t identifier, sequence;
        bool answers;
    } matches[] = {{"time exceeded quoting our request", exceeded, "10.99.2.2", 0x368c, 1, true},
                   {"time exceeded, other identifier", exceeded, "10.99.2.2", 0x368d, 1, false},
                   {"time exceeded, other sequence", exceeded, "10.99.2.2", 0x368c, 2, false},
                   {"unreachable for our destination", unreachable, "10.98.0.1", 0x368e, 1, true},
                   {"unreachable for another one", unreachable, "10.99.2.2", 0x368e, 1, false}};
    for (const auto &m : matches)
        row(m.name,
            read(m.packet,
                 icmp::Probe{winsock::inet_addr(m.destination), m.identifier, m.sequence, sent}),
            m.answers ? "answers" : "does not answer");
}

QTEST_APPLESS_MAIN(tst_IcmpUnits)
#include "tst_icmpunits.moc"
