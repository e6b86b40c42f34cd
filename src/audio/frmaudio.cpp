#include "frmaudio.h"

#include "controls.h"
#include "designfont.h"
#include "localpanes.h"
#include "mediaplayercontrol.h"
#include "messagebox.h"
#include "mprisservice.h"
#include "playlistrules.h"
#include "twips.h"
#include "usersettings.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QSystemTrayIcon>

using namespace Controls;
using namespace LocalPanes;

namespace {
const QString App = QStringLiteral("NorvoAudio");
const QString Section = QStringLiteral("Startup");
const QString NowPlaying = QStringLiteral("Now Playing: ");
constexpr quint32 DefaultBackColor = 16711680;

// The designed face where installed, else a metric-compatible or generic one of its kind.
QFont designedFont(const QStringList &families, double points, QFont::StyleHint hint,
                   int weight = QFont::Normal)
{
    QFont font;
    font.setFamilies(families);
    font.setStyleHint(hint);
    font.setPointSizeF(points);
    font.setWeight(QFont::Weight(weight));
    return font;
}

QFont courier()
{
    return designedFont({QStringLiteral("Courier"), QStringLiteral("Courier New"),
                         QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono")},
                        9.75, QFont::TypeWriter);
}

void setColors(QWidget *w, QPalette::ColorRole role, const QColor &background,
               const QColor &text = {})
{
    QPalette p = w->palette();
    p.setColor(role, background);
    if (text.isValid()) {
        p.setColor(QPalette::WindowText, text);
        p.setColor(QPalette::Text, text);
    }
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

int vbButton(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 4;
    default: return 8;
    }
}
} // namespace

frmAudio::frmAudio(QWidget *parent) : ToolWindow(parent)
{
    // No minimise box: the way to the notification area is this entry of the window's menu.
    // Made once, as it outlives the controls made at every load.
    m_minimise = new QAction(QStringLiteral("Minimise to Tray"), this);
    m_minimise->setObjectName(QStringLiteral("MinimiseToTray"));
    m_minimise->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    m_minimise->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_minimise->setVisible(false);
    addAction(m_minimise);
    connect(m_minimise, &QAction::triggered, this, &frmAudio::minimiseToTray);
}

frmAudio::~frmAudio() = default;

QString frmAudio::defaultFolder()
{
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QFileInfo(music).isDir())
        return music;
    return QDir::homePath();
}

QColor frmAudio::vbColor(quint32 value)
{
    return QColor(value & 0xff, (value >> 8) & 0xff, (value >> 16) & 0xff);
}

