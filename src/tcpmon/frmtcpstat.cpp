#include "frmtcpstat.h"

#include "controls.h"
#include "reportlistview.h"
#include "tcptexts.h"
#include "twips.h"

#include <QPixmap>
#include <QPushButton>

void frmTCPStat::createControls()
{
    setWindowTitle(QStringLiteral("TCP Statistics"));
    // The window has no icon of its own.
    QPixmap none(16, 16);
    none.fill(Qt::transparent);
    setWindowIcon(QIcon(none));
    setFixedSize(Twips::size(4680, 3195));

    ListView1 = new ReportListView(new ListItemsModel, this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("TCP Statistics"));
    Twips::place(ListView1, 570, 645, 3990, 2460);

    Command1 = Controls::button(this, QStringLiteral("Command1"), QStringLiteral("Get Stats"), 2940,
                                60, 1695, 315);

    setTabOrder(ListView1, Command1);
    connect(Command1, &QPushButton::clicked, this, &frmTCPStat::Command1_Click);
    connect(ListView1, &ReportListView::ColumnClick, ListView1, &ReportListView::sortOnColumnClick);
}

ListItemsModel *frmTCPStat::items() const
{
    return ListView1 ? static_cast<ListItemsModel *>(ListView1->items()) : nullptr;
}

void frmTCPStat::Form_Load()
{
    ListItemsModel *list = items();
    list->addColumn(QStringLiteral("Information"));
    list->addColumn(QStringLiteral("TCP Statistics"));
    for (const iphlp::TcpStatRow &row : iphlp::TcpStatRows)
        list->addItem(QString::fromLatin1(row.caption));
    // The list is a report view by construction; focus starts on the first control in order.
    ListView1->setFocus();
}

void frmTCPStat::Command1_Click()
{
    iphlp::MIB_TCPSTATS stats;
    if (iphlp::GetTcpStatistics(&stats) != 0)
        return; // silent: the list keeps its former values
    fillStatistics(stats);
}

void frmTCPStat::fillStatistics(const iphlp::MIB_TCPSTATS &stats)
{
    ListItemsModel *list = items();
    if (!list)
        return;
    // A row the list cannot take is skipped and the next one is written.
    for (int row = 0; row < iphlp::TcpStatRowCount; ++row)
        list->setSubItem(row, 1, QString::fromStdString(iphlp::tcpStatValueText(row, stats)));
}
