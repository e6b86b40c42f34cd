// The menu bar and the Window menu's list of open children.
#include "frmmain.h"

#include "toolwindow.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPointer>

QAction *frmMain::addItem(QMenu *menu, const char *name, const QString &caption)
{
    auto *a = menu->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    return a;
}

QAction *frmMain::addTool(const char *name, const QString &caption, const char *windowClass)
{
    QAction *a = addItem(mnuView, name, caption);
    const QString cls = QString::fromLatin1(windowClass);
    connect(a, &QAction::triggered, this, [this, cls] { m_tools->show(cls); });
    return a;
}

void frmMain::createMenus()
{
    auto menu = [this](const char *name, const QString &caption) {
        QMenu *m = menuBar()->addMenu(caption);
        m->setObjectName(QString::fromLatin1(name));
        return m;
    };

    mnuFile = menu("mnuFile", tr("&File"));
    mnuFileExit = addItem(mnuFile, "mnuFileExit", tr("E&xit"));
    connect(mnuFileExit, &QAction::triggered, this, &frmMain::mnuFileExit_Click);

    mnuEdit = menu("mnuEdit", tr("&Edit"));
    mnuEditCut = addItem(mnuEdit, "mnuEditCut", tr("Cu&t"));
    mnuEditCut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    mnuEditCopy = addItem(mnuEdit, "mnuEditCopy", tr("&Copy"));
    mnuEditCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    mnuEditPaste = addItem(mnuEdit, "mnuEditPaste", tr("&Paste"));
    mnuEditPaste->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    connect(mnuEditCut, &QAction::triggered, this, &frmMain::mnuEditCut_Click);
    connect(mnuEditCopy, &QAction::triggered, this, &frmMain::mnuEditCopy_Click);
    connect(mnuEditPaste, &QAction::triggered, this, &frmMain::mnuEditPaste_Click);

    View = menu("View", tr("&View"));
    mnuOptionsAllow = addItem(View, "mnuOptionsAllow", tr("Allow Pop Up Windows"));
    mnuOptionsAllow->setCheckable(true);
    mnuViewStatusBar = addItem(View, "mnuViewStatusBar", tr("Status &Bar"));
    mnuViewStatusBar->setCheckable(true);
    mnuViewStatusBar->setChecked(true);
    mnuViewToolbar = addItem(View, "mnuViewToolbar", tr("&Toolbar"));
    mnuViewToolbar->setCheckable(true);
    mnuViewToolbar->setChecked(true);
    mnuViewOptions = addItem(View, "mnuViewOptions", tr("&Options..."));
    connect(mnuOptionsAllow, &QAction::triggered, this, &frmMain::mnuOptionsAllow_Click);
    connect(mnuViewStatusBar, &QAction::triggered, this, &frmMain::mnuViewStatusBar_Click);
    connect(mnuViewToolbar, &QAction::triggered, this, &frmMain::mnuViewToolbar_Click);
    connect(mnuViewOptions, &QAction::triggered, this, &frmMain::mnuViewOptions_Click);

    mnuView = menu("mnuView", tr("&Tools"));
    NorvoFTP = addTool("NorvoFTP", tr("&FTP"), "frmNorvoFTP");
    mnuNorvoRoute = addTool("mnuNorvoRoute", tr("&Route"), "frmNorvoRoute");
    mnuTCPTable = addTool("mnuTCPTable", tr("TCP Ta&ble"), "frmTCPTable");
    TCPStats = addTool("TCPStats", tr("&TCP Stats"), "frmTCPStat");
    PortScanner = addItem(mnuView, "PortScanner", tr("&Port Scanner"));
    ResolveIPAddress = addTool("ResolveIPAddress", tr("Resolve &IP Address"), "frmNorvoIP");
    ResolveHostName = addTool("ResolveHostName", tr("Resolve &Host Name"), "frmNorvoHost");
    mnuNorvoPing = addTool("mnuNorvoPing", tr("&Ping"), "frmNorvoPing");
    NorvoAudio = addTool("NorvoAudio", tr("Norvo&Audio"), "frmAudio");
    mnuEditor = addItem(mnuView, "mnuEditor", tr("&NorvoEdit"));
    connect(PortScanner, &QAction::triggered, this, &frmMain::PortScanner_Click);
    connect(mnuEditor, &QAction::triggered, this, &frmMain::mnuEditor_Click);

    mnuWindow = menu("mnuWindow", tr("&Window"));
    mnuWindowNewWindow = addItem(mnuWindow, "mnuWindowNewWindow", tr("&New Norvo Window"));
    mnuWindowCascade = addItem(mnuWindow, "mnuWindowCascade", tr("&Cascade"));
    mnuWindowTileHorizontal = addItem(mnuWindow, "mnuWindowTileHorizontal", tr("Tile &Horizontal"));
    mnuWindowTileVertical = addItem(mnuWindow, "mnuWindowTileVertical", tr("Tile &Vertical"));
    mnuWindowArrangeIcons = addItem(mnuWindow, "mnuWindowArrangeIcons", tr("&Arrange Icons"));
    connect(mnuWindowNewWindow, &QAction::triggered, this, &frmMain::mnuWindowNewWindow_Click);
    connect(mnuWindowCascade, &QAction::triggered, this, &frmMain::mnuWindowCascade_Click);
    connect(mnuWindowTileHorizontal, &QAction::triggered, this,
            &frmMain::mnuWindowTileHorizontal_Click);
    connect(mnuWindowTileVertical, &QAction::triggered, this,
            &frmMain::mnuWindowTileVertical_Click);
    connect(mnuWindowArrangeIcons, &QAction::triggered, this,
            &frmMain::mnuWindowArrangeIcons_Click);
    connect(mnuWindow, &QMenu::aboutToShow, this, &frmMain::rebuildWindowList);

    mnuHelp = menu("mnuHelp", tr("&Help"));
    mnuHelpContents = addItem(mnuHelp, "mnuHelpContents", tr("&Contents"));
    mnuHelpAbout = addItem(mnuHelp, "mnuHelpAbout", tr("&About "));
    connect(mnuHelpContents, &QAction::triggered, this, &frmMain::mnuHelpContents_Click);
    connect(mnuHelpAbout, &QAction::triggered, this, &frmMain::mnuHelpAbout_Click);
}

void frmMain::rebuildWindowList()
{
    qDeleteAll(m_windowItems);
    m_windowItems.clear();
    int n = 0;
    const auto subs = m_area->subWindowList();
    for (QMdiSubWindow *sub : subs) {
        if (!sub->isVisible())
            continue;
        ++n;
        // A title's own "&" is text, not a mnemonic.
        const QString title = QString(sub->windowTitle()).replace(u'&', QStringLiteral("&&"));
        const QString text = n < 10 ? QStringLiteral("&%1 %2").arg(n).arg(title)
                                    : QStringLiteral("%1 %2").arg(n).arg(title);
        QAction *a = mnuWindow->addAction(text);
        a->setCheckable(true);
        a->setChecked(sub == m_area->currentSubWindow());
        connect(a, &QAction::triggered, this, [this, sub = QPointer<QMdiSubWindow>(sub)] {
            if (sub)
                m_area->setActiveSubWindow(sub);
        });
        m_windowItems.append(a);
    }
}
