#include "frmaudio.h"
#include "mediaplayercontrol.h"
#include "messagebox.h"
#include "localpanes.h"
#include "twips.h"
#include "usersettings.h"
#include "../peers/tonemp3.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {
const QString App = QStringLiteral("NorvoAudio");
const QString Section = QStringLiteral("Startup");

struct MsgCall {
    QString text;
    int style;
    QString title;
};
} // namespace

// The audio window inside a main window of its own, playing real MP3 files through the
// test environment's sound server.
class tst_frmAudio : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void firstOpening();
    void settingsKept();
    void fallbacks_data();
    void fallbacks();
    void heights();
    void label4_data();
    void label4();
    void editing();
    void fileMenu();
    void driveUnavailable();
    void playlistRepeats_data();
    void playlistRepeats();
    void paneFileThenEmptyList();
    void brokenEntries_data();
    void brokenEntries();
    void noSoundServer();
    void noSoundServerChild();

private:
    frmAudio *open();
    void close();
    void selectFile(const QString &name);
    void addEntry(const QString &name);
    QString shown() const { return m_w->Label1->text(); }

    std::unique_ptr<ToneMp3> m_mp3;
    std::unique_ptr<QMainWindow> m_main;
    std::unique_ptr<ToolWindowRegistry> m_registry;
    frmAudio *m_w = nullptr;
    QList<MsgCall> m_boxes;
};

void tst_frmAudio::initTestCase()
{
    m_mp3 = std::make_unique<ToneMp3>();
    if (!m_mp3->error().isEmpty())
        QSKIP(qPrintable(m_mp3->error()));
    QVERIFY(!m_mp3->make("a.mp3", 0.3).isEmpty());
    QVERIFY(!m_mp3->make("b.mp3", 0.3, {"-V", "4"}).isEmpty());
    QVERIFY(!m_mp3->make("c.mp3", 0.3).isEmpty());
    QFile broken(m_mp3->dir() + "/broken.mp3");
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(QByteArray(4096, '\x5a'));
    setMsgBoxHandler([this](const QString &text, int style, const QString &title) {
        m_boxes << MsgCall{text, style, title};
        return int(vbOK);
    });
}

void tst_frmAudio::init()
{
    m_boxes.clear();
    QFile::remove(UserSettings::filePath(App));
    m_main = std::make_unique<QMainWindow>();
    auto *area = new QMdiArea;
    m_main->setCentralWidget(area);
    m_main->resize(1100, 800);
    m_main->show();
    m_registry = std::make_unique<ToolWindowRegistry>(area);
    m_registry->registerFactory("frmAudio", [] { return new frmAudio; });
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
}

void tst_frmAudio::cleanup()
{
    m_registry.reset();
    m_main.reset();
    m_w = nullptr;
}

frmAudio *tst_frmAudio::open()
{
    m_w = m_registry->show<frmAudio>();
    return m_w;
}

void tst_frmAudio::close() { m_w->subWindow()->close(); }

void tst_frmAudio::selectFile(const QString &name)
{
    const auto found = m_w->File1->findItems(name, Qt::MatchExactly);
    QVERIFY2(!found.isEmpty(), qPrintable(name));
    m_w->File1->setCurrentItem(found.first());
}

void tst_frmAudio::addEntry(const QString &name)
{
    selectFile(name);
    m_w->cmdAdd_Click();
}

void tst_frmAudio::firstOpening()
{
    open();
    QCOMPARE(m_w->windowTitle(), QString("NorvoAudio"));
    QCOMPARE(m_w->File1->path(), QDir::cleanPath(frmAudio::defaultFolder()));
    QCOMPARE(m_w->Dir1->path(), m_w->File1->path());
    QCOMPARE(m_w->File1->palette().color(QPalette::Base), QColor(0, 0, 255));
    QTRY_COMPARE(m_w->subWindow()->height(), Twips::toPixelsY(frmAudio::CompactHeight));
    const QSize main = m_main->frameGeometry().size();
    QTRY_COMPARE(m_w->subWindow()->pos(),
                 QPoint(main.width() - m_w->subWindow()->width(),
                        main.height() - m_w->subWindow()->height() - Twips::toPixelsY(450)));
    QVERIFY(m_w->trayIcon());
    QCOMPARE(m_w->trayIcon()->toolTip(), QString("Tray Icon tip text"));
}

