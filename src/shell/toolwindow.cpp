#include "toolwindow.h"

#include "designfont.h"

#include <QCloseEvent>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>

ToolWindow::ToolWindow(QWidget *parent) : QWidget(parent)
{
    setFont(designFont());
}

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

    QMdiSubWindow *sub = w->subWindow();
    if (!sub) {
        Qt::WindowFlags flags = Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                Qt::WindowCloseButtonHint;
        if (w->isSizable())
            flags |= Qt::WindowMinMaxButtonsHint;
        sub = m_area->addSubWindow(w, flags);
        // The frame only hides on close, so the instance and its state outlive the window.
        sub->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    if (!w->isLoaded()) {
        w->load();
        w->show();
        if (!w->isSizable()) {
            sub->setMinimumSize(0, 0);
            sub->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
            sub->adjustSize();
            sub->setFixedSize(sub->size());
        }
    }
    sub->show();
    sub->showNormal();
    m_area->setActiveSubWindow(sub);
    w->activateWindow();
    return w;
}
