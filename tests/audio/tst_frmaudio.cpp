#include "frmaudio.h"
#include "localpanes.h"
#include "mediaplayercontrol.h"
#include "messagebox.h"
#include "twips.h"
#include "usersettings.h"
#include "../peers/tonemp3.h"

#include <QtTest>
#include <QtWidgets>

#include <cstring>
#include <memory>

namespace {
const QString App = QStringLiteral("NorvoAudio");
const QString Section = QStringLiteral("Startup");

// What a screen reader reads of the label.
QString readable(QLabel *label)
{
    return QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name);
}
} // namespace

// The audio window inside a main window of its own, playing real MP3 files through the
// test environment's sound server; its notification-area icon under a real tray host on the
// test's own display, clicked the way a user does (xdotool).
class tst_frmAudio : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void settings_data();
    void settings();
    void playlist();
    void driveUnavailable();
    void playback_data();
    void playback();
    void noSoundServer();
    void noSoundServerChild();
    void trayRestores_data();
    void trayRestores();
    void noTrayNoHiding();

private:
    // Shows the window and waits until it is placed in its frame.
    void open();
    void startTray();
    void stopTray();
    QString shown() const { return m_w->Label1->text(); }

    ToneMp3 m_mp3;
    QString m_dir; // the MP3 files' folder, as the panes show it
    std::unique_ptr<QMdiArea> m_main;
    std::unique_ptr<ToolWindowRegistry> m_registry;
    frmAudio *m_w = nullptr;
    QProcess m_trayer;   // a notification area on the test's display
    QStringList m_boxes; // "text|style|title" of each message box
};

void tst_frmAudio::initTestCase()
{
    if (!m_mp3.error().isEmpty())
        QSKIP(qPrintable(m_mp3.error()));
    for (const char *name : {"a.mp3", "b.mp3", "c.mp3"})
        QVERIFY(!m_mp3.make(name, 0.3).isEmpty());
    m_dir = QDir::cleanPath(m_mp3.dir());
    QFile broken(m_dir + "/broken.mp3");
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(QByteArray(4096, 'Z')) == 4096);
    setMsgBoxHandler([this](const QString &text, int style, const QString &title) {
        m_boxes << text + '|' + QString::number(style) + '|' + title;
        return int(vbOK);
    });
}

void tst_frmAudio::init()
{
    m_boxes.clear();
    QFile::remove(UserSettings::filePath(App));
    UserSettings::SaveSetting(App, Section, "LastEntry", m_dir);
    m_main = std::make_unique<QMdiArea>();
    m_main->resize(1100, 800);
    m_main->show();
    m_registry = std::make_unique<ToolWindowRegistry>(m_main.get());
    m_registry->registerFactory("frmAudio", [] { return new frmAudio; });
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
}

void tst_frmAudio::cleanup()
{
    m_registry.reset();
    m_main.reset();
    if (m_trayer.state() != QProcess::NotRunning) {
        stopTray();
        QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), 20000);
    }
}

void tst_frmAudio::open()
{
    m_w = m_registry->show<frmAudio>();
    QTRY_COMPARE(m_w->subWindow()->height(), Twips::toPixelsY(frmAudio::CompactHeight));
}

void tst_frmAudio::settings_data()
{
    QTest::addColumn<QString>("folder");  // saved; "%1" stands for the MP3 folder
    QTest::addColumn<bool>("folderKept"); // else the default folder
    QTest::addColumn<QString>("colour");
    QTest::addColumn<quint32>("expectedColour");
    QTest::newRow("kept") << "%1" << true << "255" << 255u;
    QTest::newRow("vanished folder") << "/nonexistent/velmaric" << false << "65280" << 65280u;
    QTest::newRow("original default") << "C:\\" << false << "0" << 0u;
    QTest::newRow("colour not a number") << "%1" << true << "blue" << 16711680u;
    QTest::newRow("colour too large") << "%1" << true << "99999999999" << 16711680u;
}

void tst_frmAudio::settings()
{
    QFETCH(QString, folder);
    QFETCH(bool, folderKept);
    QFETCH(QString, colour);
    QFETCH(quint32, expectedColour);
    UserSettings::SaveSetting(App, Section, "LastEntry", folder.replace("%1", m_dir));
    UserSettings::SaveSetting(App, Section, "BackColor", colour);
    open();
    const QString expected = folderKept ? m_dir : QDir::cleanPath(frmAudio::defaultFolder());
    QCOMPARE(m_w->File1->path(), expected);
    QCOMPARE(m_w->Dir1->path(), expected);
    QCOMPARE(m_w->File1->palette().color(QPalette::Base), frmAudio::vbColor(expectedColour));
    // The file pane follows the folder pane, and the folder is kept on closing.
    QVERIFY(m_w->Dir1->setPath(m_dir).isEmpty());
    QCOMPARE(m_w->File1->count(), 4);
    m_w->subWindow()->close();
    QVERIFY(!m_w->trayIcon());
    QCOMPARE(UserSettings::GetSetting(App, Section, "LastEntry"), m_dir);
    // Written as "Backcolor", read back as "BackColor": one key in the store.
    QCOMPARE(UserSettings::GetSetting(App, Section, "BackColor"), QString::number(expectedColour));
    QFile ini(UserSettings::filePath(App));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(ini.readAll()).count("backcolor", Qt::CaseInsensitive), 1);
}

