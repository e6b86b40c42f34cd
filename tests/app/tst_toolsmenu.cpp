// Every Tools entry opens its one window, with its caption, frame and accessible controls.
#include "closedproxy.h"
#include "frmmain.h"
#include "messagebox.h"
#include "processenv.h"
#include "toolwindow.h"
#include "tools.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

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
    }
    void cleanupTestCase() { m_main.reset(); }

    void opensOneWindow_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QString>("caption");
        QTest::newRow("Route") << "mnuNorvoRoute"
                               << "frmNorvoRoute"
                               << "Trace Route";
        QTest::newRow("TCP Table") << "mnuTCPTable"
                                   << "frmTCPTable"
                                   << "TCP Table";
        QTest::newRow("TCP Stats") << "TCPStats"
                                   << "frmTCPStat"
                                   << "TCP Statistics";
        QTest::newRow("Resolve IP") << "ResolveIPAddress"
                                    << "frmNorvoIP"
                                    << "Resolve IP Address ";
        QTest::newRow("Resolve Host") << "ResolveHostName"
                                      << "frmNorvoHost"
                                      << "Resolve Host Name";
        QTest::newRow("Ping") << "mnuNorvoPing"
                              << "frmNorvoPing"
                              << "Ping";
        QTest::newRow("Options") << "mnuViewOptions"
                                 << "frmOptions"
                                 << "Options";
        QTest::newRow("Port Scanner") << "PortScanner"
                                      << "frmPortScan"
                                      << "Port Scanner";
    }
    void opensOneWindow()
    {
        QFETCH(QString, entry);
        QFETCH(QString, windowClass);
        QFETCH(QString, caption);
        QVERIFY2(m_main->tools().hasFactory(windowClass), "no window registered for this entry");
        auto *action = m_main->findChild<QAction *>(entry);
        QVERIFY(action);
        action->trigger();
        ToolWindow *w = m_main->tools().instance(windowClass);
        QVERIFY(w);
        QCOMPARE(QString::fromLatin1(w->metaObject()->className()), windowClass);
        QCOMPARE(w->subWindow()->windowTitle(), caption);
        QCOMPARE(m_main->mdiArea()->currentSubWindow(), w->subWindow());
        QVERIFY(!w->subWindow()->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!w->subWindow()->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(w->subWindow()->minimumSize(), w->subWindow()->maximumSize()); // fixed border

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

        // A second command shows the same window; after closing, it loads again.
        m_main->mdiArea()->setActiveSubWindow(nullptr);
        action->trigger();
        QCOMPARE(m_main->tools().instance(windowClass), w);
        QCOMPARE(m_main->mdiArea()->currentSubWindow(), w->subWindow());
        QVERIFY(w->subWindow()->close());
        action->trigger();
        QCOMPARE(m_main->tools().instance(windowClass), w);
        QVERIFY(w->isLoaded());
        QVERIFY(w->subWindow()->isVisible());
    }
};

int main(int argc, char **argv)
{
    keepPagesOffline();
    setupProcessEnvironment(argc, argv);
    QApplication app(argc, argv);
    tst_ToolsMenu t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_toolsmenu.moc"
