#include "winsock.h" // before libc's network headers, which may make ntohs a macro

#include "frmtcptable.h"
#include "loopback.h"
#include "reportlistview.h"
#include "tcptablemodel.h"
#include "twips.h"

#include <QHeaderView>
#include <QPushButton>
#include <QtTest>

using iphlp::MIB_TCPROW;

Q_DECLARE_METATYPE(iphlp::MIB_TCPROW)
Q_DECLARE_METATYPE(frmTCPTable::TableSource)

namespace {

uint32_t portField(unsigned port) { return (port >> 8 & 0xFF) | (port & 0xFF) << 8; }

MIB_TCPROW row(uint32_t state, const char *local, unsigned lport, const char *remote,
               unsigned rport)
{
    return {state, winsock::inet_addr(local), portField(lport), winsock::inet_addr(remote),
            portField(rport)};
}

// The table the fake sources report.
std::vector<MIB_TCPROW> g_table;
int g_calls = 0;

uint32_t fakeTable(void *buffer, uint32_t *size, bool)
{
    ++g_calls;
    const auto needed = uint32_t(iphlp::tcpTableSize(g_table.size()));
    if (!buffer || *size < needed) {
        *size = needed;
        return iphlp::ERROR_INSUFFICIENT_BUFFER;
    }
    iphlp::writeTcpTable(g_table, static_cast<uint8_t *>(buffer));
    return 0;
}

// A connection appears between the size query and the read.
uint32_t growingTable(void *buffer, uint32_t *size, bool sorted)
{
    if (buffer)
        g_table.push_back(row(5, "10.0.0.1", 1, "10.0.0.2", 2));
    return fakeTable(buffer, size, sorted);
}

uint32_t emptySize(void *, uint32_t *size, bool)
{
    *size = 0;
    return 0;
}

uint32_t negativeSize(void *, uint32_t *size, bool)
{
    *size = 0x80000000u;
    return 0;
}

uint32_t failingRead(void *buffer, uint32_t *size, bool sorted)
{
    return buffer ? 31u : fakeTable(buffer, size, sorted);
}

// The count claims more rows than the block holds.
uint32_t lyingCount(void *buffer, uint32_t *size, bool sorted)
{
    const uint32_t e = fakeTable(buffer, size, sorted);
    if (buffer && !e)
        static_cast<uint8_t *>(buffer)[0] = 200;
    return e;
}

QStringList displayRow(const ReportListView *view, int r)
{
    QStringList texts;
    for (int c = 0; c < view->model()->columnCount(); ++c)
        texts << view->displayText(r, c);
    return texts;
}

QList<QStringList> displayRows(const ReportListView *view)
{
    QList<QStringList> rows;
    for (int r = 0; r < view->model()->rowCount(); ++r)
        rows << displayRow(view, r);
    return rows;
}

QStringList column(const ReportListView *view, int col)
{
    QStringList texts;
    for (int r = 0; r < view->model()->rowCount(); ++r)
        texts << view->displayText(r, col);
    return texts;
}

void clickHeader(ReportListView *view, int section)
{
    QHeaderView *h = view->header();
    const QPoint p(h->sectionViewportPosition(section) + h->sectionSize(section) / 2,
                   h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, p);
}

std::vector<MIB_TCPROW> portsRows(const QList<int> &ports)
{
    std::vector<MIB_TCPROW> rows;
    for (int p : ports)
        rows.push_back(row(5, "127.0.0.1", unsigned(p), "127.0.0.1", 40000));
    return rows;
}

} // namespace

class TestFrmTcpTable : public QObject {
    Q_OBJECT
    std::unique_ptr<frmTCPTable> w;

private Q_SLOTS:
    void init()
    {
        g_table.clear();
        g_calls = 0;
        w = std::make_unique<frmTCPTable>();
        w->load();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->setTableSource(fakeTable);
    }
    void cleanup() { w.reset(); }

