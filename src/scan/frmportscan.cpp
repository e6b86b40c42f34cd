#include "frmportscan.h"

#include "controls.h"
#include "messagebox.h"
#include "scanjob.h"
#include "scanresultsmodel.h"
#include "twips.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include <utility>

using namespace Controls;

namespace {
constexpr int TakeDelayMs = 50;

// A whole number within [low, high], nothing else.
bool readNumber(const QLineEdit *box, int low, int high, int &value)
{
    bool ok = false;
    const QString text = box->text().trimmed();
    value = text.toInt(&ok);
    return ok && !text.startsWith(QLatin1Char('+')) && value >= low && value <= high;
}
} // namespace

frmPortScan::frmPortScan(QWidget *parent) : ToolWindow(parent) {}

frmPortScan::~frmPortScan() = default;

void frmPortScan::createControls()
{
    setWindowTitle(tr("Port Scanner"));
    setFixedSize(Twips::size(7200, 6600));

    lblHost = label(this, QStringLiteral("lblHost"), tr("&Host:"), 120, 165, 1800, 255);
    txtHost = textBox(this, QStringLiteral("txtHost"), lblHost, 1980, 120, 3060, 315);
    lblFirstPort = label(this, QStringLiteral("lblFirstPort"), tr("&First port:"), 120, 585, 1800,
                         255);
    txtFirstPort = textBox(this, QStringLiteral("txtFirstPort"), lblFirstPort, 1980, 540, 900, 315);
    lblLastPort = label(this, QStringLiteral("lblLastPort"), tr("&Last port:"), 3060, 585, 960,
                        255);
    txtLastPort = textBox(this, QStringLiteral("txtLastPort"), lblLastPort, 4140, 540, 900, 315);
    lblTimeout = label(this, QStringLiteral("lblTimeout"), tr("&Time-out per port (ms):"), 120,
                       1005, 1800, 255);
    txtTimeout = textBox(this, QStringLiteral("txtTimeout"), lblTimeout, 1980, 960, 900, 315);
    // The labels' access keys lead to the boxes; their names are the plain words.
    for (auto [box, caption] : {std::pair{txtHost, lblHost},
                                {txtFirstPort, lblFirstPort},
                                {txtLastPort, lblLastPort},
                                {txtTimeout, lblTimeout}})
        box->setAccessibleName(labelWords(caption->text()).remove(QLatin1Char('&')));
    chkListAll = new QCheckBox(tr("List &closed and filtered ports too"), this);
    chkListAll->setObjectName(QStringLiteral("chkListAll"));
    chkListAll->setAccessibleName(chkListAll->text().remove(QLatin1Char('&')));
    Twips::place(chkListAll, 120, 1380, 4920, 285);
    cmdScan = button(this, QStringLiteral("cmdScan"), tr("&Scan"), 5400, 120, 1560, 375);
    cmdStop = button(this, QStringLiteral("cmdStop"), tr("St&op"), 5400, 570, 1560, 375);
    for (QPushButton *b : {cmdScan, cmdStop})
        b->setAccessibleName(b->text().remove(QLatin1Char('&')));
    lvwPorts = new QTreeView(this);
    lvwPorts->setObjectName(QStringLiteral("lvwPorts"));
    lvwPorts->setAccessibleName(tr("Ports"));
    lvwPorts->setRootIsDecorated(false);
    lvwPorts->setUniformRowHeights(true);
    lvwPorts->setAlternatingRowColors(true);
    m_model = new ScanResultsModel(lvwPorts);
    lvwPorts->setModel(m_model);
    lvwPorts->header()->setStretchLastSection(true);
    lvwPorts->setColumnWidth(ScanResultsModel::PortColumn, Twips::toPixelsX(1000));
    lvwPorts->setColumnWidth(ScanResultsModel::StateColumn, Twips::toPixelsX(1300));
    Twips::place(lvwPorts, 120, 1800, 6840, 3600);
    prgScan = new QProgressBar(this);
    prgScan->setObjectName(QStringLiteral("prgScan"));
    prgScan->setAccessibleName(tr("Scan progress"));
    Twips::place(prgScan, 120, 5520, 6840, 255);
    lblFound = label(this, QStringLiteral("lblFound"), QString(), 120, 5880, 6840, 255);
    lblStatus = label(this, QStringLiteral("lblStatus"), QString(), 120, 6180, 6840, 255);

    connect(cmdScan, &QPushButton::clicked, this, &frmPortScan::cmdScan_Click);
    connect(cmdStop, &QPushButton::clicked, this, &frmPortScan::cmdStop_Click);
    for (QLineEdit *box : {txtHost, txtFirstPort, txtLastPort, txtTimeout})
        connect(box, &QLineEdit::returnPressed, this, &frmPortScan::cmdScan_Click);
}

void frmPortScan::Form_Load()
{
    txtHost->setText(QStringLiteral("localhost"));
    txtFirstPort->setText(QStringLiteral("1"));
    txtLastPort->setText(QStringLiteral("1024"));
    txtTimeout->setText(QStringLiteral("1000"));
    cmdStop->setEnabled(false);
    prgScan->setRange(0, 1);
    prgScan->setValue(0);
    setReadableText(lblFound, QString());
    setReadableText(lblStatus, tr("Ready"));
}

