// The main window with the suite's real windows: placement, start-up from the settings record,
// the window list and arrangements, the Tools entries, the Edit commands and the toolbar.
#include "closedproxy.h"
#include "frmbrowse.h"
#include "frmmain.h"
#include "frmnorvoedit.h"
#include "maintoolbar.h"
#include "msgboxrecorder.h"
#include "richclipboard.h"
#include "richtextbox.h"
#include "settingsrecord.h"
#include "tools.h"
#include "twips.h"
#include "usersettings.h"

#include <QtTest>
#include <QtWidgets>

class tst_frmMain : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmMain> m_main;
    MsgBoxRecorder m_boxes;

    frmMain *start()
    {
        m_main = std::make_unique<frmMain>();
        registerTools(m_main->tools());
        m_main->MDIForm_Load();
        m_main->show();
        (void)QTest::qWaitForWindowExposed(m_main.get());
        return m_main.get();
    }
    QList<QMdiSubWindow *> children() const { return m_main->mdiArea()->subWindowList(); }
    // The editor, active, holding "plain bold & <tag>" with "bold & <tag>" selected.
    frmNorvoEdit *editorWithSelection()
    {
        start()->mnuEditor->trigger();
        auto *w = m_main->findChild<frmNorvoEdit *>();
        w->rtfText->setHtml(QStringLiteral("<p>plain <b>bold</b> &amp; &lt;tag&gt;</p>"));
        QTextCursor c(w->rtfText->document());
        c.setPosition(6);
        c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        w->rtfText->setTextCursor(c);
        return w;
    }
