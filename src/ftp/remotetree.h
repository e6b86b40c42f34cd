#pragma once
// The nodes of the FTP window's remote tree and their keys (full path texts), apart from the
// window's layout: adding the root and listed entries, removing subtrees, image keys.

#include "wininet.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

class QTreeWidget;
class QTreeWidgetItem;

class RemoteTree {
public:
    static const QString closedKey; // a directory not listed
    static const QString openKey;   // a listed directory, its entries below it
    static const QString leafKey;   // a file

    explicit RemoteTree(QTreeWidget *view) : m_view(view) {}

    QTreeWidgetItem *node(const QString &key) const { return m_nodes.value(key); }
    QTreeWidgetItem *selectedNode() const;
    // A top-level node without image; nothing when one with that key exists.
    void addRoot(const QString &key);
    // The entries as the last children of the node with key parentKey ("closed" for a directory,
    // attribute exactly 16, else "leaf"), keys parentKey "/" name; a key present already is
    // skipped. The last one added is made visible. Nothing when that node is missing.
    void addEntries(const QString &parentKey, const QStringList &names,
                    const QList<DWORD> &attributes);
    // Removes the node's children, first to last, and forgets their keys.
    void removeChildren(QTreeWidgetItem *item);
    // Removes the node with that key and its subtree; nothing when there is none.
    void removeNode(const QString &key);

    static QString imageKey(const QTreeWidgetItem *item);
    static void setImageKey(QTreeWidgetItem *item, const QString &key);
    // The name as the server listed it (invalid for the root).
    static QVariant listedName(const QTreeWidgetItem *item);

private:
    QTreeWidget *m_view;
    QHash<QString, QTreeWidgetItem *> m_nodes;
};
