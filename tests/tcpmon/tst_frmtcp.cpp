// The TCP Statistics and TCP Table windows over chosen counters and a stand-in table source:
// values in their rows, texts of odd rows, a table that changes while it is read, and sorting.
#include "winsock.h" // before libc's network headers, which may make ntohs a macro

#include "frmtcpstat.h"
#include "frmtcptable.h"
#include "reportlistview.h"
#include "tcptest.h"

#include <QHeaderView>
#include <QPushButton>
#include <QtTest>

using iphlp::MIB_TCPROW;
using Source = frmTCPTable::TableSource;

Q_DECLARE_METATYPE(iphlp::MIB_TCPROW)
Q_DECLARE_METATYPE(frmTCPTable::TableSource)

namespace {
std::vector<MIB_TCPROW> g_table; // what the stand-in table source reports

uint32_t fakeTable(void *buffer, uint32_t *size, bool)
{
    const auto needed = uint32_t(iphlp::tcpTableSize(g_table.size()));
    if (buffer && *size >= needed)
        return iphlp::writeTcpTable(g_table, static_cast<uint8_t *>(buffer)), 0;
    *size = needed;
    return iphlp::ERROR_INSUFFICIENT_BUFFER;
}

// Each row as displayed, its texts joined by "|", top down.
QStringList shown(const ReportListView *view)
{
    QStringList rows;
    for (int r = 0; r < view->model()->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < view->model()->columnCount(); ++c)
            cells << view->displayText(r, c);
        rows << cells.join('|');
    }
    return rows;
}

void clickHeader(ReportListView *view, int section)
{
    QHeaderView *h = view->header();
    QTest::mouseClick(
        h->viewport(), Qt::LeftButton, {},
        {h->sectionViewportPosition(section) + h->sectionSize(section) / 2, h->height() / 2});
}
} // namespace

