#include "frmmain.h"

#include "controls.h"
#include "edittarget.h"
#include "frmbrowse.h"
#include "maintoolbar.h"
#include "messagebox.h"
#include "richclipboard.h"
#include "settingsrecord.h"
#include "toolwindow.h"
#include "twips.h"
#include "usersettings.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>

namespace {
const QString AppName = QStringLiteral("Velmaric");
const QString Section = QStringLiteral("Settings");
constexpr double DefaultLeft = 1000, DefaultTop = 1000, DefaultWidth = 6500, DefaultHeight = 6500;

// Stored values are decimal text; anything that is not a finite number reads as absent.
double storedTwips(const char *key, double fallback)
{
    bool ok = false;
    const float v =
        UserSettings::GetSetting(AppName, Section, QString::fromLatin1(key)).trimmed().toFloat(&ok);
    return ok && std::isfinite(v) ? double(v) : fallback;
}

QString twipsText(double twips) { return QString::number(float(twips), 'g', 7); }
} // namespace

frmMain::frmMain(QWidget *parent)
    : QMainWindow(parent), m_area(new QMdiArea(this)),
      m_tools(std::make_unique<ToolWindowRegistry>(m_area))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(AppName);
    m_area->setObjectName(QStringLiteral("mdiArea"));
    m_area->setBackground(QColor(128, 128, 128));
    m_area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_area);
    createMenus();
    createToolbar();
    createStatusBar();
}

frmMain::~frmMain() = default;

void frmMain::createToolbar()
{
    Toolbar1 = new MainToolbar(this);
    addToolBar(Toolbar1);
    connect(Toolbar1, &MainToolbar::ButtonClick, this, &frmMain::Toolbar1_ButtonClick);
    // The pop-up button shows the option's state however it was changed.
    connect(mnuOptionsAllow, &QAction::toggled,
            Toolbar1->button(QStringLiteral("Allow Pop Up Windows")), &QAction::setChecked);
    // Hiding the toolbar from the frame's own context menu clears the View entry too.
    connect(Toolbar1->toggleViewAction(), &QAction::triggered, mnuViewToolbar,
            &QAction::setChecked);
}

void frmMain::Toolbar1_ButtonClick(const QString &Key)
{
    if (Key == QLatin1String("New"))
        NewBrowserWindow();
    else if (Key == QLatin1String("Cut"))
        mnuEditCut_Click();
    else if (Key == QLatin1String("Copy"))
        mnuEditCopy_Click();
    else if (Key == QLatin1String("Paste"))
        mnuEditPaste_Click();
    else if (Key == QLatin1String("Allow Pop Up Windows")) {
        mnuOptionsAllow_Click();
        // The button flipped itself when clicked; the option decides its state.
        Toolbar1->button(Key)->setChecked(mnuOptionsAllow->isChecked());
    }
}

void frmMain::createStatusBar()
{
    sbStatusBar = statusBar();
    sbStatusBar->setObjectName(QStringLiteral("sbStatusBar"));
    sbStatusBar->setSizeGripEnabled(true);
    m_statusPanel = new QLabel(tr("Status"), sbStatusBar);
    m_datePanel = new QLabel(sbStatusBar);
    m_timePanel = new QLabel(sbStatusBar);
    m_statusPanel->setObjectName(QStringLiteral("sbStatusBarText"));
    m_datePanel->setObjectName(QStringLiteral("sbStatusBarDate"));
    m_timePanel->setObjectName(QStringLiteral("sbStatusBarTime"));
    m_statusPanel->setAccessibleName(tr("Status"));
    // The clock panels read out their current texts; what they are is their description.
    m_datePanel->setAccessibleDescription(tr("Date"));
    m_timePanel->setAccessibleDescription(tr("Time"));
    for (QLabel *l : {m_statusPanel, m_datePanel, m_timePanel})
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    sbStatusBar->addWidget(m_statusPanel, 1);
    sbStatusBar->addPermanentWidget(m_datePanel);
    sbStatusBar->addPermanentWidget(m_timePanel);

    m_clock = new QTimer(this);
    m_clock->setTimerType(Qt::CoarseTimer);
    connect(m_clock, &QTimer::timeout, this, &frmMain::updateClock);
    updateClock();
}

void frmMain::updateClock()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale;
    Controls::setReadableText(m_datePanel, locale.toString(now.date(), QLocale::ShortFormat));
    Controls::setReadableText(m_timePanel, locale.toString(now.time(), QLocale::ShortFormat));
    // Wake again just after the next minute begins, when the shown time changes.
    m_clock->start(int(60000 - now.time().second() * 1000 - now.time().msec() + 50));
}

void frmMain::MDIForm_Load()
{
    ReadSettingsRecord();
    if (g_settingsRecord.UseStoredSettings == VbTrue) {
        if (g_settingsRecord.AllowPopUps == VbTrue) {
            PopUpsAllowed = VbTrue;
            mnuOptionsAllow->setChecked(true);
        } else {
            PopUpsAllowed = VbFalse;
            mnuOptionsAllow->setChecked(false);
        }
    }
    restorePlacement();
    NewBrowserWindow();
}

