#include "tcptablemodel.h"

#include "tcptabletexts.h"
#include "winsock.h"

#include <algorithm>
#include <numeric>

void TcpTableModel::appendRows(const std::vector<iphlp::MIB_TCPROW> &rows)
{
    if (rows.empty())
        return;
    std::vector<Row> added;
    added.reserve(rows.size());
    for (const iphlp::MIB_TCPROW &r : rows)
        added.push_back({addressText(r.dwLocalAddr), portText(r.dwLocalPort),
                         addressText(r.dwRemoteAddr), portText(r.dwRemotePort),
                         stateText(r.dwState), stateDescription(r.dwState)});
    const int first = rowCount();
    beginInsertRows({}, first, first + int(added.size()) - 1);
    m_rows.insert(m_rows.end(), added.begin(), added.end());
    endInsertRows();
}

const QString &TcpTableModel::text(int row, int column) const
{
    static const QString empty;
    if (row < 0 || row >= rowCount() || column < 0 || column >= ColumnCount)
        return empty;
    return m_texts.at(m_rows[size_t(row)][size_t(column)]);
}

bool TcpTableModel::textLess(int a, int b, int column) const
{
    // Rows and texts are only ever appended, so equal sizes mean the keys are current.
    if (column != m_sortKeyColumn || m_sortKeys.size() != m_rows.size() ||
        m_rank.size() != size_t(m_texts.size()))
        buildSortKeys(column);
    return m_sortKeys[size_t(a)] < m_sortKeys[size_t(b)];
}

QModelIndex TcpTableModel::index(int row, int column, const QModelIndex &parent) const
{
    // Called twice per comparison while sorting: no virtual bounds queries here.
    if (parent.isValid() || row < 0 || column < 0 || size_t(row) >= m_rows.size() ||
        column >= ColumnCount)
        return {};
    return createIndex(row, column);
}

void TcpTableModel::buildSortKeys(int column) const
{
    if (m_rank.size() != size_t(m_texts.size()))
        rankTexts();
    m_sortKeys.resize(m_rows.size());
    const bool valid = column >= 0 && column < ColumnCount;
    for (size_t r = 0; r < m_rows.size(); ++r)
        m_sortKeys[r] = valid ? m_rank[size_t(m_rows[r][size_t(column)])] : 0;
    m_sortKeyColumn = column;
}

void TcpTableModel::rankTexts() const
{
    auto less = [this](int x, int y) {
        return QString::compare(m_texts.at(x), m_texts.at(y), Qt::CaseInsensitive) < 0;
    };
    std::vector<int> order(size_t(m_texts.size()));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), less);
    m_rank.assign(order.size(), 0);
    int rank = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        // Texts equal but for case share a rank, so they keep their order as equals.
        if (i > 0 && less(order[i - 1], order[i]))
            ++rank;
        m_rank[size_t(order[i])] = rank;
    }
}

int TcpTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TcpTableModel::intern(QString text)
{
    auto it = m_textIndex.constFind(text);
    if (it != m_textIndex.constEnd())
        return it.value();
    const int index = int(m_texts.size());
    m_texts.append(text);
    m_textIndex.insert(text, index);
    return index;
}

template<class MakeText>
int TcpTableModel::cachedText(QHash<uint32_t, int> &cache, uint32_t key, MakeText makeText)
{
    auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return it.value();
    const int index = intern(makeText());
    cache.insert(key, index);
    return index;
}

int TcpTableModel::addressText(uint32_t address)
{
    return cachedText(m_addressIndex, address, [address] { return GetInetStrFromPtr(address); });
}

int TcpTableModel::portText(uint32_t portField)
{
    // The port is an unsigned 16-bit number: 50000 shows as 50000.
    const uint32_t port = winsock::ntohs(portField);
    if (m_portIndex.empty())
        m_portIndex.assign(65536, -1);
    int &slot = m_portIndex[port];
    if (slot < 0)
        slot = intern(QString::number(port));
    return slot;
}

int TcpTableModel::stateText(uint32_t state)
{
    // The state field is a signed 32-bit number in the original record.
    return cachedText(m_stateIndex, state, [state] { return QString::number(int32_t(state)); });
}

int TcpTableModel::stateDescription(uint32_t state)
{
    return cachedText(m_descriptionIndex, state, [state] { return TcpStateDescription(state); });
}