void tst_frmAudio::playlist()
{
    open();
    QMdiSubWindow *sub = m_w->subWindow();
    m_w->cmdplay->click();
    QCOMPARE(sub->height(), Twips::toPixelsY(frmAudio::ExpandedHeight));
    // The label the program writes is read out as it changes.
    QTest::mousePress(m_w->Label4, Qt::RightButton, {}, QPoint(1, 0));
    QCOMPARE(readable(m_w->Label4), QString("RIGHT BUTTON"));
    // Nothing selected: Add and Remove do nothing.
    m_w->File1->setCurrentRow(-1);
    m_w->cmdAdd_Click();
    QCOMPARE(m_w->List1->count(), 0);
    m_w->File1->setCurrentRow(0); // a.mp3
    m_w->cmdAdd_Click();
    m_w->cmdAdd_Click();
    // The file menu adds the file under the pointer.
    m_w->File1_MouseDown(m_w->File1->visualItemRect(m_w->File1->item(2)).center());
    auto *menu = m_w->File1->findChild<QMenu *>();
    QTRY_VERIFY(menu->isVisible());
    menu->actions().at(1)->trigger();
    menu->hide();
    m_w->List1->setCurrentRow(-1);
    m_w->cmdRemove_Click();
    QStringList entries;
    for (int i = 0; i < m_w->List1->count(); ++i)
        entries << m_w->List1->item(i)->text();
    QCOMPARE(entries, (QStringList{m_dir + "/a.mp3", m_dir + "/a.mp3", m_dir + "/broken.mp3"}));
    m_w->List1->setCurrentRow(1);
    m_w->cmdRemove_Click();
    QCOMPARE(m_w->List1->item(1)->text(), m_dir + "/broken.mp3");
    m_w->Command8->click();
    QCOMPARE(sub->height(), Twips::toPixelsY(frmAudio::CompactHeight));
    // Hidden within reach: the lower right corner of the main window's client area.
    const QSize room = sub->mdiArea()->viewport()->size();
    QCOMPARE(sub->geometry().bottomRight(), QPoint(room.width() - 1, room.height() - 1));
}

void tst_frmAudio::driveUnavailable()
{
    open();
    m_w->drv1->setDrive(m_dir + "/gone"); // a mount point that has gone away
    QCOMPARE(m_boxes,
             QStringList{"Device Unavailable|0|" + QString::fromLocal8Bit(std::strerror(ENOENT))});
    QCOMPARE(m_w->File1->path(), m_dir);
    QCOMPARE(m_w->Dir1->path(), m_dir);
    m_w->drv1->setDrive("/");
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_w->File1->path(), QString("/"));
    QCOMPARE(m_w->Dir1->path(), QString("/"));
}

void tst_frmAudio::playback_data()
{
    QTest::addColumn<QStringList>("entries");  // names without ".mp3"
    QTest::addColumn<int>("start");            // -1: a.mp3 from the file pane
    QTest::addColumn<QStringList>("expected"); // what is assigned, in order
    QTest::addColumn<bool>("stops");
    QTest::newRow("pane file, empty list") << QStringList{} << -1 << QStringList{"a"} << true;
    QTest::newRow("wraps to the first")
        << QStringList{"a", "b", "c"} << 1 << QStringList{"b", "c", "a", "b"} << false;
    QTest::newRow("one entry repeats")
        << QStringList{"b"} << 0 << QStringList{"b", "b", "b"} << false;
    QTest::newRow("broken one skipped")
        << QStringList{"a", "broken", "c"} << 0 << QStringList{"a", "broken", "c", "a"} << false;
    QTest::newRow("missing one skipped")
        << QStringList{"missing", "c"} << 0 << QStringList{"missing", "c", "missing", "c"} << false;
    QTest::newRow("all broken stop")
        << QStringList{"broken", "missing"} << 0 << QStringList{"broken", "missing"} << true;
}

