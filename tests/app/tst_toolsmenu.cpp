// Every Tools entry opens its one window, with accessible controls.
#include "closedproxy.h"
#include "frmmain.h"
#include "messagebox.h"
#include "toolwindow.h"
#include "tools.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

class tst_ToolsMenu : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<frmMain> m_main;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(m_dir.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + "/config"));
        setMsgBoxHandler([](const QString &, int, const QString &) { return int(vbOK); });
        m_main = std::make_unique<frmMain>();
        registerTools(m_main->tools());
        m_main->MDIForm_Load();
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
        QCOMPARE(m_main->tools().show(QStringLiteral("NoSuchTool")), nullptr);
    }
    void cleanupTestCase() { m_main.reset(); }

    // Rows are named by the window class their entry opens.
    void opensOneWindow_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::newRow("frmNorvoRoute") << "mnuNorvoRoute";
        QTest::newRow("frmTCPTable") << "mnuTCPTable";
        QTest::newRow("frmTCPStat") << "TCPStats";
        QTest::newRow("frmNorvoIP") << "ResolveIPAddress";
        QTest::newRow("frmNorvoHost") << "ResolveHostName";
        QTest::newRow("frmNorvoPing") << "mnuNorvoPing";
        QTest::newRow("frmOptions") << "mnuViewOptions";
        QTest::newRow("frmPortScan") << "PortScanner";
    }
    void opensOneWindow()
    {
        QFETCH(QString, entry);
        const QString windowClass = QString::fromLatin1(QTest::currentDataTag());
        QVERIFY2(m_main->tools().hasFactory(windowClass), "no window registered for this entry");
        auto *action = m_main->findChild<QAction *>(entry);
        QVERIFY(action);
        action->trigger();
        ToolWindow *w = m_main->tools().instance(windowClass);
        QVERIFY(w);
        QCOMPARE(QString::fromLatin1(w->metaObject()->className()), windowClass);
        QCOMPARE(m_main->mdiArea()->currentSubWindow(), w->subWindow());

        // Keyboard and screen-reader use: every control is named, labels lead to their boxes.
        const auto widgets = w->findChildren<QWidget *>();
        for (QWidget *c : widgets) {
            const bool control = qobject_cast<QAbstractButton *>(c) ||
                                 qobject_cast<QLineEdit *>(c) || qobject_cast<QComboBox *>(c) ||
                                 qobject_cast<QAbstractItemView *>(c) ||
                                 qobject_cast<QTextEdit *>(c) || qobject_cast<QPlainTextEdit *>(c);
            if (control && !c->objectName().isEmpty() && c->isVisibleTo(w))
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
        QVERIFY(m_main->tools().instance(windowClass) == w && w->isLoaded() && !control);
        QVERIFY(w->subWindow()->isVisible());
    }
};

VELMARIC_WINDOW_TEST_MAIN(tst_ToolsMenu)
#include "tst_toolsmenu.moc"
