#include "frmaudio.h"
#include "twips.h"
#include "../peers/trayhost.h"

#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSystemTrayIcon>
#include <QtTest>

#include <memory>
#include <optional>

// The audio window's notification-area icon under a real tray host, clicked the way a user
// does (xdotool). The tray host comes and goes on the test's own display.
class tst_AudioTray : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void clickRestores_data();
    void clickRestores();
    void trayGoesAwayWhileHidden();
    void noTrayNoHiding();

private:
    void startTray();
    // Opens the window, placed in its frame, and minimises it.
    void openMinimised();

    std::optional<TrayHost> m_tray;
    std::unique_ptr<QMainWindow> m_main;
    std::unique_ptr<ToolWindowRegistry> m_registry;
    frmAudio *m_w = nullptr;
    QMdiSubWindow *m_sub = nullptr;
};

void tst_AudioTray::initTestCase()
{
    if (!qEnvironmentVariableIsSet("VELMARIC_OWN_DISPLAY"))
        QSKIP("needs a display of its own (run through ctest)");
    if (QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("xdotool is not installed");
}

void tst_AudioTray::startTray()
{
    m_tray.emplace();
    if (!m_tray->error().isEmpty())
        QSKIP(qPrintable(m_tray->error()));
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 20000);
}

void tst_AudioTray::init()
{
    m_main = std::make_unique<QMainWindow>();
    auto *area = new QMdiArea;
    m_main->setCentralWidget(area);
    m_main->resize(1000, 700);
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    m_registry = std::make_unique<ToolWindowRegistry>(area);
    m_registry->registerFactory("frmAudio", [] { return new frmAudio; });
}

void tst_AudioTray::cleanup()
{
    m_registry.reset();
    m_main.reset();
    if (m_tray) {
        m_tray.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), 20000);
    }
}

void tst_AudioTray::openMinimised()
{
    m_w = m_registry->show<frmAudio>();
    m_sub = m_w->subWindow();
    QTRY_COMPARE(m_sub->height(), Twips::toPixelsY(frmAudio::CompactHeight));
    m_sub->showMinimized();
}

void tst_AudioTray::clickRestores_data()
{
    QTest::addColumn<int>("clicks");
    QTest::newRow("click") << 1;
    QTest::newRow("double-click") << 2;
}

void tst_AudioTray::clickRestores()
{
    QFETCH(int, clicks);
    startTray();
    openMinimised();
    QTRY_VERIFY_WITH_TIMEOUT(m_w->trayIcon()->geometry().isValid(), 20000); // embedded
    QTRY_VERIFY(!m_sub->isVisible());
    // The host may still be placing the icon when it first reports a geometry: click again
    // where it now is until the window comes back.
    for (int attempt = 0; attempt < 5 && !m_sub->isVisible(); ++attempt) {
        const QPoint at = m_w->trayIcon()->geometry().center();
        QCOMPARE(QProcess::execute("xdotool", {"mousemove", QString::number(at.x()),
                                               QString::number(at.y()), "click", "--repeat",
                                               QString::number(clicks), "--delay", "80", "1"}),
                 0);
        if (QTest::qWaitFor([this] { return m_sub->isVisible(); }, 2000))
            break;
    }
    QVERIFY(m_sub->isVisible());
    QVERIFY(!m_sub->isMinimized());
    QCOMPARE(m_sub->mdiArea()->activeSubWindow(), m_sub);
}

void tst_AudioTray::trayGoesAwayWhileHidden()
{
    startTray();
    openMinimised();
    QTRY_VERIFY(!m_sub->isVisible());
    m_tray.reset();
    QTRY_VERIFY_WITH_TIMEOUT(m_sub->isVisible(), 20000);
    QVERIFY(!m_sub->isMinimized());
}

void tst_AudioTray::noTrayNoHiding()
{
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    openMinimised();
    QTRY_VERIFY(m_sub->isMinimized());
    QCoreApplication::processEvents(); // the queued resize handler
    QVERIFY(m_sub->isVisible());
}

QTEST_MAIN(tst_AudioTray)
#include "tst_audiotray.moc"