void tst_frmAudio::playback()
{
    QFETCH(QStringList, entries);
    QFETCH(int, start);
    QFETCH(QStringList, expected);
    QFETCH(bool, stops);
    open();
    for (const QString &e : entries)
        m_w->List1->addItem(m_dir + "/" + e + ".mp3");
    MediaEngine *engine = m_w->MediaPlayer1->engine();
    QSignalSpy started(engine, &MediaEngine::fileNameChanged);
    QSignalSpy ended(engine, &MediaEngine::endOfStream);
    if (start < 0) {
        m_w->File1->setCurrentRow(0); // a.mp3
        m_w->File1_DblClick();
        QCOMPARE(shown(), QString("Now Playing: a.mp3"));
    } else {
        m_w->List1->setCurrentRow(start);
        m_w->List1_DblClick();
    }
    QTRY_VERIFY_WITH_TIMEOUT(started.size() >= expected.size(), 40000);
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(started[i][0].toString(), m_dir + "/" + expected[i] + ".mp3");
    if (stops) {
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), expected.size(), 10000);
        // Each end is handled in the pass after it arrives; give the last one its pass.
        QCoreApplication::processEvents();
        QCOMPARE(started.size(), expected.size());
        QCOMPARE(engine->playbackState(), MediaEngine::State::Stopped);
        // A failed file keeps saying why; a played one leaves the line empty.
        QCOMPARE(shown(), engine->errorText());
    } else {
        QVERIFY2(shown().startsWith("Now Playing: " + m_dir + "/"), qPrintable(shown()));
    }
    QCOMPARE(readable(m_w->Label1), shown());
}

// The same window in a child process whose sound server is a dead socket.
void tst_frmAudio::noSoundServer()
{
    QTemporaryDir dir;
    QFile conf(dir.filePath("client.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write("autospawn = no\n") > 0 && conf.flush());
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PULSE_SERVER", "unix:" + dir.filePath("no-such-socket"));
    env.insert("PULSE_CLIENTCONFIG", conf.fileName());
    env.insert("VELMARIC_NO_SOUND_CHILD", "1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {"noSoundServerChild"});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
}

void tst_frmAudio::noSoundServerChild()
{
    if (qEnvironmentVariableIsEmpty("VELMARIC_NO_SOUND_CHILD"))
        QSKIP("runs in the child of noSoundServer");
    open();
    m_w->List1->addItems({m_dir + "/a.mp3", m_dir + "/b.mp3"});
    m_w->List1->setCurrentRow(0);
    m_w->List1_DblClick();
    QTRY_VERIFY(shown().startsWith("No sound output"));
    QCOMPARE(readable(m_w->Label1), shown());
    // On to the next entry, and the rest of the window still works.
    QTRY_COMPARE(m_w->List1->currentRow(), 1);
    QCOMPARE(m_w->MediaPlayer1->engine()->playbackState(), MediaEngine::State::Stopped);
    m_w->cmdplay->click();
    QCOMPARE(m_w->subWindow()->height(), Twips::toPixelsY(frmAudio::ExpandedHeight));
}

// A tray host may come and go only on a display of the test's own.
void tst_frmAudio::startTray()
{
    if (!qEnvironmentVariableIsSet("VELMARIC_OWN_DISPLAY"))
        QSKIP("needs a display of its own (run through ctest)");
    m_trayer.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request",
                              "--height", "32", "--SetDockType", "true"});
    if (!m_trayer.waitForStarted(10000))
        QSKIP("trayer is not installed");
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 20000);
}

void tst_frmAudio::stopTray()
{
    m_trayer.kill();
    m_trayer.waitForFinished();
}

void tst_frmAudio::trayRestores_data()
{
    QTest::addColumn<int>("clicks"); // 0: the tray host goes away instead
    QTest::newRow("click") << 1;
    QTest::newRow("double-click") << 2;
    QTest::newRow("tray gone") << 0;
}

void tst_frmAudio::trayRestores()
{
    QFETCH(int, clicks);
    if (clicks && QStandardPaths::findExecutable("xdotool").isEmpty())
        QSKIP("xdotool is not installed");
    startTray();
    open();
    QMdiSubWindow *sub = m_w->subWindow();
    QTRY_VERIFY_WITH_TIMEOUT(m_w->trayIcon()->geometry().isValid(), 20000); // embedded
    sub->showMinimized();
    QTRY_VERIFY(!sub->isVisible());
    if (!clicks)
        stopTray();
    // The host may still be placing the icon when it first reports a geometry: click again
    // where it now is until the window comes back.
    for (int attempt = 0; clicks && attempt < 5 && !sub->isVisible(); ++attempt) {
        const QPoint at = m_w->trayIcon()->geometry().center();
        QCOMPARE(QProcess::execute("xdotool", {"mousemove", QString::number(at.x()),
                                               QString::number(at.y()), "click", "--repeat",
                                               QString::number(clicks), "--delay", "80", "1"}),
                 0);
        if (QTest::qWaitFor([sub] { return sub->isVisible(); }, 2000))
            break;
    }
    QTRY_VERIFY_WITH_TIMEOUT(sub->isVisible(), 20000);
    QVERIFY(!sub->isMinimized());
    QCOMPARE(sub->mdiArea()->activeSubWindow(), sub);
}

void tst_frmAudio::noTrayNoHiding()
{
    if (QSystemTrayIcon::isSystemTrayAvailable())
        QSKIP("the display has a notification area");
    open();
    QMdiSubWindow *sub = m_w->subWindow();
    sub->showMinimized();
    QTRY_VERIFY(sub->isMinimized());
    QCoreApplication::processEvents(); // the queued resize handler
    QVERIFY(sub->isVisible());
}

QTEST_MAIN(tst_frmAudio)
#include "tst_frmaudio.moc"
