#include "hostlookup.h"
#include "module3.h"
#include "resolvernamespace.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netdb.h>

using namespace ResolverNamespace;

namespace {

// One message as "style:text", so a row lists the messages in the order they are shown.
QStringList run(const std::string &ipText, const Module3::SocketLayer &layer, QString *name)
{
    QStringList shown;
    *name = QString::fromStdString(
        Module3::IPTextToHostName(ipText, [&shown](const std::string &text, int style) {
            shown << QString::number(style) + QLatin1Char(':') + QString::fromStdString(text);
        }, layer));
    return shown;
}

const QString SocketsFailed = QStringLiteral("0:Sockets failed to initialize.");
const QString Invalid = QStringLiteral("0:String passed is an invalid IP.");
const QString LookupFailed = QStringLiteral("0:Call to gethostbyaddr failed.");
const QString CleanupFailed = QStringLiteral("48:Windows Sockets error occurred in Cleanup.");

} // namespace

class TstModule3 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void reverseSteps_data();
    void reverseSteps();
    void reverseInNamespace_data();
    void reverseInNamespace();
    void fixtureReordersForGetaddrinfo();
    void forwardInNamespace_data();
    void forwardInNamespace();
    void forwardKeepsEveryAddressInOrder();
};

// Every failure path with a socket layer that fails where told to, checking the messages,
// their order, the start-up version, the address passed on and that clean-up pairs start-up.
void TstModule3::reverseSteps_data()
{
    QTest::addColumn<QString>("ipText");
    QTest::addColumn<int>("startup");   // WSAStartup result
    QTest::addColumn<int>("cleanup");   // WSACleanup result
    QTest::addColumn<QString>("entry"); // name found; a null string means no entry
    QTest::addColumn<QString>("expectedName");
    QTest::addColumn<QStringList>("expectedMessages");
    QTest::addColumn<bool>("looksUp");

    const QString none;
    QTest::newRow("sockets fail") << "203.0.113.5" << 10091 << 0 << "x" << "" << QStringList{SocketsFailed} << false;
    QTest::newRow("found") << "203.0.113.5" << 0 << 0 << "reverse.velmaric.test" << "reverse.velmaric.test" << QStringList{} << true;
    QTest::newRow("lowest address") << "0.0.0.0" << 0 << 0 << "zero" << "zero" << QStringList{} << true;
    QTest::newRow("no entry") << "203.0.113.99" << 0 << 0 << none << "" << QStringList{LookupFailed} << true;
    QTest::newRow("empty name") << "203.0.113.7" << 0 << 0 << "" << "" << QStringList{} << true;
    QTest::newRow("all ones") << "255.255.255.255" << 0 << 0 << "x" << "" << QStringList{Invalid} << false;
    QTest::newRow("host name") << "reverse.velmaric.test" << 0 << 0 << "x" << "" << QStringList{Invalid} << false;
    QTest::newRow("empty text") << "" << 0 << 0 << "x" << "" << QStringList{Invalid} << false;
    QTest::newRow("three parts") << "10.1.2" << 0 << 0 << "x" << "" << QStringList{Invalid} << false;
    QTest::newRow("part above 255") << "10.1.2.256" << 0 << 0 << "x" << "" << QStringList{Invalid} << false;
    QTest::newRow("trailing dot") << "10.1.2.3." << 0 << 0 << "x" << "" << QStringList{Invalid} << false;
    QTest::newRow("clean-up fails after a name") << "203.0.113.5" << 0 << 10093 << "r" << "r" << QStringList{CleanupFailed} << true;
    QTest::newRow("clean-up fails after invalid") << "1.2" << 0 << 10093 << "x" << "" << QStringList{Invalid, CleanupFailed} << false;
    QTest::newRow("clean-up fails after no entry") << "203.0.113.99" << 0 << 10093 << none << "" << QStringList{LookupFailed, CleanupFailed} << true;
    QTest::newRow("clean-up fails, sockets never started") << "1.2.3.4" << 10091 << 10093 << "x" << "" << QStringList{SocketsFailed} << false;
}

