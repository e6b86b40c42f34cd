#include "frmtcpstat.h"
#include "loopback.h"
#include "reportlistview.h"
#include "tcptexts.h"
#include "twips.h"

#include <QHeaderView>
#include <QPushButton>
#include <QtTest>

using iphlp::MIB_TCPSTATS;

Q_DECLARE_METATYPE(iphlp::MIB_TCPSTATS)

namespace {

QStringList column(const ReportListView *view, int col)
{
    QStringList texts;
    for (int r = 0; r < view->model()->rowCount(); ++r)
        texts << view->displayText(r, col);
    return texts;
}

// The value shown in the row captioned so, wherever it is displayed.
QString valueOf(const ReportListView *view, const QString &caption)
{
    const QStringList captions = column(view, 0);
    const int row = int(captions.indexOf(caption));
    return row < 0 ? QStringLiteral("<no row>") : view->displayText(row, 1);
}

void clickHeader(ReportListView *view, int section)
{
    QHeaderView *h = view->header();
    const QPoint p(h->sectionViewportPosition(section) + h->sectionSize(section) / 2,
                   h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, p);
}

// Every field different, so a value in the wrong row shows.
MIB_TCPSTATS distinctRecord()
{
    MIB_TCPSTATS s;
    uint32_t v = 3;
    for (const auto &row : iphlp::TcpStatRows)
        s.*row.field = v++ * 11;
    s.dwRtoAlgorithm = 2;
    return s;
}

uint32_t failingSource(MIB_TCPSTATS *) { return 13; }

} // namespace

class TestFrmTcpStat : public QObject {
    Q_OBJECT
    std::unique_ptr<frmTCPStat> w;

private Q_SLOTS:
    void init()
    {
        w = std::make_unique<frmTCPStat>();
        w->load();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }
    void cleanup() { w.reset(); }

    void design()
    {
        QCOMPARE(w->windowTitle(), QStringLiteral("TCP Statistics"));
        QCOMPARE(w->size(), Twips::size(4680, 3195));
        QCOMPARE(w->ListView1->objectName(), QStringLiteral("ListView1"));
        QCOMPARE(w->ListView1->geometry(), Twips::rect(570, 645, 3990, 2460));
        QCOMPARE(w->Command1->objectName(), QStringLiteral("Command1"));
        QCOMPARE(w->Command1->text(), QStringLiteral("Get Stats"));
        QCOMPARE(w->Command1->geometry(), Twips::rect(2940, 60, 1695, 315));
        QCOMPARE(w->ListView1->model()->headerData(0, Qt::Horizontal).toString(),
                 QStringLiteral("Information"));
        QCOMPARE(w->ListView1->model()->headerData(1, Qt::Horizontal).toString(),
                 QStringLiteral("TCP Statistics"));
        QCOMPARE(w->ListView1->model()->columnCount(), 2);
        QCOMPARE(column(w->ListView1, 0),
                 (QStringList{"time-out algorithm", "minimum time-out", "maximum time-out",
                              "maximum connections", "active opens", "passive opens",
                              "failed attempts", "established connections reset",
                              "established connections", "segments received", "segment sent",
                              "segments retransmitted", "incoming errors", "outgoing resets",
                              "cumulative connections"}));
        // Before the first "Get Stats" the value column is empty.
        QCOMPARE(column(w->ListView1, 1), QStringList(15, QString()));
    }

    void focusOrder()
    {
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QCOMPARE(QApplication::focusWidget(), w->ListView1);
        QTest::keyClick(w->ListView1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w->Command1);
    }

    void fill_data()
    {
        QTest::addColumn<MIB_TCPSTATS>("record");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("expected");
        MIB_TCPSTATS s;
        for (uint32_t code : {1u, 2u, 3u, 4u}) {
            s.dwRtoAlgorithm = code;
            QTest::addRow("algorithm %u", code)
                << s << "time-out algorithm"
                << QString::number(code) + " - " + iphlp::rtoAlgorithmName(code);
        }
        s.dwRtoAlgorithm = 4;
        QTest::newRow("Van Jacobson") << s << "time-out algorithm"
                                      << "4 - Van Jacobson's Algorithm";
        s.dwRtoAlgorithm = 7;
        QTest::newRow("code outside 1-4") << s << "time-out algorithm" << "7 - ";
        s.dwRtoAlgorithm = 0;
        QTest::newRow("code 0") << s << "time-out algorithm" << "0 - ";
        s.dwMaxConn = 0xFFFFFFFFu;
        QTest::newRow("all bits shows -1") << s << "maximum connections" << "-1";
        s.dwInSegs = 0x80000001u;
        QTest::newRow("wrapped counter") << s << "segments received" << "-2147483647";
        const MIB_TCPSTATS d = distinctRecord();
        for (int i = 1; i < iphlp::TcpStatRowCount; ++i)
            QTest::addRow("row %d", i + 1) << d << iphlp::TcpStatRows[i].caption
                                           << QString::number(d.*iphlp::TcpStatRows[i].field);
    }