void tst_frmAudio::settingsKept()
{
    UserSettings::SaveSetting(App, Section, "BackColor", "255");
    open();
    QVERIFY(m_w->Dir1->setPath(m_mp3->dir()).isEmpty());
    QCOMPARE(m_w->File1->path(), QDir::cleanPath(m_mp3->dir()));
    close();
    QVERIFY(!m_w->trayIcon());
    QCOMPARE(UserSettings::GetSetting(App, Section, "Backup"), QDir::cleanPath(m_mp3->dir()));
    // Written as "Backcolor", read back as "BackColor": one key in the store.
    QCOMPARE(UserSettings::GetSetting(App, Section, "BackColor"), QString("255"));
    QFile ini(UserSettings::filePath(App));
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(ini.readAll()).count("backcolor", Qt::CaseInsensitive), 1);

    open();
    QCOMPARE(m_w->File1->path(), QDir::cleanPath(m_mp3->dir()));
    QCOMPARE(m_w->Dir1->path(), m_w->File1->path());
    QCOMPARE(m_w->File1->palette().color(QPalette::Base), QColor(255, 0, 0));
    QCOMPARE(m_w->File1->count(), 4);
}

void tst_frmAudio::fallbacks_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<quint32>("expectedColour");
    QTest::newRow("vanished folder") << "/nonexistent/velmaric"
                                     << "65280" << 65280u;
    QTest::newRow("colour not a number") << ""
                                         << "blue" << 16711680u;
    QTest::newRow("colour too large") << ""
                                      << "99999999999" << 16711680u;
    QTest::newRow("original default") << "C:\\"
                                      << "0" << 0u;
}

void tst_frmAudio::fallbacks()
{
    QFETCH(QString, folder);
    QFETCH(QString, colour);
    QFETCH(quint32, expectedColour);
    if (!folder.isEmpty())
        UserSettings::SaveSetting(App, Section, "LastEntry", folder);
    UserSettings::SaveSetting(App, Section, "BackColor", colour);
    open();
    QCOMPARE(m_w->File1->path(), QDir::cleanPath(frmAudio::defaultFolder()));
    QCOMPARE(m_w->fileBackColor(), expectedColour);
    QCOMPARE(m_w->File1->palette().color(QPalette::Base), frmAudio::vbColor(expectedColour));
}

void tst_frmAudio::heights()
{
    open();
    QMdiSubWindow *sub = m_w->subWindow();
    QTRY_COMPARE(sub->height(), Twips::toPixelsY(frmAudio::CompactHeight));
    m_w->cmdplay->click();
    QCOMPARE(sub->height(), Twips::toPixelsY(frmAudio::ExpandedHeight));
    QCOMPARE(sub->y(), m_main->frameGeometry().height() - sub->height() - Twips::toPixelsY(450));
    m_w->Command8->click();
    QCOMPARE(sub->height(), Twips::toPixelsY(frmAudio::CompactHeight));
    // Within reach: the lower right corner of the main window's client area.
    const QSize room = sub->mdiArea()->viewport()->size();
    QCOMPARE(sub->geometry().bottomRight(), QPoint(room.width() - 1, room.height() - 1));
    QVERIFY(sub->isVisible());
}

void tst_frmAudio::label4_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QString>("text");
    QTest::newRow("left") << Qt::LeftButton << "LEFT BUTTON";
    QTest::newRow("right") << Qt::RightButton << "RIGHT BUTTON";
    QTest::newRow("middle") << Qt::MiddleButton << "EXTRA BUTTONS";
}

void tst_frmAudio::label4()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(QString, text);
    open();
    QTest::mousePress(m_w->Label4, button, {}, QPoint(1, 0));
    QCOMPARE(m_w->Label4->text(), text);
    QCOMPARE(m_w->Label4->accessibleName(), text);
}

void tst_frmAudio::editing()
{
    UserSettings::SaveSetting(App, Section, "LastEntry", m_mp3->dir());
    open();
    m_w->File1->setCurrentRow(-1);
    m_w->cmdAdd_Click();
    QCOMPARE(m_w->List1->count(), 0);

    addEntry("a.mp3");
    addEntry("a.mp3");
    addEntry("b.mp3");
    QCOMPARE(m_w->List1->count(), 3);
    const QString a = QDir::cleanPath(m_mp3->dir()) + "/a.mp3";
    QCOMPARE(m_w->List1->item(0)->text(), a);
    QCOMPARE(m_w->List1->item(1)->text(), a);

    m_w->List1->setCurrentRow(-1);
    m_w->cmdRemove_Click();
    QCOMPARE(m_w->List1->count(), 3);
    m_w->List1->setCurrentRow(1);
    m_w->cmdRemove_Click();
    QCOMPARE(m_w->List1->count(), 2);
    QCOMPARE(m_w->List1->item(0)->text(), a);
    QVERIFY(m_w->List1->item(1)->text().endsWith("/b.mp3"));
    m_w->cmdClear->click();
    QCOMPARE(m_w->List1->count(), 0);
}