    void design()
    {
        QCOMPARE(w->windowTitle(), QStringLiteral("TCP Table"));
        QCOMPARE(w->size(), Twips::size(10380, 4815));
        QCOMPARE(w->Command1->text(), QStringLiteral("Get TCP Table"));
        QCOMPARE(w->Command1->geometry(), Twips::rect(8910, 90, 1320, 495));
        QCOMPARE(w->ListView1->geometry(), Twips::rect(210, 750, 10065, 3900));
        QCOMPARE(w->ListView1->objectName(), QStringLiteral("ListView1"));
        QCOMPARE(w->Line1->objectName(), QStringLiteral("Line1"));
        QVERIFY(w->Line1->geometry().contains(QPoint(Twips::toPixelsX(615), Twips::toPixelsY(315))));
        QVERIFY(w->Line1->geometry().contains(QPoint(Twips::toPixelsX(8640), Twips::toPixelsY(330))));
        QStringList headers;
        for (int c = 0; c < w->ListView1->model()->columnCount(); ++c)
            headers << w->ListView1->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers, (QStringList{"Local IP Address", "Local Port", "Remote IP Address",
                                       "Remote Port", "State (dec)", "State Description"}));
        QCOMPARE(w->ListView1->model()->rowCount(), 0);
    }

    void rowTexts_data()
    {
        QTest::addColumn<MIB_TCPROW>("tableRow");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("listener") << row(2, "127.0.0.1", 80, "0.0.0.0", 0)
                                  << QStringList{"127.0.0.1", "80", "0.0.0.0", "0", "2", "listening"};
        QTest::newRow("port 50000 unsigned")
            << row(5, "192.168.1.20", 50000, "10.0.0.1", 65535)
            << QStringList{"192.168.1.20", "50000", "10.0.0.1", "65535", "5", "established"};
        MIB_TCPROW upper = row(11, "1.2.3.4", 8080, "5.6.7.8", 443);
        upper.dwLocalPort |= 0xABCD0000u;
        QTest::newRow("upper port bits ignored")
            << upper << QStringList{"1.2.3.4", "8080", "5.6.7.8", "443", "11", "time wait"};
        const char *texts[] = {"", "closed", "listening", "sent", "received", "established",
                               "fin wait 1", "fin wait 2", "close wait", "closing", "last ack",
                               "time wait", "TCB deleted", ""};
        for (uint32_t s = 0; s <= 13; ++s)
            QTest::addRow("state %u", s)
                << row(s, "0.0.0.0", 0, "0.0.0.0", 0)
                << QStringList{"0.0.0.0", "0", "0.0.0.0", "0", QString::number(s), texts[s]};
    }

    void rowTexts()
    {
        QFETCH(MIB_TCPROW, tableRow);
        QFETCH(QStringList, texts);
        g_table = {tableRow};
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(displayRows(w->ListView1), QList<QStringList>{texts});
    }

    void failuresShowNothing_data()
    {
        QTest::addColumn<frmTCPTable::TableSource>("source");
        QTest::newRow("size 0") << frmTCPTable::TableSource(emptySize);
        QTest::newRow("size negative") << frmTCPTable::TableSource(negativeSize);
        QTest::newRow("table grew") << frmTCPTable::TableSource(growingTable);
        QTest::newRow("read fails") << frmTCPTable::TableSource(failingRead);
        QTest::newRow("count beyond block") << frmTCPTable::TableSource(lyingCount);
    }

    void failuresShowNothing()
    {
        QFETCH(frmTCPTable::TableSource, source);
        g_table = portsRows({80, 443});
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(w->ListView1->model()->rowCount(), 2);
        w->setTableSource(source);
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(w->ListView1->model()->rowCount(), 2);
    }

    void pressTwiceShowsEveryRowTwice()
    {
        g_table = {row(2, "127.0.0.1", 631, "0.0.0.0", 0),
                   row(5, "127.0.0.1", 50000, "127.0.0.1", 631),
                   row(5, "127.0.0.1", 631, "127.0.0.1", 50000)};
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        const QList<QStringList> once = displayRows(w->ListView1);
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(displayRows(w->ListView1), once + once);
        QCOMPARE(g_calls, 4); // size query and read, per press
    }

    void sorting_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QList<int>>("appended");
        QTest::addColumn<int>("inspect");
        QTest::addColumn<QStringList>("expected");
        const QList<int> none;
        QTest::newRow("unsorted keeps table order")
            << QList<int>{} << none << 1 << QStringList{"443", "80", "1025", "8080"};
        QTest::newRow("first click descending as text")
            << QList<int>{1} << none << 1 << QStringList{"8080", "80", "443", "1025"};
        QTest::newRow("second click ascending: 1025 before 80")
            << QList<int>{1, 1} << none << 1 << QStringList{"1025", "443", "80", "8080"};
        QTest::newRow("flip on another header")
            << QList<int>{1, 0, 1} << none << 1 << QStringList{"8080", "80", "443", "1025"};
        QTest::newRow("appended rows take their places")
            << QList<int>{1, 1} << QList<int>{9, 100, 443} << 1
            << QStringList{"100", "1025", "443", "443", "80", "8080", "9"};
        QTest::newRow("appended while descending")
            << QList<int>{1} << QList<int>{9, 100} << 1
            << QStringList{"9", "8080", "80", "443", "1025", "100"};
        QTest::newRow("appended before sorting stay below")
            << QList<int>{} << QList<int>{9} << 1 << QStringList{"443", "80", "1025", "8080", "9"};
    }

    void sorting()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(QList<int>, appended);
        QFETCH(int, inspect);
        QFETCH(QStringList, expected);
        g_table = portsRows({443, 80, 1025, 8080});
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        for (int c : clicks)
            clickHeader(w->ListView1, c);
        if (!appended.isEmpty()) {
            g_table = portsRows(appended);
            QTest::mouseClick(w->Command1, Qt::LeftButton);
        }
        QCOMPARE(column(w->ListView1, inspect), expected);
    }

    void interleavedAppendWhileSorted()
    {
        // Every row of the second press sorts between two rows of the first.
        std::vector<MIB_TCPROW> even;
        std::vector<MIB_TCPROW> odd;
        for (unsigned port = 10000; port < 50000; port += 2) {
            even.push_back(row(5, "127.0.0.1", port, "127.0.0.1", 80));
            odd.push_back(row(5, "127.0.0.1", port + 1, "127.0.0.1", 80));
        }
        g_table = even;
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        clickHeader(w->ListView1, 1);
        clickHeader(w->ListView1, 1);
        g_table = odd;
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        const QStringList ports = column(w->ListView1, 1);
        QCOMPARE(ports.size(), 40000);
        for (int i = 0; i < ports.size(); ++i)
            QCOMPARE(ports[i], QString::number(10000 + i));
    }

    void liveConnections()
    {
        Fd listener = listenLoopback();
        auto [client, server] = connectPair(listener);
        QVERIFY(client.valid() && server.valid());
        const QString port = QString::number(localPort(listener.get()));
        const QString clientPort = QString::number(localPort(client.get()));
        const QStringList listening{"127.0.0.1", port, "0.0.0.0", "0", "2", "listening"};
        const QStringList clientEnd{"127.0.0.1", clientPort, "127.0.0.1", port, "5", "established"};
        const QStringList serverEnd{"127.0.0.1", port, "127.0.0.1", clientPort, "5", "established"};

        w->setTableSource(iphlp::GetTcpTable);
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QList<QStringList> rows = displayRows(w->ListView1);
        QCOMPARE(rows.count(listening), 1);
        QCOMPARE(rows.count(clientEnd), 1);
        QCOMPARE(rows.count(serverEnd), 1);

        QTest::mouseClick(w->Command1, Qt::LeftButton);
        rows = displayRows(w->ListView1);
        QCOMPARE(rows.count(listening), 2);
        QCOMPARE(rows.count(clientEnd), 2);
        QCOMPARE(rows.count(serverEnd), 2);
    }
};

QTEST_MAIN(TestFrmTcpTable)
#include "tst_frmtcptable.moc"
