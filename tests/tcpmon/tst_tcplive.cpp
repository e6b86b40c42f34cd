// Before any libc network header: glibc may define ntohs as a macro.
#include "winsock.h"

#include "iphlpapi.h"
#include "loopback.h"
#include "tcptexts.h"

#include <QProcess>
#include <QSet>
#include <QtTest>

#include <algorithm>
#include <functional>

using namespace iphlp;

namespace {

using Reader = std::function<uint32_t(std::vector<MIB_TCPROW> &)>;

QString rowKey(const MIB_TCPROW &r)
{
    return QStringLiteral("%1:%2 %3:%4 %5")
        .arg(QString::fromStdString(winsock::inet_ntoa(r.dwLocalAddr)))
        .arg((winsock::ntohs)(r.dwLocalPort))
        .arg(QString::fromStdString(winsock::inet_ntoa(r.dwRemoteAddr)))
        .arg((winsock::ntohs)(r.dwRemotePort))
        .arg(r.dwState);
}

QString key(const char *local, unsigned lport, const char *remote, unsigned rport, unsigned state)
{
    return QStringLiteral("%1:%2 %3:%4 %5").arg(QLatin1String(local)).arg(lport)
        .arg(QLatin1String(remote)).arg(rport).arg(state);
}

QStringList keys(const std::vector<MIB_TCPROW> &rows)
{
    QStringList list;
    for (const auto &r : rows)
        list << rowKey(r);
    return list;
}

// ss's state names to the table's codes.
unsigned ssStateCode(const QString &name)
{
    static const QHash<QString, unsigned> codes{
        {"ESTAB", 5},     {"SYN-SENT", 3},   {"SYN-RECV", 4},   {"FIN-WAIT-1", 6},
        {"FIN-WAIT-2", 7}, {"TIME-WAIT", 11}, {"UNCONN", 1},     {"CLOSE-WAIT", 8},
        {"LAST-ACK", 10}, {"LISTEN", 2},     {"CLOSING", 9},
    };
    return codes.value(name, 0);
}

// "127.0.0.1:8080" or "0.0.0.0:*" to "127.0.0.1:8080" / "0.0.0.0:0".
QString ssEndpoint(QString text)
{
    if (text.endsWith(QLatin1String(":*")))
        text = text.chopped(1) + QLatin1Char('0');
    return text;
}

QStringList ssRows()
{
    QProcess ss;
    ss.start(QStringLiteral("ss"), {QStringLiteral("-tanH4")});
    if (!ss.waitForFinished(10000) || ss.exitCode() != 0)
        return {QStringLiteral("ss failed")};
    QStringList list;
    const auto lines = QString::fromLatin1(ss.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QStringList f = line.simplified().split(QLatin1Char(' '));
        if (f.size() >= 5)
            list << ssEndpoint(f[3]) + QLatin1Char(' ') + ssEndpoint(f[4]) + QLatin1Char(' ')
                        + QString::number(ssStateCode(f[0]));
    }
    return list;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

class TestTcpLive : public QObject {
    Q_OBJECT
    bool m_private = false;

private Q_SLOTS:
    // Each test starts in a fresh namespace: closed pairs of earlier ones linger in TIME-WAIT.
    void init() { m_private = enterPrivateNetwork(); }

    void ownConnectionsAppear_data()
    {
        QTest::addColumn<Reader>("reader");
        QTest::newRow("netlink") << Reader(readTcpRowsNetlink);
        QTest::newRow("/proc/net/tcp") << Reader(readTcpRowsProc);
    }

    void ownConnectionsAppear()
    {
        QFETCH(Reader, reader);
        Fd listener = listenLoopback();
        QVERIFY(listener.valid());
        auto [client, server] = connectPair(listener);
        QVERIFY(client.valid() && server.valid());
        const unsigned port = localPort(listener.get());
        const unsigned clientPort = localPort(client.get());

        std::vector<MIB_TCPROW> rows;
        QCOMPARE(reader(rows), NO_ERROR);
        const QStringList list = keys(rows);
        QVERIFY2(list.contains(key("127.0.0.1", port, "0.0.0.0", 0, 2)), qPrintable(list.join('\n')));
        QVERIFY(list.contains(key("127.0.0.1", clientPort, "127.0.0.1", port, 5)));
        QVERIFY(list.contains(key("127.0.0.1", port, "127.0.0.1", clientPort, 5)));
    }

    void getTcpTableContract()
    {
        Fd listener = listenLoopback();
        auto pair = connectPair(listener);
        QVERIFY(pair.first.valid());

        QCOMPARE(GetTcpTable(nullptr, nullptr, true), ERROR_INVALID_PARAMETER);
        uint32_t size = 0;
        QCOMPARE(GetTcpTable(nullptr, &size, true), ERROR_INSUFFICIENT_BUFFER);
        QVERIFY(size >= TcpTableHeader + 3 * TcpRowBytes);
        QCOMPARE((size - TcpTableHeader) % TcpRowBytes, 0u);

        uint32_t small = 3;
        std::vector<uint8_t> tiny(small, 0xAB);
        QCOMPARE(GetTcpTable(tiny.data(), &small, true), ERROR_INSUFFICIENT_BUFFER);
        QVERIFY(small >= TcpTableHeader + 3 * TcpRowBytes);
        QCOMPARE(tiny[0], uint8_t(0xAB)); // nothing written into a short buffer

        uint32_t roomy = size + 64 * TcpRowBytes;
        std::vector<uint8_t> block(roomy);
        QCOMPARE(GetTcpTable(block.data(), &roomy, true), NO_ERROR);
        std::vector<MIB_TCPROW> rows;
        QVERIFY(readTcpTableBlock(block.data(), block.size(), rows));
        QVERIFY(rows.size() >= 3);
        QVERIFY(std::is_sorted(rows.begin(), rows.end(), tcpRowLess));
    }

    void matchesSs()
    {
        if (!m_private)
            QSKIP("needs root for a private network namespace (a quiet table)");
        Fd listener = listenLoopback();
        auto estab = connectPair(listener);
        auto halfClosed = connectPair(listener);
        auto closed = connectPair(listener);
        QVERIFY(estab.first.valid() && halfClosed.first.valid() && closed.first.valid());
        halfClosed.first.reset(); // client FIN-WAIT-2, server CLOSE-WAIT
        closed.first.reset();
        closed.second.reset(); // client TIME-WAIT; the server end is gone at once

        QStringList reference;
        QTRY_VERIFY2_WITH_TIMEOUT((reference = ssRows()).size() == 6, qPrintable(reference.join(QLatin1Char('\n'))), 5000);
        for (const char *state : {" 2", " 5", " 7", " 8", " 11"})
            QVERIFY2(std::any_of(reference.begin(), reference.end(),
                                 [state](const QString &r) { return r.endsWith(QLatin1String(state)); }),
                     qPrintable(reference.join('\n')));

        std::vector<MIB_TCPROW> netlinkRows;
        QCOMPARE(readTcpRowsNetlink(netlinkRows), NO_ERROR);
        QCOMPARE(sorted(keys(netlinkRows)), sorted(reference));
        std::vector<MIB_TCPROW> procRows;
        QCOMPARE(readTcpRowsProc(procRows), NO_ERROR);
        QCOMPARE(sorted(keys(procRows)), sorted(reference));

        // The CLI prints the same rows, tab-separated, in the table's sorted order.
        QProcess cli;
        cli.start(QStringLiteral(VELMARIC_CLI), {QStringLiteral("tcptable")});
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitCode(), 0);
        QStringList printed;
        std::vector<MIB_TCPROW> expectedOrder = netlinkRows;
        sortTcpRows(expectedOrder);
        QStringList expectedLines;
        for (const auto &r : expectedOrder)
            expectedLines << QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6")
                                 .arg(QString::fromStdString(winsock::inet_ntoa(r.dwLocalAddr)))
                                 .arg((winsock::ntohs)(r.dwLocalPort))
                                 .arg(QString::fromStdString(winsock::inet_ntoa(r.dwRemoteAddr)))
                                 .arg((winsock::ntohs)(r.dwRemotePort))
                                 .arg(r.dwState)
                                 .arg(QLatin1String(tcpStateText(r.dwState)));
        QCOMPARE(QString::fromLatin1(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
                 expectedLines);
    }

    void statistics()
    {
        MIB_TCPSTATS before;
        QCOMPARE(GetTcpStatistics(&before), NO_ERROR);
        QCOMPARE(GetTcpStatistics(nullptr), ERROR_INVALID_PARAMETER);
        QVERIFY(before.dwRtoAlgorithm >= 1 && before.dwRtoAlgorithm <= 4);
        QVERIFY(before.dwRtoMin > 0 && before.dwRtoMax >= before.dwRtoMin);

        Fd listener = listenLoopback();
        auto pair = connectPair(listener);
        QVERIFY(pair.first.valid());
        MIB_TCPSTATS after;
        QCOMPARE(GetTcpStatistics(&after), NO_ERROR);
        QVERIFY(after.dwActiveOpens >= before.dwActiveOpens + 1);
        QVERIFY(after.dwPassiveOpens >= before.dwPassiveOpens + 1);
        QVERIFY(after.dwCurrEstab >= 2);
        if (m_private) {
            // Quiet: the listener and both ends, nothing else.
            QCOMPARE(after.dwNumConns, 3u);
            QCOMPARE(after.dwActiveOpens, before.dwActiveOpens + 1);
        }
    }

    void cliCommands_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("firstLineStart");
        QTest::newRow("tcpstats") << QStringList{"tcpstats"} << 0 << 15
                                  << "time-out algorithm\t";
        QTest::newRow("tcpstats extra") << QStringList{"tcpstats", "x"} << 2 << 0 << "";
        QTest::newRow("tcptable extra") << QStringList{"tcptable", "x"} << 2 << 0 << "";
        QTest::newRow("help") << QStringList{"tcptable", "--help"} << 0 << 2
                              << "Usage: velmaric-cli tcptable";
    }

    void cliCommands()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(int, lines);
        QFETCH(QString, firstLineStart);
        QProcess cli;
        cli.start(QStringLiteral(VELMARIC_CLI), args);
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitCode(), exitCode);
        const QStringList out =
            QString::fromLatin1(cli.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(out.size(), lines);
        if (lines)
            QVERIFY2(out.first().startsWith(firstLineStart), qPrintable(out.first()));
        if (exitCode == 2)
            QVERIFY(!cli.readAllStandardError().isEmpty());
        if (args == QStringList{"tcpstats"}) {
            for (int i = 0; i < TcpStatRowCount; ++i)
                QVERIFY(out[i].startsWith(QLatin1String(TcpStatRows[i].caption) + '\t'));
            QCOMPARE(out[3], QStringLiteral("maximum connections\t-1"));
        }
    }
};

QTEST_GUILESS_MAIN(TestTcpLive)
#include "tst_tcplive.moc"