    void fill()
    {
        QFETCH(MIB_TCPSTATS, record);
        QFETCH(QString, caption);
        QFETCH(QString, expected);
        w->fillStatistics(record);
        QCOMPARE(valueOf(w->ListView1, caption), expected);
    }

    void getStatsLive()
    {
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        const QString first = valueOf(w->ListView1, QStringLiteral("active opens"));
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d+ - ")).match(
                     valueOf(w->ListView1, QStringLiteral("time-out algorithm"))).hasMatch(),
                 qPrintable(valueOf(w->ListView1, QStringLiteral("time-out algorithm"))));
        QCOMPARE(valueOf(w->ListView1, QStringLiteral("maximum connections")), QStringLiteral("-1"));

        Fd listener = listenLoopback();
        auto pair = connectPair(listener);
        QVERIFY(pair.first.valid());
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        const QString second = valueOf(w->ListView1, QStringLiteral("active opens"));
        QVERIFY2(uint32_t(second.toInt()) > uint32_t(first.toInt()),
                 qPrintable(first + " -> " + second));
        QVERIFY(valueOf(w->ListView1, QStringLiteral("cumulative connections")).toInt() >= 3);
    }

    void failureKeepsValues()
    {
        const MIB_TCPSTATS d = distinctRecord();
        w->fillStatistics(d);
        const QStringList before = column(w->ListView1, 1);
        w->setStatisticsSource(failingSource);
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(column(w->ListView1, 1), before);
    }

    void sorting_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<Qt::SortOrder>("order");
        QTest::addColumn<QStringList>("head");
        QTest::addColumn<QStringList>("tail");
        // Values: algorithm "1 - Other", minimum 9, maximum 10, every other field 0.
        QTest::newRow("value, first click descending")
            << QList<int>{1} << Qt::DescendingOrder
            << QStringList{"minimum time-out", "maximum time-out", "time-out algorithm"}
            << QStringList{"outgoing resets", "cumulative connections"};
        QTest::newRow("value, second click ascending: 10 before 9")
            << QList<int>{1, 1} << Qt::AscendingOrder
            << QStringList{"maximum connections", "active opens"}
            << QStringList{"time-out algorithm", "maximum time-out", "minimum time-out"};
        QTest::newRow("caption, descending")
            << QList<int>{0} << Qt::DescendingOrder
            << QStringList{"time-out algorithm", "segments retransmitted", "segments received"}
            << QStringList{"cumulative connections", "active opens"};
        QTest::newRow("one order for the whole list")
            << QList<int>{1, 0} << Qt::AscendingOrder
            << QStringList{"active opens", "cumulative connections", "established connections",
                           "established connections reset"}
            << QStringList{"segments retransmitted", "time-out algorithm"};
        QTest::newRow("third click descending again")
            << QList<int>{0, 1, 0} << Qt::DescendingOrder
            << QStringList{"time-out algorithm", "segments retransmitted"}
            << QStringList{"active opens"};
    }

    void sorting()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(Qt::SortOrder, order);
        QFETCH(QStringList, head);
        QFETCH(QStringList, tail);
        MIB_TCPSTATS s;
        s.dwRtoAlgorithm = 1;
        s.dwRtoMin = 9;
        s.dwRtoMax = 10;
        w->fillStatistics(s);
        for (int c : clicks)
            clickHeader(w->ListView1, c);
        QVERIFY(w->ListView1->Sorted());
        QCOMPARE(w->ListView1->SortKey(), clicks.last());
        QCOMPARE(w->ListView1->SortOrder(), order);
        QCOMPARE(w->ListView1->header()->sortIndicatorOrder(), order);
        QCOMPARE(w->ListView1->header()->sortIndicatorSection(), clicks.last());
        const QStringList captions = column(w->ListView1, 0);
        QCOMPARE(captions.mid(0, head.size()), head);
        QCOMPARE(captions.mid(captions.size() - tail.size()), tail);
    }

    void fillAfterSorting()
    {
        w->fillStatistics(MIB_TCPSTATS{});
        clickHeader(w->ListView1, 1);
        clickHeader(w->ListView1, 0);
        const MIB_TCPSTATS d = distinctRecord();
        w->fillStatistics(d);
        for (int i = 1; i < iphlp::TcpStatRowCount; ++i)
            QCOMPARE(valueOf(w->ListView1, QLatin1String(iphlp::TcpStatRows[i].caption)),
                     QString::number(d.*iphlp::TcpStatRows[i].field));
        QCOMPARE(valueOf(w->ListView1, QStringLiteral("time-out algorithm")),
                 QStringLiteral("2 - Constant Time-out"));
    }
};

QTEST_MAIN(TestFrmTcpStat)
#include "tst_frmtcpstat.moc"
