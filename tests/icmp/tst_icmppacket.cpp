// The reply parser and matcher over packets captured in a namespace chain (and variants
// of them with the checksum made right again).
#include "icmppacket.h"
#include "winsock.h"

#include <QTest>

namespace {
// Captured from 10.99.0.1: ping -p 6162 -s 4 to 10.99.2.2 (identifiers 0x368c, 0x368d) and
// to 10.98.0.1 through a router with an unreachable route (identifier 0x368e).
const char *TimeExceeded = "45c0003c778800004001edb00a6300020a6300010b00f4ff0000000045000020da29400001"
                           "0188eb0a6300010a63020208006010368c000161620000";
const char *EchoReply = "45000020dd7200003e0188a20a6302020a6300010000680f368d000161620000";
const char *HostUnreachable = "45c0003c148200003f0150b70a6301020a6300010301fcfe000000004500002001"
                              "9c40003f01257b0a6300010a6200010800bf6c368e000100010203";

QByteArray withCode(const char *packet, int type, int code, const char *checksum)
{
    QByteArray hex(packet);
    hex.replace(40, 8, QByteArray::number(type, 16).rightJustified(2, '0') +
                           QByteArray::number(code, 16).rightJustified(2, '0') + checksum);
    return QByteArray::fromHex(hex);
}

uint32_t addr(const char *dotted) { return winsock::inet_addr(dotted); }
} // namespace

class tst_IcmpPacket : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
    void rejects_data();
    void rejects();
    void answers_data();
    void answers();
    void request();
};

void tst_IcmpPacket::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("withIpHeader");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("identifier");
    QTest::addColumn<QString>("quotedDestination");

    QTest::newRow("echo reply") << QByteArray::fromHex(EchoReply) << true << 0 << "10.99.2.2"
                                << 0x368d << "0.0.0.0";
    QTest::newRow("echo reply, datagram socket (no IP header)")
        << QByteArray::fromHex("0000680f368d000161620000") << false << 0 << "0.0.0.0" << 0x368d
        << "0.0.0.0";
    QTest::newRow("time exceeded in transit") << QByteArray::fromHex(TimeExceeded) << true << 11013
                                              << "10.99.0.2" << 0x368c << "10.99.2.2";
    QTest::newRow("time exceeded reassembly")
        << withCode(TimeExceeded, 11, 1, "f4fe") << true << 11014 << "10.99.0.2" << 0x368c
        << "10.99.2.2";
    const struct {
        int code;
        const char *checksum;
        int status;
    } unreachable[] = {
        {0, "fcff", 11002},  {1, "fcfe", 11003},  {2, "fcfd", 11004}, {3, "fcfc", 11005},
        {4, "fcfb", 11009},  {5, "fcfa", 11012},  {6, "fcf9", 11002}, {9, "fcf6", 11004},
        {13, "fcf2", 11004}, {15, "fcf0", 11004},
    };
    for (const auto &u : unreachable)
        QTest::addRow("unreachable code %d", u.code)
            << withCode(HostUnreachable, 3, u.code, u.checksum) << true << u.status << "10.99.1.2"
            << 0x368e << "10.98.0.1";
    QTest::newRow("parameter problem") << withCode(HostUnreachable, 12, 0, "f3ff") << true << 11015
                                       << "10.99.1.2" << 0x368e << "10.98.0.1";
    QTest::newRow("source quench") << withCode(HostUnreachable, 4, 0, "fbff") << true << 11016
                                   << "10.99.1.2" << 0x368e << "10.98.0.1";
}

void tst_IcmpPacket::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, withIpHeader);
    QFETCH(int, status);
    QFETCH(QString, source);
    QFETCH(int, identifier);
    QFETCH(QString, quotedDestination);

    auto span = std::span(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    auto m = icmp::parse(span, withIpHeader);
    QVERIFY(m);
    QCOMPARE(*icmp::statusFor(m->type, m->code), status);
    QCOMPARE(m->source, addr(source.toLatin1()));
    QCOMPARE(int(m->identifier), identifier);
    QCOMPARE(int(m->sequence), 1);
    QCOMPARE(m->quotedDestination, addr(quotedDestination.toLatin1()));
    if (status == 0)
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(m->data.data()), qsizetype(m->data.size())),
                 QByteArray("ab\0\0", 4));
}

