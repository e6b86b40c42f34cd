#include "closedproxy.h"
#include "frmbrowse.h"
#include "frmmain.h"
#include "messagebox.h"
#include "processenv.h"
#include "settingsrecord.h"
#include "toolwindow.h"
#include "twips.h"
#include "usersettings.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextDocumentFragment>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

// A tool window with a member that must survive closing and a control that must not.
class TestTool : public ToolWindow {
    Q_OBJECT
public:
    QLineEdit *Text1 = nullptr;
    int loads = 0;
    void createControls() override
    {
        Text1 = new QLineEdit(this);
        Text1->setObjectName(QStringLiteral("Text1"));
        setFixedSize(Twips::size(3000, 1500));
        setWindowTitle(QStringLiteral("Test Tool"));
    }
    void Form_Load() override { ++loads; }
};

// A stand-in for a rich-text box, reached by the Edit commands through its name.
class RtfTextBox : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString SelRTF READ selRtf WRITE setSelRtf)
    Q_PROPERTY(QString SelText READ selText WRITE setSelText)
public:
    using QObject::QObject;
    QString selRtf() const { return m_rtf; }
    void setSelRtf(const QString &v) { m_rtf = v; }
    QString selText() const { return m_text; }
    void setSelText(const QString &v) { m_text = v; }
    QString m_rtf = QStringLiteral("{\\rtf1 selected}"), m_text = QStringLiteral("selected");
};

struct Shown {
    QString text;
    int style;
    QString title;
};