class tst_TcpWindows : public QObject {
    Q_OBJECT
    std::unique_ptr<frmTCPStat> stat;
    std::unique_ptr<frmTCPTable> table;

private Q_SLOTS:
    void init()
    {
        stat = std::make_unique<frmTCPStat>();
        table = std::make_unique<frmTCPTable>();
        for (ToolWindow *w : std::initializer_list<ToolWindow *>{stat.get(), table.get()}) {
            w->load();
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w));
        }
    }
    void cleanup() { stat.reset(), table.reset(); }

    void statValues_data()
    {
        QTest::addColumn<uint32_t>("code");
        QTest::addColumn<QString>("algorithm");
        QTest::newRow("4") << 4u << "4 - Van Jacobson's Algorithm";
        QTest::newRow("outside 1-4") << 7u << "7 - ";
    }
    void statValues()
    {
        QFETCH(uint32_t, code);
        QFETCH(QString, algorithm);
        clickHeader(stat->ListView1, 1); // values descending: unlike the load order
        // Every field different, so a value in the wrong row shows.
        stat->fillStatistics(
            {code, 200, 120000, 0xFFFFFFFFu, 29, 18, 3, 4, 5, 0x80000001u, 1921, 7, 8, 2, 77});
        QStringList values;
        QHash<QString, QString> valueOf;
        for (const QString &r : shown(stat->ListView1))
            valueOf[r.section('|', 0, 0)] = values.emplaceBack(r.section('|', 1));
        QCOMPARE(valueOf["time-out algorithm"], algorithm);
        QCOMPARE(valueOf["maximum connections"], "-1");
        QCOMPARE(valueOf["segments received"], "-2147483647"); // signed
        QCOMPARE(valueOf["cumulative connections"], "77");
        // New values take their places, compared as texts.
        QVERIFY(std::is_sorted(values.rbegin(), values.rend(), [](const QString &a, const QString &b) {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        }));
    }

    void tableTexts_data()
    {
        QTest::addColumn<Source>("source");
        QTest::addColumn<MIB_TCPROW>("tableRow");
        QTest::addColumn<QString>("texts"); // of each row shown; none: the press shows nothing
        const Source fake = fakeTable;
        const MIB_TCPROW any = row(5, "10.0.0.1", 1, "10.0.0.2", 2);
        MIB_TCPROW upper = row(11, "1.2.3.4", 8080, "5.6.7.8", 443);
        upper.dwLocalPort |= 0xABCD0000u;
        QTest::newRow("listener") << fake << row(2, "127.0.0.1", 80, "0.0.0.0", 0)
                                  << "127.0.0.1|80|0.0.0.0|0|2|listening";
        QTest::newRow("port 50000 unsigned")
            << fake << row(5, "192.168.1.2", 50000, "10.0.0.1", 65535)
            << "192.168.1.2|50000|10.0.0.1|65535|5|established";
        QTest::newRow("upper port bits ignored") << fake << upper << "1.2.3.4|8080|5.6.7.8|443|11|time wait";
        QTest::newRow("state outside 1-12")
            << fake << row(0xFFFFFFFFu, "0.0.0.0", 0, "0.0.0.0", 0) << "0.0.0.0|0|0.0.0.0|0|-1|";
        QTest::newRow("size 0") << Source([](void *, uint32_t *size, bool) { return *size = 0; })
                                << any << "";
        QTest::newRow("size negative")
            << Source([](void *, uint32_t *size, bool) { return *size = 0x80000000u, 0u; }) << any
            << "";
        // A connection appears between the size query and the read: once, or at every read.
        QTest::newRow("table grew once") << Source([](void *b, uint32_t *size, bool sorted) {
            if (b && g_table.size() == 1)
                g_table.push_back(g_table.front());
            return fakeTable(b, size, sorted);
        }) << any << "10.0.0.1|1|10.0.0.2|2|5|established";
        QTest::newRow("table keeps growing") << Source([](void *b, uint32_t *size, bool sorted) {
            if (b)
                g_table.push_back(g_table.front());
            return fakeTable(b, size, sorted);
        }) << any << "";
        QTest::newRow("read fails") << Source([](void *b, uint32_t *size, bool sorted) {
            return b ? 31u : fakeTable(b, size, sorted);
        }) << any << "";
        QTest::newRow("count beyond block") << Source([](void *b, uint32_t *size, bool sorted) {
            const uint32_t e = fakeTable(b, size, sorted);
            if (b && !e)
                static_cast<uint8_t *>(b)[0] = 200;
            return e;
        }) << any << "";
    }
    void tableTexts()
    {
        QFETCH(Source, source);
        QFETCH(MIB_TCPROW, tableRow);
        QFETCH(QString, texts);
        g_table = {tableRow};
        table->setTableSource(source);
        QTest::mouseClick(table->Command1, Qt::LeftButton);
        QCOMPARE(shown(table->ListView1), QStringList(texts.isEmpty() ? 0 : qsizetype(g_table.size()), texts));
    }

    void tableSorting_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QList<int>>("appended");
        QTest::addColumn<QString>("ports");
        const QList<int> none;
        QTest::newRow("unsorted keeps table order, appends below") << none << QList<int>{9}
                                                                   << "443 80 1025 8080 9";
        QTest::newRow("first click descending as text") << QList<int>{1} << none << "8080 80 443 1025";
        QTest::newRow("second click ascending") << QList<int>{1, 1} << none << "1025 443 80 8080";
        QTest::newRow("flip on another header") << QList<int>{1, 0, 1} << none << "8080 80 443 1025";
        QTest::newRow("appended rows take their places")
            << QList<int>{1, 1} << QList<int>{9, 100, 443} << "100 1025 443 443 80 8080 9";
    }
    void tableSorting()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(QList<int>, appended);
        QFETCH(QString, ports);
        table->setTableSource(fakeTable);
        const auto press = [this](const QList<int> &localPorts) {
            g_table.clear();
            for (int p : localPorts)
                g_table.push_back(row(5, "127.0.0.1", unsigned(p), "127.0.0.1", 40000));
            QTest::mouseClick(table->Command1, Qt::LeftButton);
        };
        press({443, 80, 1025, 8080});
        for (int c : clicks)
            clickHeader(table->ListView1, c);
        if (!appended.isEmpty())
            press(appended);
        QCOMPARE(shown(table->ListView1).replaceInStrings(QRegularExpression("^[^|]*\\|([^|]*).*"), "\\1").join(' '),
                 ports);
    }
};

QTEST_MAIN(tst_TcpWindows)
#include "tst_frmtcp.moc"
