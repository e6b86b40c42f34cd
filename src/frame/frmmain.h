#pragma once
#include <QMainWindow>
#include <QRectF>

#include <memory>

class QAction;
class QLabel;
class QMdiArea;
class QMenu;
class QStatusBar;
class QTimer;
class MainToolbar;
class ToolWindowRegistry;
class EditTarget;

// The frame of the suite: menus, status bar and the area that holds every child window.
class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    QMdiArea *mdiArea() const { return m_area; }
    ToolWindowRegistry &tools() { return *m_tools; }

    // Start-up: settings record, pop-up flag, placement, first browser window.
    void MDIForm_Load();

    QMenu *mnuFile, *mnuEdit, *View, *mnuView, *mnuWindow, *mnuHelp;
    QAction *mnuFileExit, *mnuEditCut, *mnuEditCopy, *mnuEditPaste;
    QAction *mnuOptionsAllow, *mnuViewStatusBar, *mnuViewToolbar, *mnuViewOptions;
    QAction *NorvoFTP, *mnuNorvoRoute, *mnuTCPTable, *TCPStats, *PortScanner, *ResolveIPAddress,
        *ResolveHostName, *mnuNorvoPing, *NorvoAudio, *mnuEditor;
    QAction *mnuWindowNewWindow, *mnuWindowCascade, *mnuWindowTileHorizontal,
        *mnuWindowTileVertical, *mnuWindowArrangeIcons;
    QAction *mnuHelpContents, *mnuHelpAbout;
    QStatusBar *sbStatusBar;
    MainToolbar *Toolbar1;

    // The placement read at start-up, after validation, in twips (left, top, width, height).
    QRectF restoredPlacement() const { return m_placement; }

public Q_SLOTS:
    void mnuFileExit_Click();
    void mnuEditCut_Click();
    void mnuEditCopy_Click();
    void mnuEditPaste_Click();
    void mnuOptionsAllow_Click();
    void mnuViewStatusBar_Click();
    void mnuViewToolbar_Click();
    void mnuViewOptions_Click();
    void PortScanner_Click();
    void mnuEditor_Click();
    void mnuWindowNewWindow_Click();
    void mnuWindowCascade_Click();
    void mnuWindowTileHorizontal_Click();
    void mnuWindowTileVertical_Click();
    void mnuWindowArrangeIcons_Click();
    void mnuHelpContents_Click();
    void mnuHelpAbout_Click();
    void Toolbar1_ButtonClick(const QString &Key);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createMenus();
    void createStatusBar();
    void createToolbar();
    void updateClock();
    void rebuildWindowList();
    void Arrange(int mode);
    void NewBrowserWindow();
    void MDIForm_Unload();
    void restorePlacement();
    QAction *addItem(QMenu *menu, const char *name, const QString &caption);
    QAction *addTool(const char *name, const QString &caption, const char *windowClass);
    EditTarget *activeEditTarget() const;

    QMdiArea *m_area;
    std::unique_ptr<ToolWindowRegistry> m_tools;
    QLabel *m_statusPanel = nullptr, *m_datePanel = nullptr, *m_timePanel = nullptr;
    QTimer *m_clock = nullptr;
    QList<QAction *> m_windowItems;
    QRectF m_placement;
    QRect m_appliedPixels;
    bool m_unloaded = false;
};
