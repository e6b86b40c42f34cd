// Echoes on loopback through the real echo service.
#include "echomodule.h"
#include "echosocket.h"
#include "icmpapi.h"
#include "icmppacket.h"
#include "rawcapability.h"
#include "winsock.h"

#include <QTest>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstring>
#include <optional>
#include <tuple>

namespace {
const uint32_t Loopback = 0x0100007F;

bool allZero(const EchoReplyRecord &r)
{
    const auto *p = reinterpret_cast<const unsigned char *>(&r);
    return std::all_of(p, p + sizeof r, [](unsigned char c) { return c == 0; });
}
} // namespace

class tst_EchoLoopback : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void echo_data();
    void echo();
    void wholeRequestIsSent();
    void notDotted_data();
    void notDotted();
    void withoutPermission();
    void foreignEchoesNeverTaken();
};

void tst_EchoLoopback::initTestCase()
{
    IcmpFile handle;
    if (!handle)
        QSKIP("no ICMP socket may be opened here (needs root, cap_net_raw or ping_group_range)");
}

void tst_EchoLoopback::echo_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("dataSize");
    QTest::newRow("text") << QByteArray("hello") << 0 << 5;
    QTest::newRow("empty text sends size 0") << QByteArray() << 0 << 0;
    QTest::newRow("one byte") << QByteArray("x") << 0 << 1;
    QTest::newRow("fills the data area") << QByteArray(250, 'y') << 0 << 250;
    QTest::newRow("longer than the data area") << QByteArray(300, 'z') << 11001 << 250;
}

void tst_EchoLoopback::echo()
{
    QFETCH(QByteArray, text);
    QFETCH(int, status);
    QFETCH(int, dataSize);
    EchoReplyRecord record;
    bool opened = false;
    QCOMPARE(SendEcho("127.0.0.1", text.toStdString(), record, &opened), status);
    QVERIFY(opened);
    QCOMPARE(record.Reply.Status, status);
    QCOMPARE(record.Reply.Address, Loopback);
    QCOMPARE(int(record.Reply.DataSize), dataSize);
    QVERIFY(record.Reply.RoundTripTime < 500);
    QCOMPARE(QByteArray(record.Data, dataSize), text.left(dataSize));
    // Bytes the reply does not reach stay zero.
    QVERIFY(std::all_of(record.Data + dataSize, record.Data + sizeof record.Data,
                        [](char c) { return c == 0; }));
    const PingFieldTexts f = pingFieldTexts(status, record);
    QCOMPARE(QString::fromStdString(f.address), QStringLiteral("16777343"));
    QCOMPARE(QString::fromStdString(f.dataSize), QStringLiteral("%1 bytes").arg(dataSize));
    QCOMPARE(f.data.has_value(), dataSize > 0);
}

void tst_EchoLoopback::wholeRequestIsSent()
{
    // A 300-byte request comes back whole when the buffer has room for it.
    IcmpFile handle;
    QVERIFY(handle);
    const QByteArray text(300, 'w');
    std::vector<char> buffer(sizeof(ICMP_ECHO_REPLY) + 400);
    QCOMPARE(IcmpSendEcho(handle.handle(), Loopback, text.constData(), 300, nullptr, buffer.data(),
                          uint32_t(buffer.size()), 500),
             1u);
    ICMP_ECHO_REPLY reply;
    std::memcpy(&reply, buffer.data(), sizeof reply);
    QCOMPARE(reply.Status, 0);
    QCOMPARE(int(reply.DataSize), 300);
    QCOMPARE(QByteArray(buffer.data() + sizeof reply, 300), text);
    QCOMPARE(reply.DataPointer, uint32_t(reinterpret_cast<std::uintptr_t>(buffer.data() + sizeof reply)));
}

void tst_EchoLoopback::notDotted_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("host name") << "localhost";
    QTest::newRow("empty") << "";
    QTest::newRow("all ones") << "255.255.255.255";
}

void tst_EchoLoopback::notDotted()
{
    QFETCH(QString, address);
    EchoReplyRecord record;
    bool opened = true;
    QCOMPARE(SendEcho(address.toStdString(), "data", record, &opened), -1);
    QVERIFY(!opened);
    QVERIFY(allZero(record));
}

