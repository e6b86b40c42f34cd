// Window > Cascade, Tile and Arrange Icons.
#include "frmmain.h"

#include <QMdiArea>
#include <QMdiSubWindow>

void frmMain::Arrange(int mode)
{
    if (mode == 0) {
        m_area->cascadeSubWindows();
        return;
    }
    const QRect area = m_area->viewport()->rect();
    QList<QMdiSubWindow *> normal, minimized;
    const auto subs = m_area->subWindowList(QMdiArea::CreationOrder);
    for (QMdiSubWindow *sub : subs) {
        if (!sub->isVisible())
            continue;
        (sub->isMinimized() ? minimized : normal).append(sub);
    }
    if (mode == 3) {
        // Icons line up along the bottom edge, left to right, wrapping upwards.
        int x = 0, rowBottom = area.bottom() + 1;
        for (QMdiSubWindow *sub : minimized) {
            const QSize s = sub->size();
            if (x > 0 && x + s.width() > area.width()) {
                x = 0;
                rowBottom -= s.height();
            }
            sub->move(x, rowBottom - s.height());
            x += s.width();
        }
        return;
    }
    // 1 stacks the children one above the other, 2 places them side by side.
    const int n = int(normal.size());
    for (int i = 0; i < n; ++i) {
        QMdiSubWindow *sub = normal[i];
        if (sub->isMaximized())
            sub->showNormal();
        QRect r;
        if (mode == 1)
            r = QRect(0, area.height() * i / n, area.width(),
                      area.height() * (i + 1) / n - area.height() * i / n);
        else
            r = QRect(area.width() * i / n, 0, area.width() * (i + 1) / n - area.width() * i / n,
                      area.height());
        sub->setGeometry(r);
    }
}

void frmMain::mnuWindowCascade_Click() { Arrange(0); }
void frmMain::mnuWindowTileHorizontal_Click() { Arrange(1); }
void frmMain::mnuWindowTileVertical_Click() { Arrange(2); }
void frmMain::mnuWindowArrangeIcons_Click() { Arrange(3); }
