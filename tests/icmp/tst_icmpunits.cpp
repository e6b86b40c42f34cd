// Units: status texts, address conversion, the ping's result texts, the trace's text rules,
// and the ICMP reply parser and matcher over packets captured in a namespace chain (and
// variants of them with type, code and checksum replaced). Each row computes a text and
// names the text it must be.
#include "echomodule.h"
#include "icmppacket.h"
#include "traceroute.h"
#include "winsock.h"

#include <QTest>

#include <cstring>
#include <functional>
#include <optional>

using Text = std::function<QString()>;

class tst_IcmpUnits : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void texts_data();
    void texts() { check(); }
    void packets_data();
    void packets() { check(); }

private:
    static void check()
    {
        QFETCH(Text, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual(), expected);
    }
};

namespace {
void row(const QString &name, Text actual, const QString &expected)
{
    QTest::newRow(qPrintable(name)) << actual << expected;
}

// The six ping boxes for a reply, "|"-joined; "(keep)" where the data box keeps its text.
QString pingBoxes(int status, const char *address, const QByteArray &data)
{
    EchoReplyRecord record;
    record.Reply = {
        winsock::inet_addr(address), status, 3, uint16_t(data.size()), 0, 0x87654321u, {}};
    std::memcpy(record.Data, data.constData(), size_t(data.size()));
    const PingFieldTexts f = pingFieldTexts(status, record);
    return QString::fromStdString(f.status + '|' + f.address + '|' + f.roundTripTime + '|' +
                                  f.dataSize + '|' + f.data.value_or("(keep)") + '|' +
                                  f.dataPointer);
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

std::optional<icmp::Message> parse(const QByteArray &a, bool withIpHeader = true)
{
    return icmp::parse({reinterpret_cast<const uint8_t *>(a.constData()), size_t(a.size())},
                       withIpHeader);
}

QString dotted(uint32_t a) { return QString::fromStdString(winsock::inet_ntoa(a)); }

// "<status> from <source> id <identifier> seq <sequence> quoting <destination>[ data <hex>]".
QString read(const QByteArray &packet, bool withIpHeader = true)
{
    const auto m = parse(packet, withIpHeader);
    if (!m)
        return QStringLiteral("rejected");
    const QByteArray data(reinterpret_cast<const char *>(m->data.data()),
                          qsizetype(m->data.size()));
    return QStringLiteral("%1 from %2 id %3 seq %4 quoting %5")
               .arg(*icmp::statusFor(m->type, m->code))
               .arg(dotted(m->source))
               .arg(m->identifier, 0, 16)
               .arg(m->sequence)
               .arg(dotted(m->quotedDestination)) +
           (m->isError() ? QString() : " data " + data.toHex());
}
} // namespace

void tst_IcmpUnits::texts_data()
{
    QTest::addColumn<Text>("actual");
    QTest::addColumn<QString>("expected");

    auto status = [](int code, const char *text) {
        row(
            QStringLiteral("status %1").arg(code),
            [code] { return QString::fromStdString(EchoStatusText(code)); },
            QStringLiteral("%1   [ %2 ]").arg(code).arg(text));
    };
    status(11001, "ip buf too_small"); // the table's first, a middle and its last entry
    status(11013, "ip ttl expired transit");
    status(11023, "ip addr added");
    status(-1, "inet_addr: bad IP format");
    status(0, "ip success");
    status(500, "ping timeout");
    status(11050, "ip general failure");
    status(11255, "ip pending");
    for (int code : {11000, 11024, 11049, 11051, 11256, 499, 501, int(INT32_MIN)})
        status(code, "unknown  msg returned");

    auto inetAddr = [](const char *text, quint32 address) {
        row(
            QStringLiteral("inet_addr '%1'").arg(text),
            [text] { return QString::number(winsock::inet_addr(text), 16); },
            QString::number(address, 16));
    };
    inetAddr("127.0.0.1", 0x0100007F);
    inetAddr("10.0.0.200", 0xC800000A); // network byte order
    inetAddr("0.0.0.0", 0);
    inetAddr("255.255.255.254", 0xFEFFFFFF);
    for (const char *bad : {"255.255.255.255", "", "localhost", "10.0.1", "1.2.3.4.5", "1.2.3.256",
                            "1.2.3.4.", "1..3.4", " 1.2.3.4", "+1.2.3.4"})
        inetAddr(bad, winsock::INADDR_NONE_VALUE);

    // The ping boxes for records loopback does not give (the window test covers the others).
    row(
        "ping boxes: address above 2^31, no data",
        [] { return pingBoxes(11013, "10.0.0.200", {}); },
        "11013   [ ip ttl expired transit ]|-939524086|3 ms|0 bytes|(keep)|-2023406815");
    row(
        "ping boxes: data stops at NUL",
        [] { return pingBoxes(0, "127.0.0.1", QByteArray("ab\0cd", 5)); },
        "0   [ ip success ]|16777343|3 ms|5 bytes|ab|-2023406815");

    auto hop = [](int ttl, uint ms, const char *address, const char *name, const char *line) {
        row(
            QStringLiteral("hop line, %1 ms").arg(ms),
            [=] { return QString::fromStdString(HopLine(ttl, HopTimeText(ms), address, name)); },
            line);
    };
    hop(1, 0, "10.0.0.1", "", "Hop #\t1\t<10 ms\t10.0.0.1\r\n");
    hop(2, 9, "10.0.0.1", "", "Hop #\t2\t<10 ms\t10.0.0.1\r\n");
    hop(3, 10, "10.0.0.1", "", "Hop #\t3\t10 ms\t10.0.0.1\r\n");
    hop(255, 1200, "10.0.0.1", "gw.example", "Hop #\t255\t1200 ms\t10.0.0.1\tgw.example\r\n");
    hop(7, 1201, "", "", "Hop #\t7\t*\t\r\n");

    // Packet-size box: "<corrected box text>|<size>".
    for (const char *r :
         {"20|32|32", "500|128|128", "abc|32|32", "|32|32", "64|64|64", "40.5|40.5|40",
          "41.5|41.5|42", "128|128|128", "128.4|128|128", "31.9|32|32", "-5|32|32", " 50 | 50 |50",
          "1e2|1e2|100", "1e400|128|128", "50abc|32|32", "inf|32|32", "0x40|32|32", ".|32|32"}) {
        const QString box = QString(r).section('|', 0, 0);
        row(
            QStringLiteral("packet size '%1'").arg(box),
            [box] {
                const PacketSize p = correctPacketSize(box.toStdString());
                return QString::fromStdString(p.text) + '|' + QString::number(p.size);
            },
            QString(r).section('|', 1));
    }
}

void tst_IcmpUnits::packets_data()
{
    QTest::addColumn<Text>("actual");
    QTest::addColumn<QString>("expected");
    const QByteArray reply = QByteArray::fromHex(EchoReply);
    const QByteArray exceeded = QByteArray::fromHex(TimeExceeded);
    const QByteArray unreachable = QByteArray::fromHex(HostUnreachable);

    row(
        "echo reply", [=] { return read(reply); },
        "0 from 10.99.2.2 id 368d seq 1 quoting 0.0.0.0 data 61620000");
    row(
        "echo reply, datagram socket (no IP header)", [=] { return read(reply.mid(20), false); },
        "0 from 0.0.0.0 id 368d seq 1 quoting 0.0.0.0 data 61620000");
    row(
        "time exceeded in transit", [=] { return read(exceeded); },
        "11013 from 10.99.0.2 id 368c seq 1 quoting 10.99.2.2");
    row(
        "time exceeded reassembly", [=] { return read(with(TimeExceeded, 11, 1, "f4fe")); },
        "11014 from 10.99.0.2 id 368c seq 1 quoting 10.99.2.2");
    const struct {
        int type, code;
        const char *checksum;
        int status;
    } errors[] = {{3, 0, "fcff", 11002},  {3, 1, "fcfe", 11003},  {3, 2, "fcfd", 11004},
                  {3, 3, "fcfc", 11005},  {3, 4, "fcfb", 11009},  {3, 5, "fcfa", 11012},
                  {3, 6, "fcf9", 11002},  {3, 9, "fcf6", 11004},  {3, 13, "fcf2", 11004},
                  {3, 15, "fcf0", 11004}, {12, 0, "f3ff", 11015}, {4, 0, "fbff", 11016}};
    for (const auto &e : errors)
        row(
            QStringLiteral("type %1 code %2").arg(e.type).arg(e.code),
            [e] { return read(with(HostUnreachable, e.type, e.code, e.checksum)); },
            QStringLiteral("%1 from 10.99.1.2 id 368e seq 1 quoting 10.98.0.1").arg(e.status));

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
        row(
            name, [packet] { return read(packet); }, "rejected");

    // Whether a packet answers the probe (destination, identifier, sequence; data "ab\0\0").
    auto answers = [&](const char *name, const QByteArray &packet, const char *destination,
                       uint16_t identifier, uint16_t sequence, bool expected) {
        row(
            name,
            [=] {
                static const uint8_t sent[] = {'a', 'b', 0, 0};
                const auto m = parse(packet);
                if (!m)
                    return QStringLiteral("rejected");
                return QString(
                    icmp::answers(*m, {winsock::inet_addr(destination), identifier, sequence, sent})
                        ? "answers"
                        : "does not answer");
            },
            expected ? "answers" : "does not answer");
    };
    answers("our echo reply", reply, "10.99.2.2", 0x368d, 1, true);
    answers("another process's echo (identifier)",
            with(EchoReply, 0, 0, "8c68").replace(24, 2, "\x12\x34"), "10.99.2.2", 0x368d, 1,
            false);
    answers("an earlier request's echo (sequence)",
            with(EchoReply, 0, 0, "680e").replace(27, 1, "\x02"), "10.99.2.2", 0x368d, 1, false);
    answers("same numbers, other data", with(EchoReply, 0, 0, "4f0f").replace(28, 1, "z"),
            "10.99.2.2", 0x368d, 1, false);
    answers("time exceeded quoting our request", exceeded, "10.99.2.2", 0x368c, 1, true);
    answers("time exceeded, other identifier", exceeded, "10.99.2.2", 0x368d, 1, false);
    answers("time exceeded, other sequence", exceeded, "10.99.2.2", 0x368c, 2, false);
    answers("unreachable for our destination", unreachable, "10.98.0.1", 0x368e, 1, true);
    answers("unreachable for another one", unreachable, "10.99.2.2", 0x368e, 1, false);

    row(
        "echo request built byte for byte as ping sent it",
        [] {
            static const uint8_t data[] = {'a', 'b', 0, 0};
            const auto p = icmp::buildEchoRequest(0x368d, 1, data);
            return QString(
                QByteArray(reinterpret_cast<const char *>(p.data()), qsizetype(p.size())).toHex());
        },
        "0800600f368d000161620000");
}

QTEST_APPLESS_MAIN(tst_IcmpUnits)
#include "tst_icmpunits.moc"