void tst_frmAudio::fileMenu()
{
    UserSettings::SaveSetting(App, Section, "LastEntry", m_mp3->dir());
    open();
    const QRect row = m_w->File1->visualItemRect(m_w->File1->item(1));
    m_w->File1_MouseDown(row.center());
    auto *menu = m_w->File1->findChild<QMenu *>();
    QVERIFY(menu);
    QTRY_VERIFY(menu->isVisible());
    const auto actions = menu->actions();
    QCOMPARE(actions.size(), 2);
    QCOMPARE(actions[0]->text(), QString("Play"));
    QCOMPARE(actions[1]->text(), QString("Add to Playlist"));
    actions[1]->trigger();
    menu->hide();
    QCOMPARE(m_w->List1->count(), 1);
    QCOMPARE(m_w->List1->item(0)->text(), m_w->File1->path() + "/" + m_w->File1->item(1)->text());
}

void tst_frmAudio::driveUnavailable()
{
    UserSettings::SaveSetting(App, Section, "LastEntry", m_mp3->dir());
    open();
    const QString before = m_w->File1->path();
    // A mount point that has gone away.
    QString gone;
    {
        QTemporaryDir dir;
        gone = dir.path();
    }
    m_w->drv1->setDrive(gone);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].text, QString("Device Unavailable"));
    QCOMPARE(m_boxes[0].style, int(vbOKOnly));
    QCOMPARE(m_boxes[0].title, QString::fromLocal8Bit(std::strerror(ENOENT)));
    QCOMPARE(m_w->File1->path(), before);
    QCOMPARE(m_w->Dir1->path(), before);
    QCOMPARE(m_w->drv1->drive(), gone);

    m_boxes.clear();
    m_w->drv1->setDrive("/");
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(m_w->File1->path(), QString("/"));
    QCOMPARE(m_w->Dir1->path(), QString("/"));
}

void tst_frmAudio::playlistRepeats_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("start");
    QTest::addColumn<QStringList>("expected"); // what plays next, in order
    QTest::newRow("second, third, first") << QStringList{"a.mp3", "b.mp3", "c.mp3"} << 1
                                          << QStringList{"b.mp3", "c.mp3", "a.mp3", "b.mp3"};
    QTest::newRow("one entry repeats")
        << QStringList{"b.mp3"} << 0 << QStringList{"b.mp3", "b.mp3", "b.mp3"};
}

void tst_frmAudio::playlistRepeats()
{
    QFETCH(QStringList, entries);
    QFETCH(int, start);
    QFETCH(QStringList, expected);
    UserSettings::SaveSetting(App, Section, "LastEntry", m_mp3->dir());
    open();
    for (const QString &e : entries)
        addEntry(e);
    QSignalSpy started(m_w->MediaPlayer1->engine(), &MediaEngine::fileNameChanged);
    QSignalSpy playing(m_w->MediaPlayer1->engine(), &MediaEngine::playbackStateChanged);
    m_w->List1->setCurrentRow(start);
    m_w->List1_DblClick();
    QTRY_VERIFY_WITH_TIMEOUT(started.size() >= expected.size(), 40000);
    for (int i = 0; i < expected.size(); ++i)
        QVERIFY2(started[i][0].toString().endsWith("/" + expected[i]),
                 qPrintable(started[i][0].toString()));
    QVERIFY(m_w->MediaPlayer1->engine()->errorText().isEmpty());
    QVERIFY(playing.count() >= expected.size());
    QVERIFY(shown().startsWith("Now Playing: " + QDir::cleanPath(m_mp3->dir()) + "/"));
    QCOMPARE(m_w->Label1->accessibleName(), shown());
}