void tst_IcmpPacket::rejects_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray reply = QByteArray::fromHex(EchoReply);
    const QByteArray error = QByteArray::fromHex(HostUnreachable);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("IP header only") << reply.left(20);
    QTest::newRow("ICMP header cut") << reply.left(26);
    QTest::newRow("data cut") << reply.left(30);
    QTest::newRow("bad checksum")
        << QByteArray::fromHex("45000020dd7200003e0188a20a6302020a6300010000680f368d000161630000");
    QTest::newRow("not IPv4") << QByteArray(reply).replace(0, 1, "\x65");
    QTest::newRow("header length beyond packet") << QByteArray(reply).replace(0, 1, "\x4f");
    QTest::newRow("not ICMP") << QByteArray(reply).replace(9, 1, "\x11");
    QTest::newRow("error with quoted header cut") << error.left(48);
    QTest::newRow("error quoting a UDP probe")
        << QByteArray::fromHex("45c0003c148200003f0150b70a6301020a6300010301fcee00000000450000200"
                               "19c40003f11257b0a6300010a6200010800bf6c368e000100010203");
    QTest::newRow("redirect")
        << QByteArray::fromHex("45c0003c148200003f0150b70a6301020a6300010501fafe00000000450000200"
                               "19c40003f01257b0a6300010a6200010800bf6c368e000100010203");
    QTest::newRow("our own echo request on loopback")
        << QByteArray::fromHex("45000020dd7200003e0188a20a6302020a6300010800600f368d000161620000");
}

void tst_IcmpPacket::rejects()
{
    QFETCH(QByteArray, bytes);
    auto span = std::span(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    QVERIFY(!icmp::parse(span, true));
}

void tst_IcmpPacket::answers_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("destination");
    QTest::addColumn<int>("identifier");
    QTest::addColumn<int>("sequence");
    QTest::addColumn<bool>("answers");
    const QByteArray reply = QByteArray::fromHex(EchoReply);
    const QByteArray exceeded = QByteArray::fromHex(TimeExceeded);
    const QByteArray unreachable = QByteArray::fromHex(HostUnreachable);
    QTest::newRow("our echo reply") << reply << "10.99.2.2" << 0x368d << 1 << true;
    QTest::newRow("another process's echo (identifier)")
        << QByteArray::fromHex("45000020dd7200003e0188a20a6302020a63000100008c681234000161620000")
        << "10.99.2.2" << 0x368d << 1 << false;
    QTest::newRow("an earlier request's echo (sequence)")
        << QByteArray::fromHex("45000020dd7200003e0188a20a6302020a6300010000680e368d000261620000")
        << "10.99.2.2" << 0x368d << 1 << false;
    QTest::newRow("same numbers, other data")
        << QByteArray::fromHex("45000020dd7200003e0188a20a6302020a63000100004f0f368d00017a620000")
        << "10.99.2.2" << 0x368d << 1 << false;
    QTest::newRow("time exceeded quoting our request") << exceeded << "10.99.2.2" << 0x368c << 1
                                                       << true;
    QTest::newRow("time exceeded quoting another identifier")
        << exceeded << "10.99.2.2" << 0x368d << 1 << false;
    QTest::newRow("time exceeded quoting another sequence")
        << exceeded << "10.99.2.2" << 0x368c << 2 << false;
    QTest::newRow("unreachable for our destination") << unreachable << "10.98.0.1" << 0x368e << 1
                                                     << true;
    QTest::newRow("unreachable for another destination")
        << unreachable << "10.99.2.2" << 0x368e << 1 << false;
}

void tst_IcmpPacket::answers()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, destination);
    QFETCH(int, identifier);
    QFETCH(int, sequence);
    QFETCH(bool, answers);
    auto span = std::span(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    auto m = icmp::parse(span, true);
    QVERIFY(m);
    const uint8_t sent[] = {'a', 'b', 0, 0};
    icmp::Probe probe{addr(destination.toLatin1()), uint16_t(identifier), uint16_t(sequence), sent};
    QCOMPARE(icmp::answers(*m, probe), answers);
}

void tst_IcmpPacket::request()
{
    // Byte for byte what ping sent for the captured reply, checksum included.
    const uint8_t data[] = {'a', 'b', 0, 0};
    auto packet = icmp::buildEchoRequest(0x368d, 1, data);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(packet.data()), qsizetype(packet.size())).toHex(),
             QByteArray("0800600f368d000161620000"));
}

QTEST_APPLESS_MAIN(tst_IcmpPacket)
#include "tst_icmppacket.moc"