void frmAudio::createControls()
{
    setWindowTitle(QStringLiteral("NorvoAudio"));
    setFixedSize(Twips::size(7995, 4920));
    setColors(this, QPalette::Window, vbColor(4210752));

    // Created from the bottom of the stacking order up: a later sibling is drawn above.
    MediaPlayer1 = new MediaPlayerControl(this);
    MediaPlayer1->setObjectName(QStringLiteral("MediaPlayer1"));
    Twips::place(MediaPlayer1, 135, 2685, 5370, 690);

    Label1 = label(this, QStringLiteral("Label1"), QString(), 135, 2295, 5400, 390);
    Label1->setFont(designedFont({QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue"),
                                  QStringLiteral("DejaVu Sans")},
                                 8.25, QFont::SansSerif));
    setColors(Label1, QPalette::Window, vbColor(0), vbColor(16777215));
    setReadableText(Label1, QString());

    Frame1 = new QGroupBox(QStringLiteral("playlist"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFont(courier());
    // A frame has its own (button face) background, not the window's dark grey.
    setColors(Frame1, QPalette::Window, QApplication::palette().color(QPalette::Button));
    Twips::place(Frame1, 105, 3465, 5400, 1395);
    Label4 = label(Frame1, QStringLiteral("Label4"), QStringLiteral("Label4"), 2040, 0, 735, 15);
    Label4->setAccessibleName(Label4->text());
    Label4->installEventFilter(this);
    cmdClear = button(Frame1, QStringLiteral("cmdClear"), QStringLiteral("Clear"), 2040, 240, 855,
                      255);
    cmdRemove = button(Frame1, QStringLiteral("cmdRemove"), QStringLiteral("Remove"), 1080, 240,
                       855, 255);
    cmdAdd = button(Frame1, QStringLiteral("cmdAdd"), QStringLiteral("Add"), 120, 240, 855, 255);
    List1 = new QListWidget(Frame1);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setAccessibleName(QStringLiteral("Playlist"));
    List1->setFont(courier());
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    Twips::place(List1, 120, 615, 5175, 645);
    Command8 = button(Frame1, QStringLiteral("Command8"), QStringLiteral("Hide"), 3000, 240, 855,
                      255);
    for (QWidget *w : {static_cast<QWidget *>(cmdClear), static_cast<QWidget *>(cmdRemove),
                       static_cast<QWidget *>(cmdAdd), static_cast<QWidget *>(Command8)})
        w->setFont(designFont());

    File1 = new FileListBox(this);
    File1->setObjectName(QStringLiteral("File1"));
    File1->setAccessibleName(QStringLiteral("Files"));
    File1->setPattern(QStringLiteral("*.mp3*"));
    File1->setFont(courier());
    File1->setContextMenuPolicy(Qt::CustomContextMenu);
    Twips::place(File1, 120, 660, 5400, 1065);

    Dir1 = new DirListBox(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    Dir1->setAccessibleName(QStringLiteral("Folders"));
    Dir1->setFont(courier());
    setColors(Dir1, QPalette::Base, vbColor(12632256));
    Twips::place(Dir1, 5805, 135, 2070, 4365);

    cmdplay = button(this, QStringLiteral("cmdplay"), QStringLiteral("Playlist"), 4290, 3720, 840,
                     255);
    cmdplay->setFont(designedFont({QStringLiteral("Eras Demi ITC"), QStringLiteral("DejaVu Sans")},
                                  9, QFont::SansSerif));

    drv1 = new DriveListBox(this);
    drv1->setObjectName(QStringLiteral("drv1"));
    drv1->setAccessibleName(QStringLiteral("Drive"));
    drv1->view()->setAccessibleName(QStringLiteral("Drives"));
    drv1->setFont(designedFont({QStringLiteral("System"), QStringLiteral("DejaVu Sans")}, 9.75,
                               QFont::SansSerif, QFont::Bold));
    Twips::place(drv1, 45, 270, 2655, 360);

    auto *fileMenu = new QMenu(File1);
    fileMenu->setObjectName(QStringLiteral("File1Menu"));
    fileMenu->addAction(QStringLiteral("Play"), this, &frmAudio::File1_DblClick);
    fileMenu->addAction(QStringLiteral("Add to Playlist"), this, &frmAudio::cmdAdd_Click);

    QWidget *order[] = {MediaPlayer1, File1, Dir1,    cmdClear, cmdRemove,
                        cmdAdd,       List1, cmdplay, Command8, drv1};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(File1, &QListWidget::itemDoubleClicked, this, &frmAudio::File1_DblClick);
    connect(File1, &QWidget::customContextMenuRequested, this, &frmAudio::File1_MouseDown);
    connect(cmdplay, &QPushButton::clicked, this, &frmAudio::cmdplay_Click);
    connect(Command8, &QPushButton::clicked, this, &frmAudio::Command8_Click);
    connect(cmdAdd, &QPushButton::clicked, this, &frmAudio::cmdAdd_Click);
    connect(cmdRemove, &QPushButton::clicked, this, &frmAudio::cmdRemove_Click);
    connect(cmdClear, &QPushButton::clicked, this, &frmAudio::cmdClear_Click);
    connect(List1, &QListWidget::itemDoubleClicked, this, &frmAudio::List1_DblClick);
    connect(MediaPlayer1, &MediaPlayerControl::EndOfStream, this,
            &frmAudio::MediaPlayer1_EndOfStream);
    connect(MediaPlayer1->engine(), &MediaEngine::errorOccurred, this,
            [this](const QString &text) { setReadableText(Label1, text); });
    connect(drv1, &DriveListBox::driveChanged, this, &frmAudio::drv1_Change);
    connect(Dir1, &DirListBox::pathChanged, this, &frmAudio::Dir1_Change);
}

void frmAudio::Form_Load()
{
    m_rules.started();
    QString folder = UserSettings::GetSetting(App, Section, QStringLiteral("LastEntry"),
                                              QStringLiteral("C:\\"));
    const QString colour = UserSettings::GetSetting(App, Section, QStringLiteral("BackColor"),
                                                    QString::number(DefaultBackColor));
    // "C:\" is the original default; a folder gone since it was saved falls back to it too.
    if (folder == QLatin1String("C:\\") || !folderProblem(folder).isEmpty())
        folder = defaultFolder();
    File1->setPath(folder);
    Dir1->setPath(folder);
    drv1->selectDrive(DriveListBox::driveOf(File1->path()));

    bool isNumber = false;
    const qlonglong value = colour.trimmed().toLongLong(&isNumber);
    m_fileBackColor = isNumber && value >= 0 && value <= 0xffffff ? quint32(value)
                                                                  : DefaultBackColor;
    setColors(File1, QPalette::Base, vbColor(m_fileBackColor), vbColor(16777215));

    // Height and place need the window's frame as it is once shown: the first load has none
    // yet, and a frame kept from an earlier opening still has its old size.
    QTimer::singleShot(0, this, &frmAudio::attachToFrame);

    // The entry that follows, so that it can start right after the last sample of this one.
    MediaPlayer1->engine()->setUpcoming([this](int ahead) {
        const int next = PlaylistRules::upcoming(List1->currentRow(), List1->count(), ahead);
        return isLoaded() && next >= 0 ? List1->item(next)->text() : QString();
    });
    publishMedia();

    // The notification-area icon comes last.
    m_tray = std::make_unique<QSystemTrayIcon>();
    QIcon icon = QIcon::fromTheme(QStringLiteral("audio-x-generic"), qApp->windowIcon());
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_MediaVolume);
    m_tray->setIcon(icon);
    m_tray->setToolTip(QStringLiteral("Tray Icon tip text"));
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason r) {
                if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
                    restoreFromTray();
            });
    m_tray->show();

    m_trayWatch.setInterval(1000);
    connect(&m_trayWatch, &QTimer::timeout, this, &frmAudio::watchTray, Qt::UniqueConnection);
    m_trayWatch.start();
    offerTray();
}