void tst_frmAudio::paneFileThenEmptyList()
{
    UserSettings::SaveSetting(App, Section, "LastEntry", m_mp3->dir());
    open();
    MediaEngine *engine = m_w->MediaPlayer1->engine();
    QSignalSpy ended(engine, &MediaEngine::endOfStream);
    QSignalSpy started(engine, &MediaEngine::fileNameChanged);
    selectFile("a.mp3");
    m_w->File1_DblClick();
    QCOMPARE(engine->fileName(), QDir::cleanPath(m_mp3->dir()) + "/a.mp3");
    QCOMPARE(shown(), QString("Now Playing: a.mp3"));
    QTRY_COMPARE(engine->playbackState(), MediaEngine::State::Playing);
    QVERIFY(ended.wait(10000));
    QCOMPARE(ended[0][0].toInt(), 0);
    QCOMPARE(shown(), QString());
    QCOMPARE(m_w->MediaPlayer1->CurrentPosition(), 0.0);
    QCOMPARE(started.size(), 1);
    QCOMPARE(engine->playbackState(), MediaEngine::State::Stopped);
}

void tst_frmAudio::brokenEntries_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("expected"); // what is assigned, in order, from the first entry
    QTest::addColumn<bool>("stops");
    QTest::newRow("broken one skipped")
        << QStringList{"a.mp3", "broken.mp3", "c.mp3"}
        << QStringList{"a.mp3", "broken.mp3", "c.mp3", "a.mp3"} << false;
    QTest::newRow("missing one skipped")
        << QStringList{"missing.mp3", "c.mp3"}
        << QStringList{"missing.mp3", "c.mp3", "missing.mp3", "c.mp3"} << false;
    QTest::newRow("all broken stop") << QStringList{"broken.mp3", "missing.mp3"}
                                     << QStringList{"broken.mp3", "missing.mp3"} << true;
}

void tst_frmAudio::brokenEntries()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, expected);
    QFETCH(bool, stops);
    open();
    const QString dir = QDir::cleanPath(m_mp3->dir());
    for (const QString &e : entries)
        m_w->List1->addItem(dir + "/" + e);
    MediaEngine *engine = m_w->MediaPlayer1->engine();
    QSignalSpy started(engine, &MediaEngine::fileNameChanged);
    QSignalSpy ended(engine, &MediaEngine::endOfStream);
    m_w->List1->setCurrentRow(0);
    m_w->List1_DblClick();
    QTRY_VERIFY_WITH_TIMEOUT(started.size() >= expected.size(), 40000);
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(started[i][0].toString(), dir + "/" + expected[i]);
    if (stops) {
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), expected.size(), 10000);
        // Each end is handled in the pass after it arrives; give the last one its pass.
        QCoreApplication::processEvents();
        QCOMPARE(started.size(), expected.size());
        QVERIFY(!engine->errorText().isEmpty());
        QCOMPARE(shown(), engine->errorText());
        QCOMPARE(engine->playbackState(), MediaEngine::State::Stopped);
    }
}

// The same window in a child process whose sound server is a dead socket.
void tst_frmAudio::noSoundServer()
{
    QTemporaryDir dir;
    QFile conf(dir.filePath("client.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("autospawn = no\n");
    conf.close();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PULSE_SERVER", "unix:" + dir.filePath("no-such-socket"));
    env.insert("PULSE_CLIENTCONFIG", conf.fileName());
    env.insert("VELMARIC_NO_SOUND_CHILD", m_mp3->dir() + "/a.mp3");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(), {"noSoundServerChild"});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
}

void tst_frmAudio::noSoundServerChild()
{
    const QString file = qEnvironmentVariable("VELMARIC_NO_SOUND_CHILD");
    if (file.isEmpty())
        QSKIP("runs in the child of noSoundServer");
    open();
    m_w->List1->addItem(file);
    m_w->List1->addItem(file);
    m_w->List1->setCurrentRow(0);
    m_w->List1_DblClick();
    QTRY_VERIFY(shown().startsWith("No sound output"));
    QCOMPARE(m_w->Label1->accessibleName(), shown());
    QTRY_COMPARE(m_w->List1->currentRow(), 1);
    QCOMPARE(m_w->MediaPlayer1->engine()->playbackState(), MediaEngine::State::Stopped);
    // The rest of the window still works.
    m_w->cmdplay->click();
    QCOMPARE(m_w->subWindow()->height(), Twips::toPixelsY(frmAudio::ExpandedHeight));
}

QTEST_MAIN(tst_frmAudio)
#include "tst_frmaudio.moc"
