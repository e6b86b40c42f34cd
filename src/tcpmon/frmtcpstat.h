#pragma once
#include "iphlpapi.h"
#include "toolwindow.h"

class QPushButton;
class ReportListView;
class ListItemsModel;

// TCP Statistics: the host's fifteen TCP counters, read on each "Get Stats".
class frmTCPStat : public ToolWindow {
    Q_OBJECT
public:
    using ToolWindow::ToolWindow;
    void createControls() override;
    void Form_Load() override;

    // Writes each value into the row captioned for it, whatever the display order.
    void fillStatistics(const iphlp::MIB_TCPSTATS &stats);

    ReportListView *ListView1 = nullptr;
    QPushButton *Command1 = nullptr;

public Q_SLOTS:
    void Command1_Click();

private:
    ListItemsModel *items() const;
};
