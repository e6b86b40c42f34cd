#include "frmaudio.h"
#include "twips.h"
#include "../peers/trayhost.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSystemTrayIcon>
#include <QtTest>

#include <memory>
#include <optional>

// The audio window's notification-area icon under a real tray host on a display of its own,
// clicked the way a user does (xdotool).
class tst_AudioTray : public QObject {
    Q_OBJECT

public:
    explicit tst_AudioTray(const QString &display) : m_display(display) {}

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
    void stopTray();
    void click(int repeat);
    QMdiSubWindow *open();

    QString m_display;
    std::optional<TrayHost> m_tray;
    std::unique_ptr<QMainWindow> m_main;
    std::unique_ptr<ToolWindowRegistry> m_registry;
    frmAudio *m_w = nullptr;
};

void tst_AudioTray::initTestCase()
{
    if (m_display.isEmpty())
        QSKIP("no display of the test's own (Xvfb missing)");
    if (QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("xdotool is not installed");
}

void tst_AudioTray::startTray()
{
    m_tray.emplace(m_display);
    if (!m_tray->error().isEmpty())
        QSKIP(qPrintable(m_tray->error()));
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 20000);
}

void tst_AudioTray::stopTray()
{
    m_tray.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), 20000);
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
    m_tray.reset();
}

// The window placed in its frame, as after the first pass of the event loop.
QMdiSubWindow *tst_AudioTray::open()
{
    m_w = m_registry->show<frmAudio>();
    QMdiSubWindow *sub = m_w->subWindow();
    if (!QTest::qWaitFor(
            [sub] { return sub->height() == Twips::toPixelsY(frmAudio::CompactHeight); }))
        qWarning("the window did not take its compact height");
    return sub;
}

void tst_AudioTray::click(int repeat)
{
    const QPoint at = m_w->trayIcon()->geometry().center();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", m_display);
    QProcess xdotool;
    xdotool.setProcessEnvironment(env);
    xdotool.start("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()),
                              "click", "--repeat", QString::number(repeat), "--delay", "80", "1"});
    QVERIFY(xdotool.waitForFinished(10000));
    QCOMPARE(xdotool.exitCode(), 0);
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
    QMdiSubWindow *sub = open();
    QCOMPARE(m_w->trayIcon()->toolTip(), QString("Tray Icon tip text"));
    QTRY_VERIFY_WITH_TIMEOUT(m_w->trayIcon()->geometry().isValid(), 20000); // embedded
    sub->showMinimized();
    QTRY_VERIFY(!sub->isVisible());
    // The host may still be placing the icon when it first reports a geometry: click again
    // where it now is until the window comes back.
    for (int attempt = 0; attempt < 5 && !sub->isVisible(); ++attempt) {
        click(clicks);
        if (QTest::qWaitFor([sub] { return sub->isVisible(); }, 2000))
            break;
    }
    QVERIFY(sub->isVisible());
    QVERIFY(!sub->isMinimized());
    QCOMPARE(sub->mdiArea()->activeSubWindow(), sub);
}

void tst_AudioTray::trayGoesAwayWhileHidden()
{
    startTray();
    QMdiSubWindow *sub = open();
    sub->showMinimized();
    QTRY_VERIFY(!sub->isVisible());
    stopTray();
    QTRY_VERIFY_WITH_TIMEOUT(sub->isVisible(), 10000);
    QVERIFY(!sub->isMinimized());
}

void tst_AudioTray::noTrayNoHiding()
{
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    QMdiSubWindow *sub = open();
    QSignalSpy stateChanged(sub, &QMdiSubWindow::windowStateChanged);
    sub->showMinimized();
    QTRY_VERIFY(!stateChanged.isEmpty());
    QCoreApplication::processEvents(); // the queued resize handler
    QVERIFY(sub->isMinimized());
    QVERIFY(sub->isVisible());
}

int main(int argc, char **argv)
{
    // The display must exist before the application connects to it.
    PrivateDisplay display;
    if (display.error().isEmpty()) {
        qputenv("DISPLAY", display.name().toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    QApplication app(argc, argv);
    tst_AudioTray test(display.error().isEmpty() ? display.name() : QString());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_audiotray.moc"
