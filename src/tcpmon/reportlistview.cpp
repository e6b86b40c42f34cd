#include "reportlistview.h"

#include "twips.h"

#include <QHeaderView>
#include <QPainter>

void TextRowsModel::addColumn(const QString &header)
{
    const int column = int(m_headers.size());
    beginInsertColumns({}, column, column);
    m_headers.append(header);
    endInsertColumns();
}

bool TextRowsModel::textLess(int a, int b, int column) const
{
    return QString::compare(text(a, column), text(b, column), Qt::CaseInsensitive) < 0;
}

int TextRowsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_headers.size());
}

Qt::ItemFlags TextRowsModel::flags(const QModelIndex &index) const
{
    // A flat list: telling the view spares it a child query per row.
    return QAbstractTableModel::flags(index) | Qt::ItemNeverHasChildren;
}

QVariant TextRowsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    return text(index.row(), index.column());
}

QVariant TextRowsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < m_headers.size())
        return m_headers.at(section);
    return {};
}

int ListItemsModel::addItem(const QString &text)
{
    const int row = int(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.push_back({text});
    endInsertRows();
    return row;
}

bool ListItemsModel::setSubItem(int row, int column, const QString &text)
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
        return false;
    QStringList &cells = m_rows[size_t(row)];
    while (cells.size() <= column)
        cells.append(QString());
    cells[column] = text;
    const QModelIndex changed = index(row, column);
    Q_EMIT dataChanged(changed, changed, {Qt::DisplayRole});
    return true;
}

const QString &ListItemsModel::text(int row, int column) const
{
    static const QString empty;
    if (row < 0 || row >= rowCount() || column < 0)
        return empty;
    const QStringList &cells = m_rows[size_t(row)];
    return column < cells.size() ? cells.at(column) : empty;
}

int ListItemsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

TextSortProxy::TextSortProxy(QObject *parent) : QSortFilterProxyModel(parent)
{
    setDynamicSortFilter(false);
}

void TextSortProxy::setSourceModel(QAbstractItemModel *model)
{
    if (sourceModel())
        disconnect(sourceModel(), nullptr, this, nullptr);
    QSortFilterProxyModel::setSourceModel(model);
    m_rows = qobject_cast<const TextRowsModel *>(model);
    if (!model)
        return;
    // Connected after the base class's own handlers, so the new rows are already mapped.
    connect(model, &QAbstractItemModel::rowsInserted, this, &TextSortProxy::resort);
    connect(model, &QAbstractItemModel::dataChanged, this, &TextSortProxy::resort);
}

void TextSortProxy::resort()
{
    if (sortColumn() >= 0)
        sort(sortColumn(), sortOrder());
}

bool TextSortProxy::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    if (!m_rows)
        return QSortFilterProxyModel::lessThan(left, right);
    return m_rows->textLess(left.row(), right.row(), left.column());
}

ReportListView::ReportListView(TextRowsModel *model, QWidget *parent)
    : QTreeView(parent), m_model(model), m_proxy(new TextSortProxy(this))
{
    model->setParent(this);
    m_proxy->setSourceModel(model);
    setModel(m_proxy);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    header()->setStretchLastSection(false);
    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(false);
    connect(header(), &QHeaderView::sectionClicked, this, &ReportListView::ColumnClick);
}

void ReportListView::sortOnColumnClick(int column)
{
    setSortKey(column);
    setSortOrder(m_sortOrder == Qt::DescendingOrder ? Qt::AscendingOrder : Qt::DescendingOrder);
    setSorted(true);
}

void ReportListView::setSortKey(int column)
{
    m_sortKey = column;
    applySort();
}

void ReportListView::setSortOrder(Qt::SortOrder order)
{
    m_sortOrder = order;
    applySort();
}

void ReportListView::setSorted(bool on)
{
    m_sorted = on;
    applySort();
}

QString ReportListView::displayText(int row, int column) const
{
    return m_proxy->index(row, column).data().toString();
}

void ReportListView::applySort()
{
    if (!m_sorted)
        return; // unsorted lists keep their order until sorting is switched on
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(m_sortKey, m_sortOrder);
    // Appends and text changes re-sort on their own; only a new key or order needs a sort here.
    if (m_proxy->sortColumn() != m_sortKey || m_proxy->sortOrder() != m_sortOrder)
        m_proxy->sort(m_sortKey, m_sortOrder);
}

LineControl::LineControl(QWidget *parent, double x1, double y1, double x2, double y2, QRgb color)
    : QWidget(parent), m_color(color)
{
    const QPoint a(Twips::toPixelsX(x1), Twips::toPixelsY(y1));
    const QPoint b(Twips::toPixelsX(x2), Twips::toPixelsY(y2));
    const QRect box = QRect(a, b).normalized().adjusted(0, 0, 1, 1);
    setGeometry(box);
    m_from = a - box.topLeft();
    m_to = b - box.topLeft();
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void LineControl::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(m_color);
    painter.drawLine(m_from, m_to);
}
