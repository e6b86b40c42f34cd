#pragma once
#include <QToolBar>

// The main window's toolbar. Each button stands for a menu command and reports its key; the
// main window decides what the key does.
class MainToolbar : public QToolBar {
    Q_OBJECT
public:
    explicit MainToolbar(QWidget *parent = nullptr);

    // The button for a key ("New", "Cut", "Copy", "Paste", "Allow Pop Up Windows"), or null.
    QAction *button(const QString &key) const;

Q_SIGNALS:
    void ButtonClick(const QString &Key);
};
