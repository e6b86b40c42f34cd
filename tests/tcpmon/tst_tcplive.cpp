// Before any libc network header: glibc may define ntohs as a macro.
#include "winsock.h"

#include "privatenetwork.h"
#include "tcptest.h"

#include <QProcess>
#include <QtTest>

#include <algorithm>

using namespace iphlp;

namespace {

QString key(const QString &local, uint lport, const QString &remote, uint rport, uint state)
{
    return QStringLiteral("%1:%2 %3:%4 %5").arg(local).arg(lport).arg(remote).arg(rport).arg(state);
}

QStringList keys(const std::vector<MIB_TCPROW> &rows)
{
    QStringList list;
    for (const auto &r : rows)
        list << key(QString::fromStdString(winsock::inet_ntoa(r.dwLocalAddr)),
                    (winsock::ntohs)(r.dwLocalPort),
                    QString::fromStdString(winsock::inet_ntoa(r.dwRemoteAddr)),
                    (winsock::ntohs)(r.dwRemotePort), r.dwState);
    return list;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// Exit code and stdout lines.
std::pair<int, QStringList> run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(10000))
        return {-1, {}};
    return {p.exitCode(),
            QString::fromLatin1(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)};
}

// `ss -tan4` rows as keys, "0.0.0.0:*" read as port 0, state names as the table's codes.
QStringList ssRows()
{
    static const QStringList states{"",           "UNCONN",  "LISTEN",     "SYN-SENT",
                                    "SYN-RECV",   "ESTAB",   "FIN-WAIT-1", "FIN-WAIT-2",
                                    "CLOSE-WAIT", "CLOSING", "LAST-ACK",   "TIME-WAIT"};
    QStringList list;
    for (const QString &line : run(QStringLiteral("ss"), {QStringLiteral("-tanH4")}).second) {
        const QStringList f = line.simplified().split(' ');
        if (f.size() >= 5)
            list << QString(f[3] + ' ' + f[4]).replace(QLatin1String(":*"), ":0") + ' ' +
                        QString::number(std::max(0, int(states.indexOf(f[0]))));
    }
    return sorted(list);
}

} // namespace

class tst_TcpLive : public QObject {
    Q_OBJECT
    const QString cli = QStringLiteral(VELMARIC_CLI);

private Q_SLOTS:
    // The same (local, remote, state) rows as ss, through every reader, in a namespace of
    // this test's own: a quiet table, and counters that count only this test's sockets.
    void tableMatchesSs()
    {
        const PrivateNetwork network;
        if (!network.entered())
            QSKIP("needs root for a private network namespace");
        UniqueFd listener = listenLoopback();
        auto estab = connectPair(listener);
        auto halfClosed = connectPair(listener);
        auto closed = connectPair(listener);
        QVERIFY(estab.second.valid() && halfClosed.second.valid() && closed.second.valid());
        halfClosed.first.reset(); // client FIN-WAIT-2, server CLOSE-WAIT
        closed.first.reset();
        closed.second.reset(); // client TIME-WAIT; the server end is gone at once
        QStringList reference;
        const auto settled = [&reference] { // every close done: the states the sockets reach
            QStringList states;
            for (const QString &r : reference = ssRows())
                states << r.section(' ', 2);
            return sorted(states).join(' ') == QLatin1String("11 2 5 5 7 8");
        };
        QTRY_VERIFY2_WITH_TIMEOUT(settled(), qPrintable(reference.join('\n')), 5000);

        std::vector<MIB_TCPROW> netlinkRows, procRows, rows;
        QCOMPARE(readTcpRowsNetlink(netlinkRows), NO_ERROR);
        QCOMPARE(sorted(keys(netlinkRows)), reference);
        QCOMPARE(readTcpRowsProc(procRows), NO_ERROR);
        QCOMPARE(sorted(keys(procRows)), reference);

        // GetTcpTable: the size needed, nothing written into a short buffer, then sorted rows.
        uint32_t size = 0, small = 3;
        std::vector<uint8_t> block(1000, 0xAB);
        QCOMPARE(GetTcpTable(nullptr, &size, true), ERROR_INSUFFICIENT_BUFFER);
        QCOMPARE(GetTcpTable(block.data(), &small, true), ERROR_INSUFFICIENT_BUFFER);
        QVERIFY(size == TcpTableHeader + 6 * TcpRowBytes && small == size && block[0] == 0xAB);
        QCOMPARE(GetTcpTable(block.data(), &size, true), NO_ERROR);
        QVERIFY(readTcpTableBlock(block.data(), size, rows));
        QCOMPARE(sorted(keys(rows)), reference);
        QVERIFY(std::is_sorted(rows.begin(), rows.end(), tcpRowLess));

        // The CLI prints the same rows, tab-separated, in the same order.
        const auto [code, printed] = run(cli, {QStringLiteral("tcptable")});
        QCOMPARE(code, 0);
        QStringList printedKeys;
        for (const QString &line : printed) {
            const QStringList f = line.split('\t');
            printedKeys << (f.size() < 5
                                ? line
                                : key(f[0], f[1].toUInt(), f[2], f[3].toUInt(), f[4].toUInt()));
        }
        QCOMPARE(printedKeys, keys(rows));

        // Three connects, six table rows; the CLI shows the same counters.
        MIB_TCPSTATS stats;
        QCOMPARE(GetTcpStatistics(&stats), NO_ERROR);
        QCOMPARE(QList<uint32_t>({stats.dwActiveOpens, stats.dwPassiveOpens, stats.dwNumConns}),
                 QList<uint32_t>({3, 3, 6}));
        const auto [statsCode, statsLines] = run(cli, {QStringLiteral("tcpstats")});
        QCOMPARE(statsCode, 0);
        QCOMPARE(statsLines.size(), 15);
        QVERIFY(statsLines.contains(QStringLiteral("active opens\t3")));
        QVERIFY(statsLines.contains(QStringLiteral("maximum connections\t-1")));
    }
};

QTEST_GUILESS_MAIN(tst_TcpLive)
#include "tst_tcplive.moc"
