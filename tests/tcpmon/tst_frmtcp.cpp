// The TCP Statistics and TCP Table windows over chosen counters and a stand-in table source:
// values in their rows, texts of odd rows, a table that changes while it is read, and sorting.
#include "winsock.h" // before libc's network headers, which may make ntohs a macro

#include "frmtcpstat.h"
#include "frmtcptable.h"
#include "reportlistview.h"
#include "tcptest.h"

#include <QtTest>
#include <QtWidgets>

using iphlp::MIB_TCPROW;

Q_DECLARE_METATYPE(iphlp::MIB_TCPROW)

namespace {
// What the stand-in table source does wrong.
enum Trouble { None, SizeZero, SizeNegative, GrowsOnce, KeepsGrowing, ReadFails, CountTooLarge };
Trouble g_trouble = None;
std::vector<MIB_TCPROW> g_table; // what it reports

uint32_t fakeTable(void *buffer, uint32_t *size, bool)
{
    if (g_trouble == SizeZero || g_trouble == SizeNegative)
        return *size = g_trouble == SizeZero ? 0 : 0x80000000u, 0;
    // A connection appears between the size query and the read: once, or at every read.
    if (buffer && (g_trouble == KeepsGrowing || (g_trouble == GrowsOnce && g_table.size() == 1)))
        g_table.push_back(g_table.front());
    if (buffer && g_trouble == ReadFails)
        return 31;
    const auto needed = uint32_t(iphlp::tcpTableSize(g_table.size()));
    if (!buffer || *size < needed)
        return *size = needed, iphlp::ERROR_INSUFFICIENT_BUFFER;
    iphlp::writeTcpTable(g_table, static_cast<uint8_t *>(buffer));
    static_cast<uint8_t *>(buffer)[0] += g_trouble == CountTooLarge ? 200 : 0;
    return 0;
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
    std::unique_ptr<frmTCPTable> table;

private Q_SLOTS:
    void init()
    {
        g_trouble = None;
        table = std::make_unique<frmTCPTable>();
        table->load();
        table->show();
        table->setTableSource(fakeTable);
        QVERIFY(QTest::qWaitForWindowExposed(table.get()));
    }

    void statValues()
    {
        frmTCPStat stat;
        stat.load();
        stat.show();
        QVERIFY(QTest::qWaitForWindowExposed(&stat));
        clickHeader(stat.ListView1, 1); // values descending: unlike the load order
        // Every field different, so a value in the wrong row shows.
        stat.fillStatistics(
            {7, 200, 120000, 0xFFFFFFFFu, 29, 18, 3, 4, 5, 0x80000001u, 1921, 7, 8, 2, 77});
        QStringList values;
        QHash<QString, QString> valueOf;
        for (const QString &r : shown(stat.ListView1))
            valueOf[r.section('|', 0, 0)] = values.emplaceBack(r.section('|', 1));
        QCOMPARE(valueOf["time-out algorithm"], "7 - "); // a code without a name
        QCOMPARE(valueOf["maximum connections"], "-1");
        QCOMPARE(valueOf["segments received"], "-2147483647"); // signed
        QCOMPARE(valueOf["cumulative connections"], "77");
        // New values take their places, compared as texts.
        QVERIFY(
            std::is_sorted(values.rbegin(), values.rend(), [](const QString &a, const QString &b) {
                return a.compare(b, Qt::CaseInsensitive) < 0;
            }));
    }

    void tableTexts_data()
    {
        QTest::addColumn<int>("trouble");
        QTest::addColumn<MIB_TCPROW>("tableRow");
        QTest::addColumn<QString>("texts"); // of each row shown; none: the press shows nothing
        const MIB_TCPROW any = row(5, "10.0.0.1", 1, "10.0.0.2", 2);
        MIB_TCPROW upper = row(11, "1.2.3.4", 8080, "5.6.7.8", 443);
        upper.dwLocalPort |= 0xABCD0000u;
        QTest::newRow("listener") << +None << row(2, "127.0.0.1", 80, "0.0.0.0", 0)
                                  << "127.0.0.1|80|0.0.0.0|0|2|listening";
        QTest::newRow("port 50000 unsigned")
            << +None << row(5, "192.168.1.2", 50000, "10.0.0.1", 65535)
            << "192.168.1.2|50000|10.0.0.1|65535|5|established";
        QTest::newRow("upper port bits ignored")
            << +None << upper << "1.2.3.4|8080|5.6.7.8|443|11|time wait";
        QTest::newRow("state outside 1-12")
            << +None << row(0xFFFFFFFFu, "0.0.0.0", 0, "0.0.0.0", 0) << "0.0.0.0|0|0.0.0.0|0|-1|";
        QTest::newRow("size 0") << +SizeZero << any << "";
        QTest::newRow("size negative") << +SizeNegative << any << "";
        QTest::newRow("table grew once")
            << +GrowsOnce << any << "10.0.0.1|1|10.0.0.2|2|5|established";
        QTest::newRow("table keeps growing") << +KeepsGrowing << any << "";
        QTest::newRow("read fails") << +ReadFails << any << "";
        QTest::newRow("count beyond block") << +CountTooLarge << any << "";
    }
    void tableTexts()
    {
        QFETCH(int, trouble);
        QFETCH(MIB_TCPROW, tableRow);
        QFETCH(QString, texts);
        g_trouble = Trouble(trouble);
        g_table = {tableRow};
        QTest::mouseClick(table->Command1, Qt::LeftButton);
        QCOMPARE(shown(table->ListView1),
                 QStringList(texts.isEmpty() ? 0 : qsizetype(g_table.size()), texts));
    }

    void tableSorting()
    {
        const auto press = [this](const QList<int> &localPorts) {
            g_table.clear();
            for (int p : localPorts)
                g_table.push_back(row(5, "127.0.0.1", unsigned(p), "127.0.0.1", 40000));
            QTest::mouseClick(table->Command1, Qt::LeftButton);
        };
        const auto ports = [this] {
            return shown(table->ListView1)
                .replaceInStrings(QRegularExpression("^[^|]*\\|([^|]*).*"), "\\1")
                .join(' ');
        };
        press({443, 80, 1025});
        press({8080});
        QCOMPARE(ports(), "443 80 1025 8080"); // unsorted: the table's order, appended below
        clickHeader(table->ListView1, 1);
        QCOMPARE(ports(), "8080 80 443 1025"); // descending, as texts
        clickHeader(table->ListView1, 1);
        QCOMPARE(ports(), "1025 443 80 8080");
        clickHeader(table->ListView1, 0); // one order for the list: another header flips it
        clickHeader(table->ListView1, 1);
        QCOMPARE(ports(), "1025 443 80 8080");
        press({9, 100, 443}); // appended rows take their places
        QCOMPARE(ports(), "100 1025 443 443 80 8080 9");
    }
};

QTEST_MAIN(tst_TcpWindows)
#include "tst_frmtcp.moc"
