#include "toolwindow.h"

#include "designfont.h"

#include <QCloseEvent>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>

Qt::WindowFlags childWindowFlags(bool sizable)
{
    Qt::WindowFlags flags = Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowCloseButtonHint;
    if (sizable)
        flags |= Qt::WindowMinMaxButtonsHint;
    return flags;
}

ToolWindow::ToolWindow(QWidget *parent) : QWidget(parent) { setFont(designFont()); }

QMdiSubWindow *ToolWindow::subWindow() const
{
    return qobject_cast<QMdiSubWindow *>(parentWidget());
}

void ToolWindow::load()
{
    // Controls are made anew at every load; the instance's own members stay as they were.
    delete layout();
    const auto children = findChildren<QObject *>(Qt::FindDirectChildrenOnly);
    for (QObject *child : children)
        if (child->isWidgetType() || qobject_cast<QLayout *>(child))
            delete child;
    createControls();
    m_loaded = true;
    Form_Load();
}

void ToolWindow::closeEvent(QCloseEvent *event)
{
    if (!Form_QueryUnload()) {
        event->ignore();
        return;
    }
    event->accept();
    m_loaded = false;
    Form_Unload();
}

namespace {
// A fixed-border window's frame is exactly as large as its designed client area.
void fitFrame(QMdiSubWindow *sub, ToolWindow *w)
{
    if (w->isSizable())
        return;
    sub->setMinimumSize(0, 0);
    sub->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    sub->adjustSize();
    sub->setFixedSize(sub->size());
}

// The area's placement may push a window that finds no free spot past the visible part.
void keepInside(QMdiSubWindow *sub, QMdiArea *area)
{
    const QSize room = area->viewport()->size();
    QRect g = sub->geometry();
    g.moveLeft(qMax(0, qMin(g.left(), room.width() - g.width())));
    g.moveTop(qMax(0, qMin(g.top(), room.height() - g.height())));
    sub->move(g.topLeft());
}
} // namespace

void ToolWindowRegistry::registerFactory(const QString &name, Factory factory)
{
    m_factories[name] = std::move(factory);
}

ToolWindow *ToolWindowRegistry::instance(const QString &name) const
{
    auto it = m_instances.find(name);
    return it == m_instances.end() ? nullptr : it->second.data();
}

ToolWindow *ToolWindowRegistry::show(const QString &name)
{
    ToolWindow *w = instance(name);
    if (!w) {
        auto f = m_factories.find(name);
        if (f == m_factories.end())
            return nullptr;
        w = f->second();
        if (!w)
            return nullptr;
        m_instances[name] = w;
    }

    // Load before the frame exists, so the area places the window at its real size.
    const bool loading = !w->isLoaded();
    if (loading)
        w->load();
    QMdiSubWindow *sub = w->subWindow();
    if (!sub) {
        sub = m_area->addSubWindow(w, childWindowFlags(w->isSizable()));
        // The frame only hides on close, so the instance and its state outlive the window.
        sub->setAttribute(Qt::WA_DeleteOnClose, false);
        fitFrame(sub, w);
        keepInside(sub, m_area);
    } else if (loading) {
        w->show();
        fitFrame(sub, w);
    }
    sub->show();
    sub->showNormal();
    m_area->setActiveSubWindow(sub);
    w->activateWindow();
    return w;
}
