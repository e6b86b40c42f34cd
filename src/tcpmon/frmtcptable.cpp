#include "frmtcptable.h"

#include "controls.h"
#include "reportlistview.h"
#include "tcptablemodel.h"
#include "twips.h"

#include <QPushButton>

#include <vector>

void frmTCPTable::createControls()
{
    setWindowTitle(QStringLiteral("TCP Table"));
    setFixedSize(Twips::size(10380, 4815));

    Command1 = Controls::button(this, QStringLiteral("Command1"), QStringLiteral("Get TCP Table"),
                                8910, 90, 1320, 495);

    ListView1 = new ReportListView(new TcpTableModel, this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("TCP Table"));
    Twips::place(ListView1, 210, 750, 10065, 3900);

    Line1 = new LineControl(this, 615, 315, 8640, 330, qRgb(0xC0, 0, 0));
    Line1->setObjectName(QStringLiteral("Line1"));

    setTabOrder(ListView1, Command1);
    connect(Command1, &QPushButton::clicked, this, &frmTCPTable::Command1_Click);
    connect(ListView1, &ReportListView::ColumnClick, ListView1, &ReportListView::sortOnColumnClick);
}

TcpTableModel *frmTCPTable::items() const
{
    return ListView1 ? static_cast<TcpTableModel *>(ListView1->items()) : nullptr;
}

void frmTCPTable::Form_Load()
{
    TcpTableModel *list = items();
    for (const char *header : {"Local IP Address", "Local Port", "Remote IP Address", "Remote Port",
                               "State (dec)", "State Description"})
        list->addColumn(QString::fromLatin1(header));
    ListView1->setFocus();
}

void frmTCPTable::Command1_Click()
{
    // Connections come and go between the size query and the read: a read that finds the
    // block too small asks for the size again, a few times, before the press shows nothing.
    std::vector<uint8_t> block;
    uint32_t result = iphlp::ERROR_INSUFFICIENT_BUFFER;
    for (int tries = 0; tries < 3 && result == iphlp::ERROR_INSUFFICIENT_BUFFER; ++tries) {
        uint32_t size = 0;
        m_source(nullptr, &size, true);
        if (int32_t(size) <= 0)
            return;
        block.assign(size, 0);
        result = m_source(block.data(), &size, true);
    }
    if (result != 0)
        return;
    std::vector<iphlp::MIB_TCPROW> rows;
    if (!iphlp::readTcpTableBlock(block.data(), block.size(), rows))
        return; // a count beyond the block's end
    if (TcpTableModel *list = items())
        list->appendRows(rows);
}
