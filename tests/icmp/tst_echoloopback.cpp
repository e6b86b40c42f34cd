// Echoes on loopback through the real echo service.
#include "echomodule.h"
#include "echosocket.h"
#include "icmpapi.h"
#include "icmppacket.h"
#include "rawcapability.h"
#include "winsock.h"

#include <QTest>

#include <arpa/inet.h>
#include <atomic>
#include <sys/socket.h>
#include <unistd.h>
#include <cstring>
#include <thread>

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
    IcmpFile handle;
    QVERIFY(handle);
    const uint16_t ourId = echoSocketOf(handle.handle())->identifier();
    struct Fd {
        int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        ~Fd()
        {
            if (fd >= 0)
                ::close(fd);
        }
    } foreign;
    if (foreign.fd < 0)
        QSKIP("a raw socket is needed to forge foreign echoes");

    // Echoes with our identifier and every sequence number, and echoes of another
    // identifier, all carrying other data: taking any of them shows in the data.
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        const uint8_t other[] = {'f', 'o', 'r', 'e', 'i', 'g', 'n'};
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = Loopback;
        for (uint32_t n = 0; !stop; ++n) {
            const uint16_t id = n % 2 ? ourId : uint16_t(ourId ^ 0x5A5A);
            auto packet = icmp::buildEchoRequest(id, uint16_t(n / 2), other);
            ::sendto(foreign.fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to),
                     sizeof to);
        }
    });
    int checked = 0;
    for (int i = 0; i < 200; ++i) {
        const std::string text = "ours-" + std::to_string(i);
        std::vector<char> buffer(sizeof(ICMP_ECHO_REPLY) + 64);
        if (IcmpSendEcho(handle.handle(), Loopback, text.data(), uint16_t(text.size()), nullptr,
                         buffer.data(), uint32_t(buffer.size()), 500) != 1)
            continue; // the flood may crowd out a reply; a time-out is no false match
        ICMP_ECHO_REPLY reply;
        std::memcpy(&reply, buffer.data(), sizeof reply);
        QCOMPARE(reply.Status, 0);
        QCOMPARE(std::string(buffer.data() + sizeof reply, reply.DataSize), text);
        ++checked;
    }
    stop = true;
    flood.join();
    QVERIFY2(checked > 100, qPrintable(QStringLiteral("only %1 replies").arg(checked)));
}

QTEST_GUILESS_MAIN(tst_EchoLoopback)
#include "tst_echoloopback.moc"