class tst_frmMain : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmMain> m_main;
    QList<Shown> m_boxes;

    frmMain *start()
    {
        m_main = std::make_unique<frmMain>();
        m_main->tools().registerFactory(QStringLiteral("TestTool"), [] { return new TestTool; });
        m_main->MDIForm_Load();
        m_main->show();
        if (!QTest::qWaitForWindowExposed(m_main.get()))
            qWarning("main window not exposed");
        return m_main.get();
    }
    QList<QMdiSubWindow *> visibleChildren() const
    {
        QList<QMdiSubWindow *> out;
        for (auto *s : m_main->mdiArea()->subWindowList())
            if (s->isVisible())
                out << s;
        return out;
    }
    static QString setting(const char *key)
    {
        return UserSettings::GetSetting("Velmaric", "Settings", QString::fromLatin1(key), "absent");
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->path() + "/config"));
        PopUpsAllowed = VbFalse;
        m_boxes.clear();
        setMsgBoxHandler([this](const QString &t, int s, const QString &title) {
            m_boxes.append({t, s, title});
            return int(vbOK);
        });
    }
    void cleanup()
    {
        m_main.reset();
        setMsgBoxHandler({});
        QDir::setCurrent(QDir::tempPath());
    }

    void firstRun()
    {
        frmMain *w = start();
        QCOMPARE(w->windowTitle(), QStringLiteral("Velmaric"));
        QCOMPARE(w->frameGeometry().topLeft(),
                 QPoint(Twips::toPixelsX(1000), Twips::toPixelsY(1000)));
        QCOMPARE(w->frameGeometry().size(), Twips::size(6500, 6500));
        QVERIFY(!w->mnuOptionsAllow->isChecked());
        QCOMPARE(PopUpsAllowed, VbFalse);
        const auto kids = visibleChildren();
        QCOMPARE(kids.size(), 1);
        QVERIFY(qobject_cast<frmBrowse *>(kids[0]->widget()));
        QCOMPARE(kids[0]->windowTitle(), QStringLiteral("Norvo "));
        QCOMPARE(setting("MainLeft"), QStringLiteral("absent")); // nothing written before shut-down
        QVERIFY(m_boxes.isEmpty());
    }

    void storedPlacement_data()
    {
        QTest::addColumn<QStringList>("stored"); // left, top, width, height
        QTest::addColumn<QRectF>("expected");
        QTest::newRow("valid") << QStringList{"1500", "750", "9000", "7500"}
                               << QRectF(1500, 750, 9000, 7500);
        QTest::newRow("fraction") << QStringList{"1500.5", "750", "9000", "7500"}
                                  << QRectF(1500.5, 750, 9000, 7500);
        QTest::newRow("non-numeric width")
            << QStringList{"1500", "750", "wide", "7500"} << QRectF(1500, 750, 6500, 7500);
        QTest::newRow("negative size")
            << QStringList{"1500", "750", "-9000", "7500"} << QRectF(1000, 1000, 6500, 6500);
        QTest::newRow("off every screen")
            << QStringList{"9000000", "750", "9000", "7500"} << QRectF(1000, 1000, 6500, 6500);
        QTest::newRow("absurdly large")
            << QStringList{"0", "0", "1e30", "7500"} << QRectF(1000, 1000, 6500, 6500);
    }
    void storedPlacement()
    {
        QFETCH(QStringList, stored);
        QFETCH(QRectF, expected);
        const char *keys[] = {"MainLeft", "MainTop", "MainWidth", "MainHeight"};
        for (int i = 0; i < 4; ++i)
            QVERIFY(UserSettings::SaveSetting("Velmaric", "Settings", keys[i], stored[i]));
        frmMain *w = start();
        QCOMPARE(w->restoredPlacement(), expected);
        QVERIFY(QGuiApplication::primaryScreen()->geometry().intersects(w->frameGeometry()));
    }

    // Closing saves the outer placement in twips, and the next start shows the window there.
    void closeSavesPlacement_data()
    {
        QTest::addColumn<Qt::WindowState>("state");
        QTest::addColumn<QRect>("moveTo"); // null: where it opened
        QTest::newRow("unmoved: the stored values exactly, no rounding drift")
            << Qt::WindowNoState << QRect();
        QTest::newRow("moved") << Qt::WindowNoState << QRect(40, 50, 600, 400);
        QTest::newRow("maximized: restored as a normal window") << Qt::WindowMaximized << QRect();
        QTest::newRow("minimized: nothing saved") << Qt::WindowMinimized << QRect(10, 10, 500, 500);
    }
    void closeSavesPlacement()
    {
        QFETCH(Qt::WindowState, state);
        QFETCH(QRect, moveTo);
        UserSettings::SaveSetting("Velmaric", "Settings", "MainLeft", "1001");
        frmMain *w = start();
        if (!moveTo.isNull()) {
            w->setGeometry(moveTo);
            QTRY_COMPARE(w->frameGeometry().size(), moveTo.size());
        }
        w->setWindowState(state);
        QTRY_COMPARE(w->windowState(), state);
        const QRect shown = w->frameGeometry();
        w->mnuFileExit->trigger();
        if (state == Qt::WindowMinimized) {
            QCOMPARE(setting("MainLeft"), QStringLiteral("1001"));
            QCOMPARE(setting("MainWidth"), QStringLiteral("absent"));
            return;
        }
        if (moveTo.isNull() && state == Qt::WindowNoState)
            QCOMPARE(QStringList({setting("MainLeft"), setting("MainTop"), setting("MainWidth"),
                                  setting("MainHeight")}),
                     QStringList({"1001", "1000", "6500", "6500"}));
        QCOMPARE(QRect(Twips::toPixelsX(setting("MainLeft").toDouble()),
                       Twips::toPixelsY(setting("MainTop").toDouble()),
                       Twips::toPixelsX(setting("MainWidth").toDouble()),
                       Twips::toPixelsY(setting("MainHeight").toDouble())),
                 shown);
        m_main.reset();
        frmMain *again = start();
        QVERIFY(!(again->windowState() & Qt::WindowMaximized));
        QCOMPARE(again->frameGeometry(), shown);
    }

    void popUpsFromRecord_data()
    {
        QTest::addColumn<int>("use");
        QTest::addColumn<int>("allow");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("in force, allowed") << -1 << -1 << true;
        QTest::newRow("in force, 1 is not true") << -1 << 1 << false;
        QTest::newRow("not in force (1)") << 1 << -1 << false;
        QTest::newRow("not in force (0)") << 0 << -1 << false;
    }
    void popUpsFromRecord()
    {
        SettingsRecord r;
        r.HomePage = QStringLiteral("http://127.0.0.1:9/");
        QFETCH(int, use);
        QFETCH(int, allow);
        r.UseStoredSettings = int16_t(use);
        r.AllowPopUps = int16_t(allow);
        QFile f(QStringLiteral("norvo.ini"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(r.toBytes());
        f.close();
        QFETCH(bool, allowed);
        frmMain *w = start();
        for (bool shown : {allowed, !allowed, allowed}) { // as read, then toggled twice
            QCOMPARE(w->mnuOptionsAllow->isChecked(), shown);
            QCOMPARE(PopUpsAllowed, shown ? VbTrue : VbFalse);
            w->mnuOptionsAllow->trigger();
        }
    }

    void statusBar()
    {
        frmMain *w = start();
        auto *bar = w->statusBar();
        QCOMPARE(bar->objectName(), QStringLiteral("sbStatusBar"));
        const auto panels = bar->findChildren<QLabel *>();
        QCOMPARE(panels.size(), 3);
        QCOMPARE(panels[0]->text(), QStringLiteral("Status"));
        for (QLabel *clock : {panels[1], panels[2]}) { // date and time, read as they show
            QVERIFY(!clock->text().isEmpty());
            QCOMPARE(QAccessible::queryAccessibleInterface(clock)->text(QAccessible::Name),
                     clock->text());
        }
        w->mnuViewStatusBar->trigger();
        QVERIFY(!bar->isVisible());
        QVERIFY(!w->mnuViewStatusBar->isChecked());
        w->mnuViewStatusBar->trigger();
        QVERIFY(bar->isVisible());
        QVERIFY(w->mnuViewStatusBar->isChecked());
    }

    void aboutIsModalAndOwnedByTheFrame()
    {
        frmMain *w = start();
        bool seen = false, modal = false;
        QWidget *owner = nullptr;
        QTimer::singleShot(0, [&] {
            QWidget *box = QApplication::activeModalWidget();
            seen = box != nullptr;
            modal = seen && box->isModal();
            owner = seen ? box->parentWidget() : nullptr;
            if (box)
                box->close();
        });
        w->mnuHelpAbout->trigger();
        QVERIFY(seen);
        QVERIFY(modal);
        QCOMPARE(owner, w);
    }

    void toolWindowRegistry()
    {
        frmMain *w = start();
        auto *tool = qobject_cast<TestTool *>(w->tools().show(QStringLiteral("TestTool")));
        QVERIFY(tool);
        QCOMPARE(tool->loads, 1);
        QPointer<QLineEdit> firstBox = tool->Text1;
        firstBox->setText(QStringLiteral("typed"));
        w->mnuWindowNewWindow->trigger(); // another window becomes active
        QVERIFY(w->mdiArea()->currentSubWindow() != tool->subWindow());

        QCOMPARE(w->tools().show(QStringLiteral("TestTool")), tool);
        QCOMPARE(tool->loads, 1); // only shown again
        QCOMPARE(w->mdiArea()->currentSubWindow(), tool->subWindow());
        QCOMPARE(tool->Text1->text(), QStringLiteral("typed"));

        QVERIFY(tool->subWindow()->close());
        QVERIFY(!tool->subWindow()->isVisible());
        QCOMPARE(w->tools().show(QStringLiteral("TestTool")), tool);
        QCOMPARE(tool->loads, 2);   // load step ran again on the same instance
        QVERIFY(firstBox.isNull()); // with controls made anew
        QVERIFY(tool->Text1->text().isEmpty());
        QVERIFY(tool->subWindow()->isVisible());
        QCOMPARE(w->tools().show(QStringLiteral("NoSuchTool")), nullptr);
    }

    void newWindowThreeTimes()
    {
        frmMain *w = start();
        for (int i = 0; i < 3; ++i)
            w->mnuWindowNewWindow->trigger();
        const auto kids = visibleChildren();
        QCOMPARE(kids.size(), 4);
        QSet<QWidget *> distinct;
        for (auto *k : kids) {
            QVERIFY(qobject_cast<frmBrowse *>(k->widget()));
            distinct.insert(k->widget());
        }
        QCOMPARE(distinct.size(), 4);
        kids.last()->setWindowTitle(QStringLiteral("Tom & Jerry"));
        w->mnuWindow->popup(QPoint(0, 0)); // the window list follows the open children
        const auto listed = w->mnuWindow->actions().mid(5);
        QCOMPARE(listed.size(), 4);
        // Its "&" shows as itself, not as a mnemonic.
        QCOMPARE(listed.last()->text(), QStringLiteral("&4 Tom && Jerry"));
        w->mnuWindow->hide();
    }

    void arrangements_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("tile vertical: side by side") << 2;
        QTest::newRow("tile horizontal: one above the other") << 1;
    }
    void arrangements()
    {
        QFETCH(int, mode);
        frmMain *w = start();
        for (int i = 0; i < 2; ++i)
            w->mnuWindowNewWindow->trigger();
        w->tools().show(QStringLiteral("TestTool"));
        (mode == 2 ? w->mnuWindowTileVertical : w->mnuWindowTileHorizontal)->trigger();
        auto kids = visibleChildren();
        QCOMPARE(kids.size(), 4);
        std::sort(kids.begin(), kids.end(), [mode](auto *a, auto *b) {
            return mode == 2 ? a->x() < b->x() : a->y() < b->y();
        });
        for (int i = 1; i < kids.size(); ++i) {
            if (mode == 2) {
                QVERIFY(kids[i]->x() >= kids[i - 1]->x() + kids[i - 1]->width() - 1);
                QCOMPARE(kids[i]->y(), 0);
            } else {
                QVERIFY(kids[i]->y() >= kids[i - 1]->y() + kids[i - 1]->height() - 1);
                QCOMPARE(kids[i]->x(), 0);
            }
        }
    }

    void arrangeIconsLinesUpMinimized()
    {
        frmMain *w = start();
        w->mnuWindowNewWindow->trigger();
        const auto kids = visibleChildren();
        for (auto *k : kids)
            k->showMinimized();
        w->mnuWindowArrangeIcons->trigger();
        const int bottom = w->mdiArea()->viewport()->height();
        QCOMPARE(kids[0]->y() + kids[0]->height(), bottom);
        QCOMPARE(kids[1]->y(), kids[0]->y());
        QVERIFY(kids[0]->x() != kids[1]->x());
    }

    void editCommandsWithoutRichTextChangeNothing()
    {
        frmMain *w = start();
        QApplication::clipboard()->setText(QStringLiteral("before"));
        w->mnuEditCopy->trigger();
        w->mnuEditCut->trigger();
        w->mnuEditPaste->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));
        QVERIFY(m_boxes.isEmpty());
        w->mdiArea()->closeAllSubWindows();
        w->mnuEditPaste->trigger(); // no child at all
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));
    }

    void editCommandsReachTheRichTextMember()
    {
        frmMain *w = start();
        auto *child = new QWidget;
        auto *box = new RtfTextBox(child);
        box->setObjectName(QStringLiteral("rtfText"));
        QMdiSubWindow *sub = w->mdiArea()->addSubWindow(child);
        sub->show();
        w->mdiArea()->setActiveSubWindow(sub);
        w->mnuEditCopy->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("{\\rtf1 selected}"));
        w->mnuEditCut->trigger();
        QCOMPARE(box->m_text, QString());
        QApplication::clipboard()->setText(QStringLiteral("<b>pasted</b>"));
        w->mnuEditPaste->trigger();
        // Another program's text arrives as markup that reads as that text.
        QCOMPARE(QTextDocumentFragment::fromHtml(box->m_rtf).toPlainText(),
                 QStringLiteral("<b>pasted</b>"));
    }

    void exitClosesEveryChild()
    {
        frmMain *w = start();
        auto *tool = qobject_cast<TestTool *>(w->tools().show(QStringLiteral("TestTool")));
        w->mnuWindowNewWindow->trigger();
        w->mnuFileExit->trigger();
        QVERIFY(!w->isVisible());
        QVERIFY(visibleChildren().isEmpty());
        QVERIFY(!tool->isLoaded());
    }
};

int main(int argc, char **argv)
{
    keepPagesOffline();
    setupProcessEnvironment(argc, argv);
    QApplication app(argc, argv);
    tst_frmMain t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_frmmain.moc"
