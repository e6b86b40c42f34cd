// Echoes over loopback: through the ping window, and straight through the echo service with
// forged foreign replies queued ahead.
#include "echomodule.h"
#include "echosocket.h"
#include "frmnorvoping.h"
#include "icmpapi.h"
#include "icmppacket.h"
#include "messagebox.h"
#include "privatenetwork.h"
#include "uniquefd.h"

#include <QtTest>
#include <QtWidgets>

#include <arpa/inet.h>
#include <linux/capability.h>
#include <sys/syscall.h>

namespace {
const uint32_t Loopback = 0x0100007F;
}

class tst_frmNorvoPing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_messages.clear();
        setMsgBoxHandler([this](const QString &text, int style, const QString &) {
            m_messages << QStringLiteral("%1: %2").arg(style).arg(text);
            return int(vbOK);
        });
        m_window = std::make_unique<frmNorvoPing>();
        m_window->load();
        m_window->show();
    }
    void cleanup()
    {
        m_window.reset();
        setMsgBoxHandler({});
    }

    void twoPingsInARow_data()
    {
        // The second ping's address and text; its status, address, size and data boxes.
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("boxes");
        const QString ok = "0   [ ip success ]|16777343|", local = "127.0.0.1";
        QTest::newRow("text") << local << "hello" << ok + "5 bytes|hello";
        QTest::newRow("empty text: size 0, data box keeps the first")
            << local << "" << ok + "0 bytes|first data";
        QTest::newRow("fills the data area")
            << local << QString(250, 'y') << ok + "250 bytes|" + QString(250, 'y');
        QTest::newRow("longer than the data area")
            << local << QString(300, 'z')
            << "11001   [ ip buf too_small ]|16777343|250 bytes|" + QString(250, 'z');
        for (const char *address : {"localhost", "", "255.255.255.255", "127.0.1"})
            QTest::addRow("not dotted: '%s'", address)
                << address << "abc"
                << "-1   [ inet_addr: bad IP format ]|0|0 bytes|first data";
    }
    void twoPingsInARow()
    {
        if (!IcmpFile())
            QSKIP("no ICMP socket may be opened here (needs root, cap_net_raw or "
                  "ping_group_range)");
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
        QCOMPARE(m_messages, QStringList());
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
            QSKIP("cannot change this thread's capabilities");
        auto restore = qScopeGuard([&] { syscall(SYS_capset, &header, saved); });
        if (IcmpFile())
            QSKIP("needs root for a network namespace: this user may open ICMP sockets");
        // A message saying how to allow echoes, not "ip success" with zeros: the boxes stay empty.
        QCOMPARE(ping("127.0.0.1", "abc").join('|'), "|||||");
        QCOMPARE(m_messages,
                 QStringList{QString::number(vbExclamation) + ": " + EchoNotPermittedText});
    }

    void foreignEchoesNeverTaken()
    {
        // Before each echo a raw socket queues replies on loopback that differ from the right one
        // in one point: identifier, sequence or data. Sent with TTL 7, a wrongly taken one shows
        // even where its data equals ours.
        const UniqueFd forger(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
        const int forgedTtl = 7;
        if (!forger || ::setsockopt(forger.get(), IPPROTO_IP, IP_TTL, &forgedTtl, sizeof forgedTtl))
            QSKIP("a raw socket is needed to forge foreign echoes");
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

private:
    // The six result boxes after a press of "Ping".
    QStringList ping(const QString &address, const QString &text)
    {
        m_window->Text1->setText(address);
        m_window->Text2->setText(text);
        QTest::mouseClick(m_window->Command1, Qt::LeftButton);
        QStringList boxes;
        for (auto *box : m_window->Text4)
            boxes << box->text();
        return boxes;
    }
    std::unique_ptr<frmNorvoPing> m_window;
    QStringList m_messages;
};

QTEST_MAIN(tst_frmNorvoPing)
#include "tst_frmnorvoping.moc"
