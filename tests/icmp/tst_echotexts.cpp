// Status texts, address conversion, the ping's result texts and the trace's text rules.
#include "echomodule.h"
#include "traceroute.h"
#include "winsock.h"

#include <QTest>

#include <cstring>

class tst_EchoTexts : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void statusText_data();
    void statusText();
    void inetAddr_data();
    void inetAddr();
    void pingFields_data();
    void pingFields();
    void hopTime_data();
    void hopTime();
    void hopLine_data();
    void hopLine();
    void packetSize_data();
    void packetSize();
};

void tst_EchoTexts::statusText_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    const struct {
        int code;
        const char *text;
    } listed[] = {
        {-1, "inet_addr: bad IP format"}, {0, "ip success"}, {500, "ping timeout"},
        {11001, "ip buf too_small"}, {11002, "ip dest net unreachable"},
        {11003, "ip dest host unreachable"}, {11004, "ip dest prot unreachable"},
        {11005, "ip dest port unreachable"}, {11006, "ip no resources"},
        {11007, "ip bad option"}, {11008, "ip hw_error"}, {11009, "ip packet too_big"},
        {11010, "ip req timed out"}, {11011, "ip bad req"}, {11012, "ip bad route"},
        {11013, "ip ttl expired transit"}, {11014, "ip ttl expired reassem"},
        {11015, "ip param_problem"}, {11016, "ip source quench"}, {11017, "ip option too_big"},
        {11018, "ip bad destination"}, {11019, "ip addr deleted"},
        {11020, "ip spec mtu change"}, {11021, "ip mtu_change"}, {11022, "ip unload"},
        {11023, "ip addr added"}, {11050, "ip general failure"}, {11255, "ip pending"},
    };
    for (const auto &row : listed)
        QTest::addRow("%d", row.code) << row.code << QString::fromLatin1(row.text);
    // Gaps between the listed codes, and everything outside them.
    for (int code : {11024, 11030, 11049, 11051, 11254, 11256, 100000, 1, 250, 499, 501, 11000,
                     -2, -500, int(INT32_MIN), int(INT32_MAX)})
        QTest::addRow("unknown %d", code) << code << QStringLiteral("unknown  msg returned");
}

void tst_EchoTexts::statusText()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(EchoStatusText(code)),
             QString::number(code) + QStringLiteral("   [ ") + text + QStringLiteral(" ]"));
}

void tst_EchoTexts::inetAddr_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("address");
    const quint32 none = winsock::INADDR_NONE_VALUE;
    QTest::newRow("loopback") << "127.0.0.1" << quint32(0x0100007F);
    QTest::newRow("first octet lowest") << "10.0.0.200" << quint32(0xC800000A);
    QTest::newRow("zero") << "0.0.0.0" << quint32(0);
    QTest::newRow("all ones equals none") << "255.255.255.255" << none;
    QTest::newRow("255 elsewhere") << "255.255.255.254" << quint32(0xFEFFFFFF);
    QTest::newRow("empty") << "" << none;
    QTest::newRow("host name") << "localhost" << none;
    QTest::newRow("three parts") << "10.0.1" << none;
    QTest::newRow("five parts") << "1.2.3.4.5" << none;
    QTest::newRow("part above 255") << "1.2.3.256" << none;
    QTest::newRow("trailing dot") << "1.2.3.4." << none;
    QTest::newRow("empty part") << "1..3.4" << none;
    QTest::newRow("blank") << " 1.2.3.4" << none;
    QTest::newRow("sign") << "+1.2.3.4" << none;
}

void tst_EchoTexts::inetAddr()
{
    QFETCH(QString, text);
    QFETCH(quint32, address);
    QCOMPARE(winsock::inet_addr(text.toStdString()), address);
}

void tst_EchoTexts::pingFields_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("addressText");
    QTest::addColumn<uint>("roundTrip");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("expected"); // six boxes; "(keep)" for the data box

    QTest::newRow("loopback reply")
        << 0 << "127.0.0.1" << 0u << QByteArray("hello")
        << QStringList{"0   [ ip success ]", "16777343", "0 ms", "5 bytes", "hello", ""};
    QTest::newRow("negative address")
        << 11013 << "10.0.0.200" << 3u << QByteArray()
        << QStringList{"11013   [ ip ttl expired transit ]", "-939524086", "3 ms", "0 bytes",
                       "(keep)", ""};
    QTest::newRow("data without NUL fills the area")
        << 0 << "127.0.0.1" << 1u << QByteArray(250, 'x')
        << QStringList{"0   [ ip success ]", "16777343", "1 ms", "250 bytes",
                       QString(250, QLatin1Char('x')), ""};
    QTest::newRow("data stops at NUL")
        << 0 << "127.0.0.1" << 0u << QByteArray("ab\0cd", 5)
        << QStringList{"0   [ ip success ]", "16777343", "0 ms", "5 bytes", "ab", ""};
    QTest::newRow("bad address record untouched")
        << -1 << "0.0.0.0" << 0u << QByteArray()
        << QStringList{"-1   [ inet_addr: bad IP format ]", "0", "0 ms", "0 bytes", "(keep)", "0"};
}

