#pragma once
#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <QTreeView>

#include <vector>

// A table model whose every cell is a text; the sort proxy compares these texts directly.
class TextRowsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    virtual const QString &text(int row, int column) const = 0;
    // Whether row a sorts before row b by their texts in column, regardless of case.
    virtual bool textLess(int a, int b, int column) const;

    void addColumn(const QString &header);
    int columnCount(const QModelIndex &parent = {}) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QStringList m_headers;
};

// Rows of texts added one by one; subitems change in place (the statistics list).
class ListItemsModel : public TextRowsModel {
    Q_OBJECT
public:
    using TextRowsModel::TextRowsModel;

    // Returns the new row's number; its other columns are empty.
    int addItem(const QString &text);
    bool setSubItem(int row, int column, const QString &text);

    const QString &text(int row, int column) const override;
    int rowCount(const QModelIndex &parent = {}) const override;

private:
    std::vector<QStringList> m_rows;
};

// Sorts rows by the texts of one column, case-insensitively as the list view does.
// Re-sorts as a whole after rows are appended or texts change: the stock incremental
// insertion is quadratic when new rows interleave with old ones.
class TextSortProxy : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit TextSortProxy(QObject *parent = nullptr);
    void setSourceModel(QAbstractItemModel *model) override;

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    void resort();

    const TextRowsModel *m_rows = nullptr;
};

// The report-style list view: column headers, full-row selection, no tree decoration.
// Sorting follows the list view's own properties: a sort key (column), an order and a
// switch that turns sorting on; header clicks are only reported (ColumnClick).
class ReportListView : public QTreeView {
    Q_OBJECT
public:
    explicit ReportListView(TextRowsModel *model, QWidget *parent = nullptr);

    TextRowsModel *items() const { return m_model; }
    TextSortProxy *proxy() const { return m_proxy; }

    int SortKey() const { return m_sortKey; }
    Qt::SortOrder SortOrder() const { return m_sortOrder; }
    bool Sorted() const { return m_sorted; }
    void setSortKey(int column);
    void setSortOrder(Qt::SortOrder order);
    void setSorted(bool on);

    // The windows' answer to a header click: sort by that column, flipping the order each time.
    void sortOnColumnClick(int column);

    // The text shown in a display row and column (after sorting).
    QString displayText(int row, int column) const;

Q_SIGNALS:
    void ColumnClick(int column);

private:
    void applySort();

    TextRowsModel *m_model;
    TextSortProxy *m_proxy;
    int m_sortKey = 0;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_sorted = false;
};

// The designs' line control: a straight line between two points given in twips.
class LineControl : public QWidget {
    Q_OBJECT
public:
    LineControl(QWidget *parent, double x1, double y1, double x2, double y2, QRgb color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPoint m_from;
    QPoint m_to;
    QColor m_color;
};
