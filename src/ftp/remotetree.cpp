#include "remotetree.h"

#include <QIcon>
#include <QTreeWidget>

#include <vector>

static void initFtpResources() { Q_INIT_RESOURCE(ftp); }

namespace {

constexpr int ImageKeyRole = Qt::UserRole;
constexpr int EntryNameRole = Qt::UserRole + 1;

// ImageList1: one picture for each image key, loaded once.
const QIcon &treeImage(const QString &key)
{
    static const QHash<QString, QIcon> images = [] {
        initFtpResources();
        QHash<QString, QIcon> h;
        for (const QString &k : {RemoteTree::closedKey, RemoteTree::openKey, RemoteTree::leafKey})
            h.insert(k, QIcon(QStringLiteral(":/ftp/%1.svg").arg(k)));
        return h;
    }();
    static const QIcon none;
    const auto it = images.find(key);
    return it == images.end() ? none : *it;
}

} // namespace

const QString RemoteTree::closedKey = QStringLiteral("closed");
const QString RemoteTree::openKey = QStringLiteral("open");
const QString RemoteTree::leafKey = QStringLiteral("leaf");

QTreeWidgetItem *RemoteTree::selectedNode() const
{
    const auto items = m_view->selectedItems();
    return items.isEmpty() ? nullptr : items.first();
}

void RemoteTree::addRoot(const QString &key)
{
    if (m_nodes.contains(key))
        return;
    auto *root = new QTreeWidgetItem(m_view, QStringList{key});
    m_nodes.insert(key, root);
    m_view->resizeColumnToContents(0);
}

void RemoteTree::addEntries(const QString &parentKey, const QStringList &names,
                            const QList<DWORD> &attributes)
{
    QTreeWidgetItem *parent = m_nodes.value(parentKey);
    if (!parent)
        return;
    QList<QTreeWidgetItem *> children;
    children.reserve(names.size());
    m_nodes.reserve(m_nodes.size() + names.size());
    const QString prefix = parentKey + QLatin1Char('/');
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString key = prefix + names[i];
        // A server may list a name twice; a key names one node only.
        if (m_nodes.contains(key))
            continue;
        const QString &image = std::int16_t(attributes.value(i)) == 16 ? closedKey : leafKey;
        auto *item = new QTreeWidgetItem(QStringList{key});
        item->setData(0, ImageKeyRole, image);
        item->setData(0, EntryNameRole, names[i]);
        item->setIcon(0, treeImage(image));
        m_nodes.insert(key, item);
        children.append(item);
    }
    if (children.isEmpty())
        return;
    parent->addChildren(children);
    parent->setExpanded(true);
    // Once per fill: a column sized to its contents on every layout costs more than the fill.
    m_view->resizeColumnToContents(0);
    m_view->scrollToItem(children.last());
}

void RemoteTree::removeChildren(QTreeWidgetItem *item)
{
    const QList<QTreeWidgetItem *> children = item->takeChildren();
    // Forget every key below the node before the items go.
    std::vector<QTreeWidgetItem *> pending(children.begin(), children.end());
    while (!pending.empty()) {
        QTreeWidgetItem *i = pending.back();
        pending.pop_back();
        m_nodes.remove(i->text(0));
        for (int c = 0; c < i->childCount(); ++c)
            pending.push_back(i->child(c));
    }
    qDeleteAll(children);
}

void RemoteTree::removeNode(const QString &key)
{
    QTreeWidgetItem *item = m_nodes.value(key);
    if (!item)
        return;
    removeChildren(item);
    m_nodes.remove(key);
    delete item;
}

QString RemoteTree::imageKey(const QTreeWidgetItem *item)
{
    return item ? item->data(0, ImageKeyRole).toString() : QString();
}

void RemoteTree::setImageKey(QTreeWidgetItem *item, const QString &key)
{
    item->setData(0, ImageKeyRole, key);
    item->setIcon(0, treeImage(key));
}

QVariant RemoteTree::listedName(const QTreeWidgetItem *item)
{
    return item->data(0, EntryNameRole);
}
