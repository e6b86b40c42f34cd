// The table and counters through every reader and velmaric-cli, against ss, in a network
// namespace of the test's own: a quiet table, and counters that count only this test's sockets.
#include "winsock.h" // before libc's network headers, which may make ntohs a macro

#include "privatenetwork.h"
#include "tcptest.h"
#include "uniquefd.h"

#include <QtTest>

#include <algorithm>

#include <arpa/inet.h>
#include <sys/socket.h>

using namespace iphlp;

namespace {
QStringList run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(10000);
    return QString(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// `ss -tan4` as the CLI prints the table: "local<TAB>port<TAB>remote<TAB>port<TAB>state".
QStringList ssRows()
{
    static const QStringList states{"",           "UNCONN",  "LISTEN",     "SYN-SENT",
                                    "SYN-RECV",   "ESTAB",   "FIN-WAIT-1", "FIN-WAIT-2",
                                    "CLOSE-WAIT", "CLOSING", "LAST-ACK",   "TIME-WAIT"};
    QStringList list;
    for (const QString &line : run(QStringLiteral("ss"), {"-tanH4"})) {
        const QStringList f = line.simplified().split(' ');
        list << QString(f.value(3) + ':' + f.value(4)).replace(":*", ":0").replace(':', '\t') +
                    '\t' + QString::number(std::max(0, int(states.indexOf(f[0]))));
    }
    list.sort();
    return list;
}

// A connected pair through the listener: the client end, then the accepted end.
std::pair<UniqueFd, UniqueFd> connectPair(const UniqueFd &listener)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::getsockname(listener.get(), reinterpret_cast<sockaddr *>(&a), &len) ||
        ::connect(client.get(), reinterpret_cast<sockaddr *>(&a), len))
        return {UniqueFd(), UniqueFd()};
    return {std::move(client), UniqueFd(::accept4(listener.get(), nullptr, nullptr, 0))};
}
} // namespace

class tst_TcpLive : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void tableMatchesSs()
    {
        const PrivateNetwork network;
        if (!network.entered())
            QSKIP("needs root for a private network namespace");
        UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        const sockaddr_in any{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        QVERIFY(!::bind(listener.get(), reinterpret_cast<const sockaddr *>(&any), sizeof any));
        QVERIFY(!::listen(listener.get(), 8));
        auto estab = connectPair(listener), halfClosed = connectPair(listener),
             closed = connectPair(listener);
        QVERIFY(estab.second.valid() && halfClosed.second.valid() && closed.second.valid());
        halfClosed.first.reset(); // client FIN-WAIT-2, server CLOSE-WAIT
        closed.first.reset();
        closed.second.reset(); // client TIME-WAIT; the server end is gone at once
        QStringList reference;
        const auto settled = [&reference] { // every close done: the states the sockets reach
            QStringList states;
            for (const QString &r : reference = ssRows())
                states << r.section('\t', 4);
            states.sort();
            return states.join(' ') == QLatin1String("11 2 5 5 7 8");
        };
        QTRY_VERIFY2_WITH_TIMEOUT(settled(), qPrintable(reference.join('\n')), 5000);

        // GetTcpTable: the size needed, nothing written into a short buffer, then sorted rows.
        std::vector<MIB_TCPROW> rows, netlinkRows, procRows;
        uint32_t size = 0, small = 3;
        std::vector<uint8_t> block(1000, 0xAB);
        QCOMPARE(GetTcpTable(nullptr, &size, true), ERROR_INSUFFICIENT_BUFFER);
        QCOMPARE(GetTcpTable(block.data(), &small, true), ERROR_INSUFFICIENT_BUFFER);
        QVERIFY(size == TcpTableHeader + 6 * TcpRowBytes && small == size && block[0] == 0xAB);
        QCOMPARE(GetTcpTable(block.data(), &size, true), NO_ERROR);
        QVERIFY(readTcpTableBlock(block.data(), size, rows));
        // Both readers give those rows; the CLI prints them as ss does.
        QCOMPARE(readTcpRowsNetlink(netlinkRows), NO_ERROR);
        QCOMPARE(readTcpRowsProc(procRows), NO_ERROR);
        sortTcpRows(netlinkRows);
        sortTcpRows(procRows);
        QVERIFY(netlinkRows == rows && procRows == rows);
        QStringList printed = run(VELMARIC_CLI, {"tcptable"});
        printed.replaceInStrings(QRegularExpression("^(([^\t]*\t){4}[^\t]*).*"), "\\1").sort();
        QCOMPARE(printed, reference);

        // Three connects, six table rows; the CLI shows the same counters.
        MIB_TCPSTATS stats;
        QCOMPARE(GetTcpStatistics(&stats), NO_ERROR);
        QCOMPARE(QList<uint32_t>({stats.dwActiveOpens, stats.dwPassiveOpens, stats.dwNumConns}),
                 QList<uint32_t>({3, 3, 6}));
        const QStringList statsLines = run(VELMARIC_CLI, {"tcpstats"});
        QCOMPARE(statsLines.size(), 15);
        QVERIFY(statsLines.contains("active opens\t3"));
        QVERIFY(statsLines.contains("maximum connections\t-1"));
    }
};

QTEST_GUILESS_MAIN(tst_TcpLive)
#include "tst_tcplive.moc"