private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->path() + "/config"));
        PopUpsAllowed = VbFalse;
        m_boxes.reset();
    }
    void cleanup()
    {
        m_main.reset();
        QVERIFY2(m_boxes.boxes.isEmpty(), qPrintable(m_boxes.lines().join(u'|')));
    }

    // Start-up: stored values that would put the window out of reach fall back to the defaults;
    // the first browser window opens inside it; a screen reader reads the date and time panels as
    // they show.
    void storedPlacement_data()
    {
        QTest::addColumn<QString>("stored"); // left, top, width, height
        QTest::addColumn<QRectF>("expected");
        const QRectF fallback(1000, 1000, 6500, 6500);
        QTest::newRow("none") << QString() << fallback;
        QTest::newRow("valid") << "1500 750 9000 7500" << QRectF(1500, 750, 9000, 7500);
        QTest::newRow("fraction") << "1500.5 750 9000 7500" << QRectF(1500.5, 750, 9000, 7500);
        QTest::newRow("non-numeric width") << "1500 750 wide 7500" << QRectF(1500, 750, 6500, 7500);
        QTest::newRow("negative size") << "1500 750 -9000 7500" << fallback;
        QTest::newRow("off every screen") << "9000000 750 9000 7500" << fallback;
        QTest::newRow("absurdly large") << "0 0 1e30 7500" << fallback;
    }
    void storedPlacement()
    {
        QFETCH(QString, stored);
        const char *keys[] = {"MainLeft", "MainTop", "MainWidth", "MainHeight"};
        const QStringList values = stored.split(u' ', Qt::SkipEmptyParts);
        for (int i = 0; i < values.size(); ++i)
            QVERIFY(UserSettings::SaveSetting("Velmaric", "Settings", keys[i], values[i]));
        frmMain *w = start();
        QTEST(w->restoredPlacement(), "expected");
        QVERIFY(QGuiApplication::primaryScreen()->geometry().intersects(w->frameGeometry()));
        const auto kids = children();
        QVERIFY(kids.size() == 1 && qobject_cast<frmBrowse *>(kids[0]->widget()));
        const auto panels = w->statusBar()->findChildren<QLabel *>();
        QCOMPARE(panels.size(), 3);
        for (QLabel *clock : {panels[1], panels[2]})
            QVERIFY(QAccessible::queryAccessibleInterface(clock)->text(QAccessible::Name) ==
                        clock->text() &&
                    !clock->text().isEmpty());
    }

    // Closing saves the outer placement in twips, and the next start shows the window there.
    // Every child window closes with the frame.
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
        w->mnuWindowNewWindow->trigger();
        if (!moveTo.isNull()) {
            w->setGeometry(moveTo);
            QTRY_COMPARE(w->frameGeometry().size(), moveTo.size());
        }
        w->setWindowState(state);
        QTRY_COMPARE(w->windowState(), state);
        const QRect shown = w->frameGeometry();
        w->mnuFileExit->trigger();
        QVERIFY(!w->isVisible() && children().isEmpty());
        QStringList p; // the stored left, top, width and height
        for (const char *key : {"MainLeft", "MainTop", "MainWidth", "MainHeight"})
            p << UserSettings::GetSetting("Velmaric", "Settings", key, "absent");
        if (state == Qt::WindowMinimized) {
            QCOMPARE(p, QStringList({"1001", "absent", "absent", "absent"}));
            return;
        }
        if (moveTo.isNull() && state == Qt::WindowNoState)
            QCOMPARE(p[0], QStringLiteral("1001"));
        QCOMPARE(QRect(Twips::toPixelsX(p[0].toDouble()), Twips::toPixelsY(p[1].toDouble()),
                       Twips::toPixelsX(p[2].toDouble()), Twips::toPixelsY(p[3].toDouble())),
                 shown);
        m_main.reset();
        frmMain *again = start();
        QVERIFY(!(again->windowState() & Qt::WindowMaximized));
        QCOMPARE(again->frameGeometry(), shown);
    }

    // A record in force (-1) gives the first browser window its home page, blanks and all, and
    // allows pop-ups only when its flag is True (-1) too; the View entry then toggles them. (The
    // page it loads from there is checked by the options window's test.)
    void startFromRecord_data()
    {
        QTest::addColumn<int>("use");
        QTest::addColumn<int>("allow");
        QTest::newRow("in force, allowed") << -1 << -1;
        QTest::newRow("in force, 1 is not true") << -1 << 1;
        QTest::newRow("not in force (1)") << 1 << -1;
    }
    void startFromRecord()
    {
        QFETCH(int, use);
        QFETCH(int, allow);
        SettingsRecord r;
        r.HomePage = QStringLiteral("http://127.0.0.1:9/").leftJustified(40);
        r.UseStoredSettings = int16_t(use);
        r.AllowPopUps = int16_t(allow);
        QFile f(QString::fromLatin1(SettingsFileName));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(r.toBytes()) == SettingsRecord::Size);
        f.close();
        frmMain *w = start();
        auto *b = qobject_cast<frmBrowse *>(children().value(0)->widget());
        QCOMPARE(b->txtAddress->text(), use == -1 ? r.HomePage : QStringLiteral("example.com"));
        const bool allowed = use == -1 && allow == -1;
        for (bool shown : {allowed, !allowed, allowed}) {
            QCOMPARE(w->mnuOptionsAllow->isChecked(), shown);
            QCOMPARE(PopUpsAllowed, shown ? VbTrue : VbFalse);
            w->mnuOptionsAllow->trigger();
        }
    }

    // New Window and the toolbar's New open a new browser each time; the window list shows a
    // title's "&" as itself.
    void windowList()
    {
        frmMain *w = start();
        w->mnuWindowNewWindow->trigger();
        w->mnuWindowNewWindow->trigger();
        w->Toolbar1->button(QStringLiteral("New"))->trigger();
        const auto kids = children();
        QCOMPARE(kids.size(), 4);
        kids.last()->setWindowTitle(QStringLiteral("Tom & Jerry"));
        w->mnuWindow->popup(QPoint(0, 0));
        QCOMPARE(w->mnuWindow->actions().last()->text(), QStringLiteral("&4 Tom && Jerry"));
        w->mnuWindow->hide();
    }

    // Each arrangement keeps the children inside the area and apart, along its edge: tiles one
    // above the other at the left, or side by side at the top; minimized icons in rows up from
    // the bottom.
    void arrangements()
    {
        frmMain *w = start();
        w->mnuWindowNewWindow->trigger();
        w->mnuWindowNewWindow->trigger();
        const auto kids = children();
        const QRect area = w->mdiArea()->viewport()->rect();
        QAction *entries[] = {nullptr, w->mnuWindowTileHorizontal, w->mnuWindowTileVertical,
                              w->mnuWindowArrangeIcons};
        for (int mode = 1; mode <= 3; ++mode) {
            if (mode == 3)
                for (auto *k : kids)
                    k->showMinimized();
            entries[mode]->trigger();
            for (int i = 0; i < kids.size(); ++i) {
                const QRect g = kids[i]->geometry();
                const int edge[] = {0, g.left(), g.top(),
                                    (area.bottom() - g.bottom()) % g.height()};
                QVERIFY2(area.contains(g) && edge[mode] == 0, qPrintable(entries[mode]->text()));
                for (int j = 0; j < i; ++j)
                    QVERIFY(!g.intersects(kids[j]->geometry()));
            }
        }
    }

    // Rows are named by the window class their entry opens.
    void toolsEntryOpensOneWindow_data()
    {
        QTest::addColumn<QString>("entry");
        const char *rows[][2] = {
            {"frmNorvoRoute", "mnuNorvoRoute"},  {"frmTCPTable", "mnuTCPTable"},
            {"frmTCPStat", "TCPStats"},          {"frmNorvoIP", "ResolveIPAddress"},
            {"frmNorvoHost", "ResolveHostName"}, {"frmNorvoPing", "mnuNorvoPing"},
            {"frmOptions", "mnuViewOptions"},    {"frmPortScan", "PortScanner"}};
        for (const auto &row : rows)
            QTest::newRow(row[0]) << QString::fromLatin1(row[1]);
    }
    void toolsEntryOpensOneWindow()
    {
        QFETCH(QString, entry);
        const QString windowClass = QString::fromLatin1(QTest::currentDataTag());
        QCOMPARE(start()->tools().show(QStringLiteral("NoSuchTool")), nullptr);
        auto *action = m_main->findChild<QAction *>(entry);
        QVERIFY(action);
        action->trigger();
        ToolWindow *w = m_main->tools().instance(windowClass);
        QVERIFY(w && QLatin1String(w->metaObject()->className()) == windowClass);
        QCOMPARE(m_main->mdiArea()->currentSubWindow(), w->subWindow());

        // Keyboard and screen-reader use: every control is named, labels lead to their boxes.
        const auto widgets = w->findChildren<QWidget *>();
        for (QWidget *c : widgets) {
            const QString name = c->objectName();
            if (c->focusPolicy() != Qt::NoFocus && !name.isEmpty() && !name.startsWith("qt_") &&
                c->isVisibleTo(w))
                QVERIFY2(!c->accessibleName().isEmpty(), qPrintable(c->objectName()));
            if (auto *l = qobject_cast<QLabel *>(c);
                l && !l->text().trimmed().isEmpty() && l->buddy())
                QVERIFY2(l->buddy()->accessibleName().size() > 0, qPrintable(l->objectName()));
        }

        // A second command shows the same window as it is; after closing, the same instance
        // loads again with its controls made anew.
        QPointer<QWidget> control = w->findChild<QWidget *>();
        m_main->mdiArea()->setActiveSubWindow(nullptr);
        action->trigger();
        QVERIFY(control && m_main->mdiArea()->currentSubWindow() == w->subWindow());
        QVERIFY(w->subWindow()->close());
        action->trigger();
        QVERIFY(m_main->tools().instance(windowClass) == w && w->isLoaded() && !control &&
                w->subWindow()->isVisible());
    }
    // Cut, Copy and Paste from the Edit menu or the toolbar act on the active editor. A copy
    // offers markup to editors, which paste it back formatted, and plain text to every other
    // program; plain text from another program is pasted as it reads, "<" and "&" included.
    void editCommands_data()
    {
        QTest::addColumn<QString>("action");    // an Edit entry or a toolbar key
        QTest::addColumn<QString>("clipboard"); // set before the command; null: left as it is
        QTest::addColumn<QString>("text");      // the editor's text afterwards
        QTest::addColumn<QString>("plain");     // the clipboard's plain text afterwards
        const QString sel = QStringLiteral("bold & <tag>"), all = "plain " + sel;
        const QString text = QStringLiteral("a <  b && c\n  d");
        for (const char *prefix : {"mnuEdit", ""}) {
            const QString key = QString::fromLatin1(prefix);
            QTest::addRow("%sCopy", prefix) << key + "Copy" << QString() << all << sel;
            QTest::addRow("%sCut", prefix) << key + "Cut" << QString() << "plain " << sel;
            QTest::addRow("%sPaste", prefix) << key + "Paste" << text << "plain " + text << text;
            QTest::addRow("%sPaste nothing", prefix) << key + "Paste"
                                                     << "" << all << "";
        }
    }
    void editCommands()
    {
        QFETCH(QString, action);
        QFETCH(QString, clipboard);
        const QString sel = QStringLiteral("bold & <tag>");
        frmNorvoEdit *w = editorWithSelection();
        QApplication::clipboard()->setText(clipboard.isNull() ? QStringLiteral("before")
                                                              : clipboard);
        QAction *a = action.startsWith(QLatin1String("mnu")) ? m_main->findChild<QAction *>(action)
                                                             : m_main->Toolbar1->button(action);
        a->trigger();
        QTEST(w->rtfText->toPlainText(), "text");
        const QMimeData *data = QApplication::clipboard()->mimeData();
        QTEST(data->text(), "plain");
        if (!action.endsWith(QLatin1String("Paste"))) {
            QVERIFY(data->hasFormat(QString::fromLatin1(RichClipboard::MarkupFormat)));
            QVERIFY2(data->html().contains(QLatin1String("font-weight:700;\">bold")),
                     qPrintable(data->html()));
            // Our own markup comes back with its formatting.
            w->rtfText->selectAll();
            m_main->mnuEditPaste->trigger();
            QTextCursor c(w->rtfText->document());
            c.setPosition(2);
            QVERIFY(w->rtfText->toPlainText() == sel && c.charFormat().fontWeight() == QFont::Bold);
        }
    }

    // With no rich-text box active, or no window at all, Cut, Copy and Paste change nothing. The
    // pop-up button toggles in step with the View entry. Every button shows its image.
    void toolbarKeys()
    {
        start();
        QApplication::clipboard()->setText(QStringLiteral("before"));
        for (int round = 0; round < 2; ++round) {
            for (const char *key : {"Cut", "Copy", "Paste"})
                m_main->Toolbar1->button(QString::fromLatin1(key))->trigger();
            m_main->mdiArea()->closeAllSubWindows();
        }
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("before"));
        QAction *popUps = m_main->Toolbar1->button(QStringLiteral("Allow Pop Up Windows"));
        popUps->trigger();
        QVERIFY(PopUpsAllowed == VbTrue && m_main->mnuOptionsAllow->isChecked() &&
                popUps->isChecked());
        m_main->mnuOptionsAllow->trigger();
        QVERIFY(PopUpsAllowed == VbFalse && !popUps->isChecked());
        for (QAction *a : m_main->Toolbar1->actions())
            QVERIFY2(!a->icon().pixmap(24, 24).isNull(), qPrintable(a->toolTip()));
    }

    // Closing the suite with unsaved text asks once each time: Cancel keeps the suite and the
    // text, No closes.
    void closingTheSuiteAsks()
    {
        frmNorvoEdit *w = editorWithSelection();
        w->rtfText->moveCursor(QTextCursor::End);
        QTest::keyClicks(w->rtfText, QStringLiteral("!"));
        for (int answer : {int(vbCancel), int(vbNo)}) {
            m_boxes.answer = answer;
            m_main->mnuFileExit->trigger();
            const QStringList shown = m_boxes.take();
            QCOMPARE(shown.size(), 1);
            QVERIFY(shown[0].startsWith("51 The text in Untitled has changed."));
            QCOMPARE(m_main->isVisible(), answer == vbCancel);
            QCOMPARE(w->isLoaded(), answer == vbCancel);
            QCOMPARE(w->rtfText->toPlainText(), QStringLiteral("plain bold & <tag>!"));
        }
    }
};

VELMARIC_WINDOW_TEST_MAIN(tst_frmMain)
#include "tst_frmmain.moc"