void TstModule3::reverseSteps()
{
    QFETCH(QString, ipText);
    QFETCH(int, startup);
    QFETCH(int, cleanup);
    QFETCH(QString, entry);
    QFETCH(QString, expectedName);
    QFETCH(QStringList, expectedMessages);
    QFETCH(bool, looksUp);

    int starts = 0, cleanups = 0, lookups = 0;
    uint16_t version = 0;
    uint32_t askedFor = 0;
    Module3::SocketLayer layer;
    layer.startup = [&](uint16_t v) { ++starts; version = v; return startup; };
    layer.cleanup = [&] { ++cleanups; return cleanup; };
    layer.hostByAddress = [&](uint32_t a) -> std::optional<winsock::HostEntry> {
        ++lookups;
        askedFor = a;
        if (entry.isNull())
            return std::nullopt;
        return winsock::HostEntry{entry.toStdString(), {a}};
    };

    QString name;
    QCOMPARE(run(ipText.toStdString(), layer, &name), expectedMessages);
    QCOMPARE(name, expectedName);
    QCOMPARE(starts, 1);
    QCOMPARE(version, uint16_t(0x0101));
    QCOMPARE(cleanups, startup == 0 ? 1 : 0);
    QCOMPARE(lookups, looksUp ? 1 : 0);
    if (looksUp) // the C library's own parse is the reference for the byte order
        QCOMPARE(askedFor, uint32_t(::inet_addr(ipText.toLatin1().constData())));
}

void TstModule3::reverseInNamespace_data()
{
    QTest::addColumn<QString>("ipText");
    QTest::addColumn<QString>("expectedName");
    QTest::addColumn<QStringList>("expectedMessages");

    QTest::newRow("reverse entry") << ReverseAddress << ReverseName << QStringList{};
    QTest::newRow("first of several lines") << MultiAddresses[0] << MultiName << QStringList{};
    QTest::newRow("loopback") << "127.0.0.1" << "localhost" << QStringList{};
    QTest::newRow("long name comes back whole") << LongAddress << longName() << QStringList{};
    QTest::newRow("no entry") << UnknownAddress << "" << QStringList{LookupFailed};
    QTest::newRow("host name typed") << ReverseName << "" << QStringList{Invalid};
}

void TstModule3::reverseInNamespace()
{
    REQUIRE_RESOLVER_NAMESPACE();
    QFETCH(QString, ipText);
    QFETCH(QString, expectedName);
    QFETCH(QStringList, expectedMessages);

    QString name;
    QCOMPARE(run(ipText.toStdString(), {}, &name), expectedMessages);
    QCOMPARE(name, expectedName);
}

// The multi-address rows below only prove something when the system's sorted look-up would
// put another address first.
void TstModule3::fixtureReordersForGetaddrinfo()
{
    REQUIRE_RESOLVER_NAMESPACE();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    QCOMPARE(getaddrinfo(MultiName, nullptr, &hints, &list), 0);
    const QString first = QString::fromLatin1(
        ::inet_ntoa(reinterpret_cast<sockaddr_in *>(list->ai_addr)->sin_addr));
    freeaddrinfo(list);
    QVERIFY2(first != QLatin1String(MultiAddresses[0]), qPrintable(first));
}

void TstModule3::forwardInNamespace_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("several addresses, first listed") << QByteArray(MultiName) << MultiAddresses[0];
    QTest::newRow("by alias") << QByteArray(MultiAlias) << MultiAddresses[0];
    QTest::newRow("other letter case") << QByteArray("MULTI.Velmaric.TEST") << MultiAddresses[0];
    QTest::newRow("one address") << QByteArray(ReverseName) << ReverseAddress;
    QTest::newRow("localhost") << QByteArray("localhost") << "127.0.0.1";
    QTest::newRow("dotted text") << QByteArray("10.9.8.7") << "10.9.8.7";
    QTest::newRow("not found") << QByteArray(UnknownName) << "";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("embedded NUL") << QByteArray(MultiName).append('\0').append("x") << "";
}

void TstModule3::forwardInNamespace()
{
    REQUIRE_RESOLVER_NAMESPACE();
    QFETCH(QByteArray, name);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(HostNameToIPText(name.toStdString())), expected);
}

void TstModule3::forwardKeepsEveryAddressInOrder()
{
    REQUIRE_RESOLVER_NAMESPACE();
    const auto entry = winsock::gethostbyname(MultiName);
    QVERIFY(entry);
    QCOMPARE(QString::fromStdString(entry->name), QLatin1String(MultiName));
    QStringList got;
    for (uint32_t a : entry->addresses)
        got << QString::fromStdString(AddressToIPText(a));
    QStringList listed;
    for (const char *a : MultiAddresses)
        listed << QLatin1String(a);
    QCOMPARE(got, listed);
}

RESOLVER_NAMESPACE_TEST_MAIN(TstModule3, QCoreApplication)
#include "tst_module3.moc"