void frmPortScan::Form_Unload()
{
    // Cancels the scan and closes its sockets; nothing of it reaches the next load.
    m_job.reset();
}

int frmPortScan::inFlight() const { return m_job ? m_job->inFlight() : 0; }

void frmPortScan::cmdScan_Click()
{
    if (m_job)
        return;
    const QString host = txtHost->text().trimmed();
    int first = 0, last = 0, timeoutMs = 0;
    QString problem;
    QLineEdit *culprit = nullptr;
    if (host.isEmpty()) {
        problem = tr("Enter a host name or address.");
        culprit = txtHost;
    } else if (!readNumber(txtFirstPort, 1, 65535, first)) {
        problem = tr("The first port must be a number from 1 to 65535.");
        culprit = txtFirstPort;
    } else if (!readNumber(txtLastPort, 1, 65535, last)) {
        problem = tr("The last port must be a number from 1 to 65535.");
        culprit = txtLastPort;
    } else if (first > last) {
        problem = tr("The first port must not be greater than the last port.");
        culprit = txtFirstPort;
    } else if (!readNumber(txtTimeout, 1, 600000, timeoutMs)) {
        problem = tr("The time-out must be a number of milliseconds from 1 to 600000.");
        culprit = txtTimeout;
    }
    if (culprit) {
        MsgBox(problem, vbExclamation);
        culprit->setFocus();
        culprit->selectAll();
        return;
    }

    m_model->clear();
    m_counts = {};
    m_total = last - first + 1;
    m_listAll = chkListAll->isChecked();
    m_host = host;
    prgScan->setRange(0, m_total);
    prgScan->setValue(0);
    showCounts();
    setReadableText(lblStatus, tr("Looking up %1...").arg(host));
    cmdScan->setEnabled(false);
    cmdStop->setEnabled(true);
    chkListAll->setEnabled(false);
    m_clock.start();

    scan::ScanJob::Request request;
    request.host = host.toStdString();
    request.first = uint16_t(first);
    request.last = uint16_t(last);
    request.timeoutMs = timeoutMs;
    // Results gather for a moment before they are taken, so a fast scan updates the window a
    // few times a second, not per port.
    m_job = std::make_unique<scan::ScanJob>(request);
    connect(m_job.get(), &scan::ScanJob::changed, this,
            [this] { QTimer::singleShot(TakeDelayMs, this, &frmPortScan::takeProgress); });
}

void frmPortScan::cmdStop_Click()
{
    if (m_job) {
        m_job->stop();
        cmdStop->setEnabled(false);
        setReadableText(lblStatus, tr("Stopping..."));
    }
}

void frmPortScan::takeProgress()
{
    if (!m_job)
        return;
    scan::ScanJob::Progress p = m_job->take();
    std::vector<scan::PortResult> shown;
    for (const auto &r : p.results) {
        ++m_counts[size_t(r.state)];
        if (m_listAll || r.state == scan::PortState::Open)
            shown.push_back(r);
    }
    if (!shown.empty())
        m_model->add(shown);
    prgScan->setValue(m_counts[0] + m_counts[1] + m_counts[2]);
    showCounts();

    const QString where = p.address.empty() || QString::fromStdString(p.address) == m_host
                              ? m_host
                              : tr("%1 (%2)").arg(m_host, QString::fromStdString(p.address));
    const QString seconds = QString::number(m_clock.elapsed() / 1000.0, 'f', 1);
    switch (p.phase) {
    case scan::ScanJob::Phase::Resolving: return;
    case scan::ScanJob::Phase::Scanning:
        setReadableText(lblStatus, tr("Scanning %1...").arg(where));
        return;
    case scan::ScanJob::Phase::Finished:
        setReadableText(lblStatus,
                        tr("Scanned %1 ports of %2 in %3 s.").arg(m_total).arg(where, seconds));
        break;
    case scan::ScanJob::Phase::Stopped:
        setReadableText(lblStatus, tr("Stopped after %1 of %2 ports of %3.")
                                       .arg(prgScan->value())
                                       .arg(m_total)
                                       .arg(where));
        break;
    case scan::ScanJob::Phase::Failed:
        setReadableText(lblStatus, QString::fromStdString(p.error));
        break;
    }
    endScan();
    if (p.phase == scan::ScanJob::Phase::Failed) {
        MsgBox(QString::fromStdString(p.error), vbExclamation);
        if (p.address.empty()) { // the host was not found
            txtHost->setFocus();
            txtHost->selectAll();
        }
    }
}

void frmPortScan::endScan()
{
    m_job.reset();
    cmdScan->setEnabled(true);
    cmdStop->setEnabled(false);
    chkListAll->setEnabled(true);
}

void frmPortScan::showCounts()
{
    const int open = m_counts[size_t(scan::PortState::Open)];
    setReadableText(lblFound, tr("Open ports found: %1 (closed: %2, filtered: %3)")
                                  .arg(open)
                                  .arg(m_counts[size_t(scan::PortState::Closed)])
                                  .arg(m_counts[size_t(scan::PortState::Filtered)]));
}