void frmMain::restorePlacement()
{
    QRectF p(storedTwips("MainLeft", DefaultLeft), storedTwips("MainTop", DefaultTop),
             storedTwips("MainWidth", DefaultWidth), storedTwips("MainHeight", DefaultHeight));
    QRect px(Twips::toPixelsX(p.left()), Twips::toPixelsY(p.top()), Twips::toPixelsX(p.width()),
             Twips::toPixelsY(p.height()));

    // The window must open visible: a sane size, and enough of it on some screen to grab.
    bool sane = px.width() >= 100 && px.height() >= 80 && px.width() <= 100000 &&
                px.height() <= 100000;
    if (sane) {
        sane = false;
        const auto screens = QGuiApplication::screens();
        for (const QScreen *s : screens) {
            const QRect shown = s->availableGeometry().intersected(px);
            sane = sane || (shown.width() >= 50 && shown.height() >= 30);
        }
        if (screens.isEmpty())
            sane = true;
    }
    if (!sane) {
        p = QRectF(DefaultLeft, DefaultTop, DefaultWidth, DefaultHeight);
        px = QRect(Twips::toPixelsX(p.left()), Twips::toPixelsY(p.top()),
                   Twips::toPixelsX(p.width()), Twips::toPixelsY(p.height()));
    }
    m_placement = p;
    m_appliedPixels = px;
    move(px.topLeft());
    resize(px.size());
}

void frmMain::NewBrowserWindow()
{
    auto *w = new frmBrowse(m_area);
    w->Form_Load();
    w->setWindowTitle(QStringLiteral("Norvo "));
    w->addToFrame()->show();
}

void frmMain::MDIForm_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    if (windowState() & Qt::WindowMinimized)
        return;
    const QRect frame = frameGeometry();
    QRectF twips(Twips::fromPixelsX(frame.x()), Twips::fromPixelsY(frame.y()),
                 Twips::fromPixelsX(frame.width()), Twips::fromPixelsY(frame.height()));
    // Unmoved windows keep their exact stored values instead of drifting by rounding.
    if (frame == m_appliedPixels)
        twips = m_placement;
    bool saved = UserSettings::SaveSetting(AppName, Section, QStringLiteral("MainLeft"),
                                           twipsText(twips.x()));
    saved &= UserSettings::SaveSetting(AppName, Section, QStringLiteral("MainTop"),
                                       twipsText(twips.y()));
    saved &= UserSettings::SaveSetting(AppName, Section, QStringLiteral("MainWidth"),
                                       twipsText(twips.width()));
    saved &= UserSettings::SaveSetting(AppName, Section, QStringLiteral("MainHeight"),
                                       twipsText(twips.height()));
    // The window is going away: the terminal is the only place left to say so.
    if (!saved)
        std::fprintf(stderr, "velmaric: the window placement could not be saved to %s\n",
                     qPrintable(UserSettings::filePath(AppName)));
}

void frmMain::closeEvent(QCloseEvent *event)
{
    // A window holding unsaved work (the editor) may ask first, and keeps the suite open if the
    // user cancels; no other window ever refuses.
    const auto subs = m_area->subWindowList();
    for (QMdiSubWindow *sub : subs) {
        auto *tool = qobject_cast<ToolWindow *>(sub->widget());
        if (tool && tool->isLoaded() && !tool->Form_QueryUnload()) {
            event->ignore();
            return;
        }
    }
    MDIForm_Unload();
    m_area->closeAllSubWindows();
    event->accept();
}

void frmMain::mnuFileExit_Click() { close(); }

EditTarget *frmMain::activeEditTarget() const
{
    QMdiSubWindow *sub = m_area->currentSubWindow();
    return sub ? EditTarget::of(sub->widget()) : nullptr;
}

void frmMain::mnuEditCut_Click()
{
    mnuEditCopy_Click();
    if (EditTarget *target = activeEditTarget())
        target->replaceSelectedText(QString());
}

// The selection goes out as markup and as plain text, so another program pastes the words
// rather than markup source. An empty selection leaves the clipboard as it was.
void frmMain::mnuEditCopy_Click()
{
    EditTarget *target = activeEditTarget();
    if (!target)
        return;
    const QString markup = target->selectedMarkup();
    if (!markup.isEmpty())
        QApplication::clipboard()->setMimeData(RichClipboard::mimeForMarkup(markup));
}

// Only our own markup is pasted as markup; other text is pasted as it reads. An empty
// clipboard leaves the selection in place.
void frmMain::mnuEditPaste_Click()
{
    const QString markup = RichClipboard::markupFrom(QApplication::clipboard()->mimeData());
    EditTarget *target = activeEditTarget();
    if (target && !markup.isEmpty())
        target->replaceSelection(markup);
}

void frmMain::mnuOptionsAllow_Click()
{
    if (PopUpsAllowed == VbTrue) {
        PopUpsAllowed = VbFalse;
        mnuOptionsAllow->setChecked(false);
    } else if (PopUpsAllowed == VbFalse) {
        PopUpsAllowed = VbTrue;
        mnuOptionsAllow->setChecked(true);
    }
}

void frmMain::mnuViewStatusBar_Click()
{
    // QAction already flipped its check mark when it was triggered.
    sbStatusBar->setVisible(mnuViewStatusBar->isChecked());
}

void frmMain::mnuViewToolbar_Click() { Toolbar1->setVisible(mnuViewToolbar->isChecked()); }

void frmMain::mnuViewOptions_Click() { m_tools->show(QStringLiteral("frmOptions")); }
void frmMain::PortScanner_Click() { m_tools->show(QStringLiteral("frmPortScan")); }
void frmMain::mnuEditor_Click() { m_tools->show(QStringLiteral("frmNorvoEdit")); }

void frmMain::mnuWindowNewWindow_Click() { NewBrowserWindow(); }

void frmMain::mnuHelpContents_Click()
{
    MsgBox(tr("Unable to display Help Contents. There is no Help associated with this project."),
           vbInformation, windowTitle());
}
