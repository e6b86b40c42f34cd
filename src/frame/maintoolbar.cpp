#include "maintoolbar.h"

#include <QAction>
#include <QIcon>

// Resources of a static library must be registered by hand.
static void initToolbarResources() { Q_INIT_RESOURCE(toolbar); }

MainToolbar::MainToolbar(QWidget *parent) : QToolBar(tr("Toolbar"), parent)
{
    initToolbarResources();
    setObjectName(QStringLiteral("Toolbar1"));
    setAccessibleName(tr("Toolbar"));
    setFloatable(false);
    setIconSize(QSize(24, 24));

    struct Button {
        const char *key, *icon;
        bool checkable;
    };
    static constexpr Button buttons[] = {{"New", "new.svg", false},
                                         {"Cut", "cut.svg", false},
                                         {"Copy", "copy.svg", false},
                                         {"Paste", "paste.svg", false},
                                         {"Allow Pop Up Windows", "popups.svg", true}};
    for (const Button &b : buttons) {
        const QString key = QString::fromLatin1(b.key);
        QAction *a = addAction(QIcon(QStringLiteral(":/toolbar/") + QLatin1String(b.icon)), key);
        a->setData(key);
        a->setToolTip(key);
        a->setCheckable(b.checkable);
        connect(a, &QAction::triggered, this, [this, key] { Q_EMIT ButtonClick(key); });
    }
}

QAction *MainToolbar::button(const QString &key) const
{
    const auto list = actions();
    for (QAction *a : list)
        if (a->data().toString() == key)
            return a;
    return nullptr;
}