void frmAudio::watchTray()
{
    offerTray();
    QMdiSubWindow *sub = subWindow();
    if (sub && sub->isHidden() && isLoaded() && !QSystemTrayIcon::isSystemTrayAvailable())
        restoreFromTray();
}

void frmAudio::offerTray()
{
    m_minimise->setVisible(m_tray && QSystemTrayIcon::isSystemTrayAvailable());
}

void frmAudio::minimiseToTray()
{
    offerTray();
    if (QMdiSubWindow *sub = subWindow(); sub && m_minimise->isVisible())
        sub->showMinimized();
}

void frmAudio::attachToFrame()
{
    QMdiSubWindow *sub = subWindow();
    if (!sub)
        return;
    // Queued: the frame shows itself again once it has finished minimising.
    connect(sub, &QMdiSubWindow::windowStateChanged, this, &frmAudio::Form_Resize,
            Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
    setHeight(CompactHeight);
    placeInMainWindow();
    QMenu *menu = sub->systemMenu();
    if (menu && !menu->actions().contains(m_minimise)) {
        menu->addAction(m_minimise);
        connect(menu, &QMenu::aboutToShow, this, &frmAudio::offerTray, Qt::UniqueConnection);
    }
}

void frmAudio::Form_Unload()
{
    const QString folder = File1->path();
    UserSettings::SaveSetting(App, Section, QStringLiteral("Backup"), folder);
    UserSettings::SaveSetting(App, Section, QStringLiteral("LastEntry"), folder);
    UserSettings::SaveSetting(App, Section, QStringLiteral("Backcolor"),
                              QString::number(m_fileBackColor));
    // The controls outlive the closed window until the next load: silence them now.
    MediaPlayer1->engine()->stop();
    m_trayWatch.stop();
    m_mpris.reset();
    m_tray.reset();
    offerTray();
}

void frmAudio::publishMedia()
{
    m_mpris = std::make_unique<MprisService>(MediaPlayer1->engine());
    m_mpris->setNext([this] { stepEntry(1); });
    m_mpris->setPrevious([this] { stepEntry(-1); });
    m_mpris->setRaise([this] { restoreFromTray(); });
    m_mpris->setOpen([this](const QString &path) {
        m_rules.started();
        playFile(path, QFileInfo(path).fileName());
    });
    const auto entriesChanged = [this] {
        m_mpris->setCanGoNext(List1->count() > 0);
        m_mpris->setCanGoPrevious(List1->count() > 0);
    };
    connect(List1->model(), &QAbstractItemModel::rowsInserted, m_mpris.get(), entriesChanged);
    connect(List1->model(), &QAbstractItemModel::rowsRemoved, m_mpris.get(), entriesChanged);
    connect(List1->model(), &QAbstractItemModel::modelReset, m_mpris.get(), entriesChanged);
}

void frmAudio::stepEntry(int step)
{
    const int next = PlaylistRules::stepped(List1->currentRow(), List1->count(), step);
    if (next < 0)
        return;
    m_rules.started();
    List1->setCurrentRow(next);
    playSelectedEntry();
}

void frmAudio::setHeight(double twips)
{
    const int outer = Twips::toPixelsY(twips);
    QMdiSubWindow *sub = subWindow();
    const int frame = sub ? sub->height() - height() : 0;
    setFixedHeight(qMax(0, outer - frame));
    if (sub)
        sub->setFixedHeight(outer);
}

void frmAudio::placeInMainWindow()
{
    QMdiSubWindow *sub = subWindow();
    if (!sub || !sub->mdiArea())
        return;
    const QSize main = sub->mdiArea()->window()->frameGeometry().size();
    sub->move(main.width() - sub->width(), main.height() - sub->height() - Twips::toPixelsY(450));
}

void frmAudio::playFile(const QString &path, const QString &shownName)
{
    MediaPlayer1->setFileName(path);
    // A file that failed at once already shows why.
    if (MediaPlayer1->engine()->errorText().isEmpty())
        setReadableText(Label1, NowPlaying + shownName);
}

void frmAudio::playSelectedEntry()
{
    const QListWidgetItem *entry = List1->currentItem();
    if (entry)
        playFile(entry->text(), entry->text());
}

void frmAudio::File1_DblClick()
{
    const QString name = File1->fileName();
    if (name.isEmpty())
        return;
    m_rules.started();
    playFile(PlaylistRules::entry(File1->path(), name), name);
}

void frmAudio::cmdplay_Click()
{
    setHeight(ExpandedHeight);
    placeInMainWindow();
}

void frmAudio::Command8_Click()
{
    // The lower right corner of the main window's visible client area: a child window placed
    // by the screen's size could land where nobody can reach it.
    setHeight(CompactHeight);
    QMdiSubWindow *sub = subWindow();
    if (!sub || !sub->mdiArea())
        return;
    const QSize room = sub->mdiArea()->viewport()->size();
    sub->move(qMax(0, room.width() - sub->width()), qMax(0, room.height() - sub->height()));
}

void frmAudio::Label4_MouseDown(int button)
{
    const QString text = button == 1   ? QStringLiteral("LEFT BUTTON")
                         : button == 2 ? QStringLiteral("RIGHT BUTTON")
                                       : QStringLiteral("EXTRA BUTTONS");
    setReadableText(Label4, text);
}

void frmAudio::cmdAdd_Click()
{
    if (const QString entry = PlaylistRules::entry(File1->path(), File1->fileName());
        !entry.isEmpty())
        List1->addItem(entry);
}

void frmAudio::cmdRemove_Click()
{
    const int index = List1->currentRow();
    if (index != -1)
        delete List1->takeItem(index);
}

void frmAudio::cmdClear_Click() { List1->clear(); }

void frmAudio::List1_DblClick()
{
    m_rules.started();
    playSelectedEntry();
}

void frmAudio::MediaPlayer1_EndOfStream(int result)
{
    // An end that was on its way when the window closed starts nothing.
    if (!isLoaded())
        return;
    const PlaylistRules::End end = m_rules.atEnd(List1->currentRow(), List1->count(), result != 0);
    MediaPlayer1->setCurrentPosition(0);
    if (end.clearLine)
        setReadableText(Label1, QString());
    if (end.deselect)
        List1->setCurrentRow(-1);
    if (end.play < 0)
        return;
    List1->setCurrentRow(end.play);
    playSelectedEntry();
}

void frmAudio::drv1_Change()
{
    const QString drive = drv1->drive();
    QString problem = File1->setPath(drive);
    if (problem.isEmpty())
        problem = Dir1->setPath(drive);
    if (!problem.isEmpty())
        MsgBox(QStringLiteral("Device Unavailable"), vbOKOnly, problem);
}

void frmAudio::Dir1_Change() { File1->setPath(Dir1->path()); }

void frmAudio::File1_MouseDown(const QPoint &pos)
{
    if (QListWidgetItem *item = File1->itemAt(pos))
        File1->setCurrentItem(item);
    if (auto *menu = File1->findChild<QMenu *>(QStringLiteral("File1Menu")))
        menu->popup(File1->viewport()->mapToGlobal(pos));
}

void frmAudio::Form_Resize()
{
    QMdiSubWindow *sub = subWindow();
    // Without a tray to come back from, a hidden window would be lost: stay minimised then.
    if (!sub || !sub->isMinimized() || !m_tray || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    sub->hide();
}

void frmAudio::restoreFromTray()
{
    QMdiSubWindow *sub = subWindow();
    if (!sub)
        return;
    sub->showNormal();
    sub->show();
    if (QMdiArea *area = sub->mdiArea()) {
        area->setActiveSubWindow(sub);
        QWidget *main = area->window();
        if (main->isMinimized())
            main->showNormal();
        main->raise();
        main->activateWindow();
    }
}

bool frmAudio::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == Label4 && event->type() == QEvent::MouseButtonPress)
        Label4_MouseDown(vbButton(static_cast<QMouseEvent *>(event)->button()));
    return ToolWindow::eventFilter(watched, event);
}
