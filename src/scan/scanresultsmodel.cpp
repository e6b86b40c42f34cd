#include "scanresultsmodel.h"

#include <algorithm>

int ScanResultsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ScanResultsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString ScanResultsModel::service(uint16_t port) const
{
    auto it = m_services.find(port);
    if (it == m_services.end())
        it = m_services.emplace(port, QString::fromStdString(scan::serviceName(port))).first;
    return it->second;
}

QVariant ScanResultsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const scan::PortResult &r = m_rows[size_t(index.row())];
    if (role == Qt::TextAlignmentRole && index.column() == PortColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
        return {};
    switch (index.column()) {
    case PortColumn: return QString::number(r.port);
    case StateColumn: return QString::fromLatin1(scan::stateText(r.state));
    case ServiceColumn: return service(r.port);
    }
    return {};
}

QVariant ScanResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case PortColumn: return tr("Port");
    case StateColumn: return tr("State");
    case ServiceColumn: return tr("Service");
    }
    return {};
}

void ScanResultsModel::add(const std::vector<scan::PortResult> &results)
{
    auto byPort = [](const scan::PortResult &a, const scan::PortResult &b) {
        return a.port < b.port;
    };
    std::vector<scan::PortResult> batch = results;
    std::sort(batch.begin(), batch.end(), byPort);
    // Results come nearly in port order: most batches go to the end in one insertion.
    auto tail = batch.begin();
    while (tail != batch.end() && !m_rows.empty() && tail->port < m_rows.back().port) {
        const auto at = std::upper_bound(m_rows.begin(), m_rows.end(), *tail, byPort);
        const int row = int(at - m_rows.begin());
        beginInsertRows({}, row, row);
        m_rows.insert(at, *tail);
        endInsertRows();
        ++tail;
    }
    if (tail == batch.end())
        return;
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(batch.end() - tail) - 1);
    m_rows.insert(m_rows.end(), tail, batch.end());
    endInsertRows();
}

void ScanResultsModel::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}
