#pragma once
#include "iphlpapi.h"
#include "toolwindow.h"

class LineControl;
class QPushButton;
class ReportListView;
class TcpTableModel;

// TCP Table: each "Get TCP Table" appends one row per current IPv4 TCP connection.
class frmTCPTable : public ToolWindow {
    Q_OBJECT
public:
    using TableSource = uint32_t (*)(void *buffer, uint32_t *size, bool sorted);

    using ToolWindow::ToolWindow;
    void createControls() override;
    void Form_Load() override;

    // Where "Get TCP Table" reads the table; tests and benchmarks substitute their own.
    void setTableSource(TableSource source) { m_source = source; }
    TcpTableModel *items() const;

    QPushButton *Command1 = nullptr;
    ReportListView *ListView1 = nullptr;
    LineControl *Line1 = nullptr;

public Q_SLOTS:
    void Command1_Click();

private:
    TableSource m_source = iphlp::GetTcpTable;
};
