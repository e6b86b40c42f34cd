#pragma once
#include "toolwindow.h"

#include <QElapsedTimer>

#include <array>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeView;
class ScanResultsModel;
namespace scan {
class ScanJob;
}

// Port Scanner: a TCP connect scan of a port range on one host, results listed as they come.
class frmPortScan : public ToolWindow {
    Q_OBJECT
public:
    explicit frmPortScan(QWidget *parent = nullptr);
    ~frmPortScan() override;
    void createControls() override;
    void Form_Load() override;
    void Form_Unload() override;

    bool isScanning() const { return m_job != nullptr; }
    // Connections the scan under way has in flight.
    int inFlight() const;

    QLabel *lblHost = nullptr;
    QLineEdit *txtHost = nullptr;
    QLabel *lblFirstPort = nullptr;
    QLineEdit *txtFirstPort = nullptr;
    QLabel *lblLastPort = nullptr;
    QLineEdit *txtLastPort = nullptr;
    QLabel *lblTimeout = nullptr;
    QLineEdit *txtTimeout = nullptr;
    QCheckBox *chkListAll = nullptr;
    QPushButton *cmdScan = nullptr;
    QPushButton *cmdStop = nullptr;
    QTreeView *lvwPorts = nullptr;
    QProgressBar *prgScan = nullptr;
    QLabel *lblFound = nullptr;
    QLabel *lblStatus = nullptr;

public Q_SLOTS:
    void cmdScan_Click();
    void cmdStop_Click();

private:
    void takeProgress();
    void endScan();
    void showCounts();

    ScanResultsModel *m_model = nullptr;
    std::unique_ptr<scan::ScanJob> m_job;
    bool m_listAll = false;
    int m_total = 0;
    std::array<int, 3> m_counts{}; // by PortState
    QString m_host;
    QElapsedTimer m_clock;
};