void tst_EchoTexts::pingFields()
{
    QFETCH(int, status);
    QFETCH(QString, addressText);
    QFETCH(uint, roundTrip);
    QFETCH(QByteArray, data);
    QFETCH(QStringList, expected);

    EchoReplyRecord record;
    if (status != -1) {
        record.Reply.Address = winsock::inet_addr(addressText.toStdString());
        record.Reply.Status = status;
        record.Reply.RoundTripTime = roundTrip;
        record.Reply.DataSize = uint16_t(data.size());
        record.Reply.DataPointer = 0x87654321u;
        std::memcpy(record.Data, data.constData(), size_t(data.size()));
        expected[5] = QStringLiteral("-2023406815");
    }
    const PingFieldTexts f = pingFieldTexts(status, record);
    QCOMPARE(QString::fromStdString(f.status), expected[0]);
    QCOMPARE(QString::fromStdString(f.address), expected[1]);
    QCOMPARE(QString::fromStdString(f.roundTripTime), expected[2]);
    QCOMPARE(QString::fromStdString(f.dataSize), expected[3]);
    QCOMPARE(f.data ? QString::fromStdString(*f.data) : QStringLiteral("(keep)"), expected[4]);
    QCOMPARE(QString::fromStdString(f.dataPointer), expected[5]);
}

void tst_EchoTexts::hopTime_data()
{
    QTest::addColumn<uint>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0u << "<10 ms";
    QTest::newRow("9") << 9u << "<10 ms";
    QTest::newRow("10") << 10u << "10 ms";
    QTest::newRow("1200") << 1200u << "1200 ms";
    QTest::newRow("1201") << 1201u << "*";
    QTest::newRow("2400") << 2400u << "*";
}

void tst_EchoTexts::hopTime()
{
    QFETCH(uint, ms);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(HopTimeText(ms)), text);
}

void tst_EchoTexts::hopLine_data()
{
    QTest::addColumn<int>("ttl");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("line");
    QTest::newRow("answered") << 1 << "<10 ms" << "10.0.0.1" << "" << "Hop #\t1\t<10 ms\t10.0.0.1\r\n";
    QTest::newRow("silent") << 7 << "*" << "" << "" << "Hop #\t7\t*\t\r\n";
    QTest::newRow("named") << 255 << "12 ms" << "10.0.0.1" << "gw.example"
                           << "Hop #\t255\t12 ms\t10.0.0.1\tgw.example\r\n";
}

void tst_EchoTexts::hopLine()
{
    QFETCH(int, ttl);
    QFETCH(QString, time);
    QFETCH(QString, address);
    QFETCH(QString, name);
    QFETCH(QString, line);
    QCOMPARE(QString::fromStdString(HopLine(ttl, time.toStdString(), address.toStdString(),
                                            name.toStdString())),
             line);
}

void tst_EchoTexts::packetSize_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("corrected");
    QTest::addColumn<int>("size");
    QTest::newRow("20") << "20" << "32" << 32;
    QTest::newRow("500") << "500" << "128" << 128;
    QTest::newRow("letters") << "abc" << "32" << 32;
    QTest::newRow("empty") << "" << "32" << 32;
    QTest::newRow("64") << "64" << "64" << 64;
    QTest::newRow("40.5 to even below") << "40.5" << "40.5" << 40;
    QTest::newRow("41.5 to even above") << "41.5" << "41.5" << 42;
    QTest::newRow("32 stays") << "32" << "32" << 32;
    QTest::newRow("128 stays") << "128" << "128" << 128;
    QTest::newRow("just above 128") << "128.4" << "128" << 128;
    QTest::newRow("just below 32") << "31.9" << "32" << 32;
    QTest::newRow("negative") << "-5" << "32" << 32;
    QTest::newRow("blanks around") << " 50 " << " 50 " << 50;
    QTest::newRow("exponent") << "1e2" << "1e2" << 100;
    QTest::newRow("huge") << "1e400" << "128" << 128;
    QTest::newRow("number then letters") << "50abc" << "32" << 32;
    QTest::newRow("infinity word") << "inf" << "32" << 32;
    QTest::newRow("hex") << "0x40" << "32" << 32;
    QTest::newRow("lone point") << "." << "32" << 32;
}

void tst_EchoTexts::packetSize()
{
    QFETCH(QString, box);
    QFETCH(QString, corrected);
    QFETCH(int, size);
    const PacketSize p = correctPacketSize(box.toStdString());
    QCOMPARE(QString::fromStdString(p.text), corrected);
    QCOMPARE(p.size, size);
}

QTEST_APPLESS_MAIN(tst_EchoTexts)
#include "tst_echotexts.moc"
