#pragma once
#include "iphlpapi.h"
#include "reportlistview.h"

#include <QHash>

#include <array>
#include <vector>

// The rows of the TCP table window. Rows are only ever appended. Each cell is an index into
// one list of distinct texts, so 100k rows cost a few dozen bytes each, and sorting compares
// the texts' ranks instead of the texts.
class TcpTableModel : public TextRowsModel {
    Q_OBJECT
public:
    static constexpr int ColumnCount = 6;

    using TextRowsModel::TextRowsModel;

    // One list row per table row, in the given order.
    void appendRows(const std::vector<iphlp::MIB_TCPROW> &rows);

    const QString &text(int row, int column) const override;
    bool textLess(int a, int b, int column) const override;
    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    int rowCount(const QModelIndex &parent = {}) const override;

private:
    using Row = std::array<int, ColumnCount>;

    int addressText(uint32_t address);
    int portText(uint32_t portField);
    int stateText(uint32_t state);
    int stateDescription(uint32_t state);
    int intern(QString text);
    // The text index for key, made once with makeText and remembered in cache.
    template<class MakeText>
    int cachedText(QHash<uint32_t, int> &cache, uint32_t key, MakeText makeText);

    void rankTexts() const;
    void buildSortKeys(int column) const;

    std::vector<Row> m_rows;
    QList<QString> m_texts;
    QHash<QString, int> m_textIndex;
    QHash<uint32_t, int> m_addressIndex;
    std::vector<int> m_portIndex; // by port number, -1 until first seen
    QHash<uint32_t, int> m_stateIndex;
    QHash<uint32_t, int> m_descriptionIndex;
    // Each distinct text's place in text order, so sorting compares numbers.
    mutable std::vector<int> m_rank;
    // The rank of every row's text in the column being sorted, for cache-friendly compares.
    mutable std::vector<int> m_sortKeys;
    mutable int m_sortKeyColumn = -1;
};
