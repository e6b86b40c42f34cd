#include "frmaudio.h"
#include "localpanes.h"
#include "mediaplayercontrol.h"
#include "msgboxrecorder.h"
#include "skip.h"
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
} // namespace

// The audio window inside a main window of its own, playing real MP3 files through the
// test environment's sound server; its notification-area icon under a real tray host on the
// test's own display, clicked the way a user does (xdotool); and velmaric-cli play on the same
// files.
class tst_frmAudio : public QObject {
    Q_OBJECT

    ToneMp3 m_mp3;
    QString m_dir; // the MP3 files' folder, as the panes show it
    std::unique_ptr<QMdiArea> m_main;
    std::unique_ptr<ToolWindowRegistry> m_registry;
    frmAudio *m_w = nullptr;
    QProcess m_trayer; // a notification area on the test's display
    MsgBoxRecorder m_boxes;

    // Shows the window and waits until it is placed in its frame.
    void open()
    {
        m_w = m_registry->show<frmAudio>();
        QTRY_COMPARE(m_w->subWindow()->height(), Twips::toPixelsY(frmAudio::CompactHeight));
    }
    QString shown() const { return m_w->Label1->text(); }
    // The person's way to the notification area: Ctrl+M while the player is active.
    void pressMinimise()
    {
        m_w->List1->setFocus();
        QTest::keyClick(m_w->List1, Qt::Key_M, Qt::ControlModifier);
    }
    QString paths() const { return m_w->Dir1->path() + '|' + m_w->File1->path(); }

private Q_SLOTS:
    void initTestCase()
    {
        if (!m_mp3.error().isEmpty())
            VELMARIC_SKIP(qPrintable(m_mp3.error()));
        for (const char *name : {"a.mp3", "b.mp3"})
            QVERIFY(!m_mp3.make(name, 0.15).isEmpty());
        QVERIFY(!m_mp3.make("c.mp3", 0.15, {"-V", "5"}).isEmpty()); // variable bit rate
        m_dir = QDir::cleanPath(m_mp3.dir());
        QFile broken(m_dir + "/broken.mp3");
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write(QByteArray(4096, 'Z')) == 4096);
    }

    void init()
    {
        m_boxes.reset();
        QFile::remove(UserSettings::filePath(App));
        UserSettings::SaveSetting(App, Section, "LastEntry", m_dir);
        m_main = std::make_unique<QMdiArea>();
        m_main->resize(1100, 800);
        m_main->show();
        m_registry = std::make_unique<ToolWindowRegistry>(m_main.get());
        m_registry->registerFactory("frmAudio", [] { return new frmAudio; });
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    }

    void cleanup()
    {
        m_registry.reset();
        m_main.reset();
        if (m_trayer.state() != QProcess::NotRunning) {
            m_trayer.kill();
            m_trayer.waitForFinished();
            QTRY_VERIFY_WITH_TIMEOUT(!QSystemTrayIcon::isSystemTrayAvailable(), 20000);
        }
    }

    void settings_data()
    {
        // The saved folder: "%1", the MP3 folder, is kept; any other gives the default one.
        QTest::addColumn<QString>("folder");
        QTest::addColumn<quint32>("expectedColour");
        QTest::addColumn<QString>("colour");
        QTest::newRow("kept") << "%1" << 255u << "255";
        QTest::newRow("vanished folder") << "/nonexistent/velmaric" << 65280u << "65280";
        QTest::newRow("original default") << "C:\\" << 0u << "0";
        QTest::newRow("colour not a number") << "%1" << 16711680u << "blue";
        QTest::newRow("colour too large") << "%1" << 16711680u << "99999999999";
    }

    void settings()
    {
        QFETCH(QString, folder);
        QFETCH(QString, colour);
        QFETCH(quint32, expectedColour);
        UserSettings::SaveSetting(App, Section, "LastEntry", QString(folder).replace("%1", m_dir));
        UserSettings::SaveSetting(App, Section, "BackColor", colour);
        open();
        const QString expected = folder == "%1" ? m_dir
                                                : QDir::cleanPath(frmAudio::defaultFolder());
        QCOMPARE(paths(), expected + '|' + expected);
        // The file pane follows the folder pane, and the folder is kept on closing.
        QVERIFY(m_w->Dir1->setPath(m_dir).isEmpty());
        QCOMPARE(m_w->File1->count(), 4);
        m_w->subWindow()->close();
        QCOMPARE(UserSettings::GetSetting(App, Section, "LastEntry"), m_dir);
        // Written as "Backcolor", read back as "BackColor": one key in the store.
        QCOMPARE(UserSettings::GetSetting(App, Section, "BackColor"),
                 QString::number(expectedColour));
        QFile ini(UserSettings::filePath(App));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(ini.readAll()).count("backcolor", Qt::CaseInsensitive), 1);
    }

    void panes()
    {
        open();
        QMdiSubWindow *sub = m_w->subWindow();
        m_w->cmdplay->click();
        QCOMPARE(sub->height(), Twips::toPixelsY(frmAudio::ExpandedHeight));
        // The label the program writes is read out as it changes.
        QTest::mousePress(m_w->Label4, Qt::RightButton, {}, QPoint(1, 0));
        QCOMPARE(QAccessible::queryAccessibleInterface(m_w->Label4)->text(QAccessible::Name),
                 QString("RIGHT BUTTON"));
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
        QCOMPARE(m_w->List1->count(), 3);
        m_w->List1->setCurrentRow(1);
        m_w->cmdRemove_Click();
        QCOMPARE(m_w->List1->item(1)->text(), m_dir + "/broken.mp3");
        m_w->Command8->click();
        QCOMPARE(sub->height(), Twips::toPixelsY(frmAudio::CompactHeight));
        // Hidden within reach: the lower right corner of the main window's client area.
        const QSize room = sub->mdiArea()->viewport()->size();
        QCOMPARE(sub->geometry().bottomRight(), QPoint(room.width() - 1, room.height() - 1));
        // A mount point that goes away is reported once and changes nothing; the next drive works.
        m_w->drv1->setDrive(m_dir + "/gone");
        const QString why = QString::fromLocal8Bit(std::strerror(ENOENT));
        QCOMPARE(m_boxes.lines(), QStringList{"0 Device Unavailable [" + why + ']'});
        QCOMPARE(paths(), m_dir + '|' + m_dir);
        m_w->drv1->setDrive("/");
        QCOMPARE(m_boxes.boxes.size(), 1);
        QCOMPARE(paths(), QString("/|/"));
        // Without a tray to come back from, a hidden window would be lost: nothing offers to
        // hide it, and it stays minimised.
        if (!QSystemTrayIcon::isSystemTrayAvailable()) {
            QVERIFY(!m_w->minimiseAction()->isVisible());
            pressMinimise();
            QVERIFY(sub->isVisible() && !sub->isMinimized());
            sub->showMinimized();
            QCoreApplication::processEvents(); // the queued resize handler
            QVERIFY(sub->isVisible() && sub->isMinimized());
        }
    }

    // Every opening is compact, whatever size the window had when it was closed.
    void reopen()
    {
        open();
        m_w->cmdplay->click();
        QCOMPARE(m_w->subWindow()->height(), Twips::toPixelsY(frmAudio::ExpandedHeight));
        m_w->subWindow()->close();
        open();
        QCoreApplication::processEvents();
        QCOMPARE(m_w->subWindow()->height(), Twips::toPixelsY(frmAudio::CompactHeight));
        // One Ctrl+M, however often the window was opened.
        QCOMPARE(m_w->findChildren<QAction *>("MinimiseToTray").size(), 1);
        QCOMPARE(m_w->subWindow()->systemMenu()->actions().count(m_w->minimiseAction()), 1);
    }

    // A screen reader names every control of the window and every entry of its window menu.
    void accessibleNames()
    {
        open();
        QStringList unnamed;
        for (QWidget *w : m_w->findChildren<QWidget *>()) {
            const auto *label = qobject_cast<QLabel *>(w);
            if (label ? label->text().isEmpty() : !w->focusPolicy())
                continue;
            const QAccessibleInterface *a = QAccessible::queryAccessibleInterface(w);
            if (!a || a->text(QAccessible::Name).trimmed().isEmpty())
                unnamed << w->metaObject()->className() + QString(' ') + w->objectName();
        }
        m_w->minimiseAction()->setVisible(true); // as while a tray exists
        QMenu *menu = m_w->subWindow()->systemMenu();
        QAccessibleInterface *items = QAccessible::queryAccessibleInterface(menu);
        QStringList names;
        for (int i = 0; i < items->childCount(); ++i)
            names << items->child(i)->text(QAccessible::Name);
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
        QVERIFY2(names.contains("Minimise to Tray"), qPrintable(names.join('|')));
    }

    void playback_data()
    {
        QTest::addColumn<QStringList>("entries"); // names without ".mp3"
        QTest::addColumn<int>("start");           // -1: a.mp3 from the file pane
        QTest::addColumn<int>("steps");           // files assigned, round the list from start
        QTest::addColumn<QString>("stopsWith");   // the line once it stops; "-": plays on
        QTest::newRow("pane file, empty list") << QStringList{} << -1 << 1 << "";
        QTest::newRow("wraps to the first") << QStringList{"a", "b"} << 1 << 2 << "-";
        QTest::newRow("one entry repeats") << QStringList{"b"} << 0 << 2 << "-";
        QTest::newRow("broken one skipped") << QStringList{"a", "broken", "c"} << 0 << 3 << "-";
        // A file played in between: the failed one is tried again and again.
        QTest::newRow("missing one skipped") << QStringList{"missing", "c"} << 0 << 4 << "-";
        QTest::newRow("all broken stop")
            << QStringList{"broken", "missing"} << 0 << 2 << "File not found";
        // Run in a child without a sound server where there is one: each entry fails at once,
        // and the window stops.
        QTest::newRow("no sound server") << QStringList{"a", "b"} << 0 << 2 << "No sound output";
    }

    void playback()
    {
        QFETCH(QStringList, entries);
        QFETCH(int, start);
        QFETCH(int, steps);
        QFETCH(QString, stopsWith);
        const QString tag = QTest::currentDataTag();
        if (tag == "no sound server" && MediaEngine::outputProblem().isEmpty()) {
            // A dead socket named outright: no server is spawned in its place.
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("PULSE_SERVER", "unix:" + m_dir + "/no-such-socket");
            QProcess child;
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            child.start(QCoreApplication::applicationFilePath(), {"playback:" + tag});
            QVERIFY(child.waitForFinished(60000) && child.exitStatus() == QProcess::NormalExit &&
                    child.exitCode() == 0);
            return;
        }
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
        // Each step on its own bound, beyond the stall watchdog's: a busy machine slows the
        // row down without failing it, and a step that never comes is named.
        for (int i = 0; i < steps; ++i) {
            QTRY_VERIFY2_WITH_TIMEOUT(started.size() > i, qPrintable(engine->errorText()), 20000);
            const QString name = start < 0 ? "a" : entries[(start + i) % entries.size()];
            QCOMPARE(started[i][0].toString(), m_dir + "/" + name + ".mp3");
        }
        if (stopsWith == "-") {
            QVERIFY2(shown().startsWith("Now Playing: " + m_dir + "/"), qPrintable(shown()));
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(ended.size(), steps, 20000);
            // Each end is handled in the pass after it arrives; give the last one its pass.
            QCoreApplication::processEvents();
            QCOMPARE(started.size(), steps);
            QCOMPARE(engine->playbackState(), MediaEngine::State::Stopped);
            // A failed file keeps saying why; a played one leaves the line empty.
            QCOMPARE(shown(), engine->errorText());
            QCOMPARE(shown().left(stopsWith.size()), stopsWith);
            // Stopped, the control offers to play again.
            auto *play = m_w->MediaPlayer1->findChild<QToolButton *>();
            QCOMPARE(play->accessibleName(), QString("Play"));
        }
        // What a screen reader reads of it.
        QCOMPARE(QAccessible::queryAccessibleInterface(m_w->Label1)->text(QAccessible::Name),
                 shown());
    }

    // velmaric-cli play: a "Now Playing: " line per file in order, the exit code, and the
    // error output.
    void cliPlay_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("err"); // in the error output; empty: no output at all
        QTest::newRow("one file") << QStringList{"c.mp3"} << 0 << "";
        QTest::newRow("missing file between two")
            << QStringList{"a.mp3", "gone.mp3", "c.mp3"} << 1 << "gone.mp3";
        QTest::newRow("not audio") << QStringList{"broken.mp3"} << 1 << "broken.mp3";
        QTest::newRow("no file") << QStringList{} << 2 << "Usage: velmaric-cli play FILE...";
        QTest::newRow("unknown option") << QStringList{"--loop", "c.mp3"} << 2 << "'--loop'";
    }

    void cliPlay()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, err);
        QString out;
        for (const QString &file : args)
            out += exitCode == 2 ? QString() : "Now Playing: " + file + '\n';
        QProcess cli;
        cli.setWorkingDirectory(m_dir);
        cli.start(QStringLiteral(VELMARIC_CLI_PATH), QStringList{"play"} + args);
        QVERIFY(cli.waitForFinished(60000) && cli.exitStatus() == QProcess::NormalExit);
        const QString stdErr = QString::fromLocal8Bit(cli.readAllStandardError());
        QCOMPARE(cli.exitCode(), exitCode);
        QCOMPARE(QString::fromLocal8Bit(cli.readAllStandardOutput()), out);
        QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.contains(err), qPrintable(stdErr));
    }

    void tray_data()
    {
        QTest::addColumn<int>("clicks");   // 0: the tray host goes away instead
        QTest::addColumn<QString>("hide"); // how the person minimises the window
        QTest::newRow("click") << 1 << "Ctrl+M";
        QTest::newRow("double-click") << 2 << "menu";
        QTest::newRow("tray gone") << 0 << "minimise";
    }

    void tray()
    {
        QFETCH(int, clicks);
        // A tray host may come and go only on a display of the test's own.
        if (!qEnvironmentVariableIsSet("VELMARIC_OWN_DISPLAY") ||
            (clicks && QStandardPaths::findExecutable("xdotool").isEmpty()))
            VELMARIC_SKIP("needs a display of its own (run through ctest) and xdotool");
        m_trayer.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request",
                                  "--height", "32", "--SetDockType", "true"});
        if (!m_trayer.waitForStarted(10000))
            VELMARIC_SKIP("trayer is not installed");
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 20000);
        open();
        QMdiSubWindow *sub = m_w->subWindow();
        QTRY_VERIFY_WITH_TIMEOUT(m_w->trayIcon()->geometry().isValid(), 20000); // embedded
        QFETCH(QString, hide);
        // Offered in the window's own menu, as long as there is a tray to hide in.
        QVERIFY(sub->systemMenu()->actions().contains(m_w->minimiseAction()));
        QVERIFY(m_w->minimiseAction()->isVisible());
        if (hide == "Ctrl+M")
            pressMinimise();
        else if (hide == "menu")
            m_w->minimiseAction()->trigger();
        else
            sub->showMinimized();
        QTRY_VERIFY(!sub->isVisible());
        if (!clicks)
            m_trayer.kill();
        // The host may still be placing the icon when it first reports a geometry: click again
        // where it now is until the window comes back.
        for (int attempt = 0; clicks && attempt < 5 && !sub->isVisible(); ++attempt) {
            const QPoint at = m_w->trayIcon()->geometry().center();
            const QString xdotool("mousemove %1 %2 click --repeat %3 --delay 80 1");
            QCOMPARE(QProcess::execute("xdotool",
                                       xdotool.arg(at.x()).arg(at.y()).arg(clicks).split(' ')),
                     0);
            if (QTest::qWaitFor([sub] { return sub->isVisible(); }, 2000))
                break;
        }
        QTRY_VERIFY_WITH_TIMEOUT(sub->isVisible(), 20000);
        QVERIFY(!sub->isMinimized());
        QCOMPARE(sub->mdiArea()->activeSubWindow(), sub);
    }
};

QTEST_MAIN(tst_frmAudio)
#include "tst_frmaudio.moc"