void tst_EchoLoopback::withoutPermission()
{
    WithoutRawCapability noRaw;
    if (!noRaw.isDropped())
        QSKIP("cannot change this thread's capabilities");
    if (EchoSocket::open(EchoSocket::Kind::Datagram))
        QSKIP("net.ipv4.ping_group_range lets this group open ICMP datagram sockets");
    QCOMPARE(IcmpCreateFile(), IcmpHandle(0));
    EchoReplyRecord record;
    bool opened = true;
    QCOMPARE(SendEcho("127.0.0.1", "data", record, &opened), 0);
    QVERIFY(!opened);
    QVERIFY(allZero(record));
}

void tst_EchoLoopback::foreignEchoesNeverTaken()
{
    // A second raw socket sees our requests on loopback and, before each echo, queues
    // replies that differ from the right one in one point only: another identifier, an
    // earlier sequence, other data. They carry TTL 7, so a wrongly taken one shows in the
    // record even where its data equals ours.
    struct Fd {
        int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        ~Fd()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } spy;
    if (spy.fd < 0)
        QSKIP("a raw socket is needed to forge foreign echoes");
    const int forgedTtl = 7;
    QCOMPARE(::setsockopt(spy.fd, IPPROTO_IP, IP_TTL, &forgedTtl, sizeof forgedTtl), 0);
    timeval wait{1, 0};
    QCOMPARE(::setsockopt(spy.fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait), 0);

    IcmpFile handle;
    QVERIFY(handle);
    auto echo = [&](const std::string &text) {
        std::vector<char> buffer(sizeof(ICMP_ECHO_REPLY) + 64);
        const uint32_t n = IcmpSendEcho(handle.handle(), Loopback, text.data(), uint16_t(text.size()),
                                        nullptr, buffer.data(), uint32_t(buffer.size()), 500);
        ICMP_ECHO_REPLY reply;
        std::memcpy(&reply, buffer.data(), sizeof reply);
        return std::make_tuple(n, reply, std::string(buffer.data() + sizeof reply, reply.DataSize));
    };
    // Our request with this text as the spy saw it: identifier and sequence.
    auto seen = [&](const std::string &text) -> std::optional<std::pair<uint16_t, uint16_t>> {
        uint8_t packet[1500];
        for (;;) {
            ssize_t n = ::recv(spy.fd, packet, sizeof packet, 0);
            if (n <= 0)
                return std::nullopt;
            auto m = icmp::parse(std::span(packet, size_t(n)), true);
            if (!m && n >= 28 && packet[20] == icmp::TypeEchoRequest &&
                std::string(reinterpret_cast<char *>(packet) + 28, size_t(n) - 28) == text)
                return std::make_pair(uint16_t(packet[24] << 8 | packet[25]),
                                      uint16_t(packet[26] << 8 | packet[27]));
        }
    };
    auto forgeReply = [&](uint16_t id, uint16_t seq, const std::string &data) {
        auto packet = icmp::buildEchoRequest(
            id, seq, std::span(reinterpret_cast<const uint8_t *>(data.data()), data.size()));
        packet[0] = icmp::TypeEchoReply;
        packet[2] = packet[3] = 0;
        const uint16_t sum = icmp::checksum(packet);
        packet[2] = uint8_t(sum >> 8);
        packet[3] = uint8_t(sum);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = Loopback;
        ::sendto(spy.fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    };

    std::string text = "ours-0";
    QCOMPARE(std::get<0>(echo(text)), 1u);
    for (int i = 1; i <= 20; ++i) {
        auto ids = seen(text);
        QVERIFY(ids);
        const auto [id, seq] = *ids;
        const std::string next = "ours-" + std::to_string(i);
        forgeReply(uint16_t(id ^ 0x0101), uint16_t(seq + 1), next); // another process
        forgeReply(id, seq, next);                                    // an earlier request
        forgeReply(id, uint16_t(seq + 1), "forged");                  // other data
        const auto [replies, reply, data] = echo(next);
        QCOMPARE(replies, 1u);
        QCOMPARE(reply.Status, 0);
        QCOMPARE(data, next);
        QVERIFY(reply.Options.Ttl != forgedTtl);
        text = next;
    }
}

QTEST_GUILESS_MAIN(tst_EchoLoopback)
#include "tst_echoloopback.moc"
