#include "localpanes.h"

#include <QtTest>

#include <cstring>

using namespace LocalPanes;

// The drive, folder and file panes the FTP and audio windows share, over a real folder.
class tst_LocalPanes : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void files_data();
    void files();
    void folders();
    void unreadable();
    void drives();

private:
    QTemporaryDir m_dir;
};

void tst_LocalPanes::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const char *name : {"song.mp3", "SONG2.MP3", "song.mp3.old", "song.mp2", "songmp3",
                             "a.mp3b.txt", ".hidden.mp3", "sub/inner.mp3", ".dot/x"}) {
        QFile f(m_dir.filePath(name));
        QVERIFY(QDir().mkpath(QFileInfo(f).path()) && f.open(QIODevice::WriteOnly));
    }
}

void tst_LocalPanes::files_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("mp3 anywhere after a dot, any case")
        << "*.mp3*" << false << QStringList{"a.mp3b.txt", "song.mp3", "song.mp3.old", "SONG2.MP3"};
    QTest::newRow("several patterns")
        << "*.TXT;*.mp2" << false << QStringList{"a.mp3b.txt", "song.mp2"};
    QTest::newRow("hidden too") << "*.mp3" << true
                                << QStringList{".hidden.mp3", "song.mp3", "SONG2.MP3"};
    QTest::newRow("every file") << "" << false
                                << QStringList{"a.mp3b.txt",   "song.mp2",  "song.mp3",
                                               "song.mp3.old", "SONG2.MP3", "songmp3"};
}

void tst_LocalPanes::files()
{
    QFETCH(QString, pattern);
    QFETCH(bool, hidden);
    QFETCH(QStringList, listed);
    FileListBox pane;
    pane.setShowHidden(hidden);
    pane.setPattern(pattern);
    QVERIFY(pane.setPath(m_dir.path() + "/sub/..").isEmpty());
    QCOMPARE(pane.path(), m_dir.path());
    QStringList names;
    for (int i = 0; i < pane.count(); ++i)
        names << pane.item(i)->text();
    QCOMPARE(names, listed);
    // A refresh keeps the selected file; a new folder starts without one.
    pane.setCurrentRow(1);
    pane.refresh();
    QCOMPARE(pane.fileName(), listed[1]);
    QVERIFY(pane.setPath(m_dir.filePath("sub")).isEmpty());
    QCOMPARE(pane.fileName(), QString());
}

void tst_LocalPanes::folders()
{
    DirListBox pane;
    QSignalSpy changed(&pane, &DirListBox::pathChanged);
    QVERIFY(pane.setPath(m_dir.path()).isEmpty());
    const QStringList levels = m_dir.path().split('/', Qt::SkipEmptyParts);
    QCOMPARE(pane.count(), levels.size() + 2); // "/", each level, then "sub"
    QCOMPARE(pane.item(0)->text(), QString("/"));
    QCOMPARE(pane.currentRow(), levels.size());
    QListWidgetItem *sub = pane.item(levels.size() + 1);
    QCOMPARE(sub->text(), QString(2 * (levels.size() + 1), ' ') + "sub");
    Q_EMIT pane.itemActivated(sub);
    QCOMPARE(pane.path(), m_dir.filePath("sub"));
    Q_EMIT pane.itemActivated(pane.item(0));
    QCOMPARE(pane.path(), QString("/"));
    QCOMPARE(changed.size(), 3);
    pane.setShowHidden(true);
    QVERIFY(pane.setPath(m_dir.path()).isEmpty());
    QCOMPARE(pane.count(), levels.size() + 3);
}

// A folder that can't be listed: the system's words, and both panes stay where they were.
void tst_LocalPanes::unreadable()
{
    DirListBox dirs;
    FileListBox files;
    QVERIFY(dirs.setPath(m_dir.path()).isEmpty() && files.setPath(m_dir.path()).isEmpty());
    QSignalSpy changed(&dirs, &DirListBox::pathChanged);
    for (const auto &[name, error] : {std::pair("gone", ENOENT), std::pair("songmp3", ENOTDIR)}) {
        const QString why = QString::fromLocal8Bit(std::strerror(error));
        QCOMPARE(dirs.setPath(m_dir.filePath(name)), why);
        QCOMPARE(files.setPath(m_dir.filePath(name)), why);
    }
    QCOMPARE(dirs.path(), m_dir.path());
    QCOMPARE(files.path(), m_dir.path());
    QCOMPARE(files.count(), 6);
    QVERIFY(changed.isEmpty());
}

void tst_LocalPanes::drives()
{
    DriveListBox drives;
    QSignalSpy changed(&drives, &DriveListBox::driveChanged);
    QCOMPARE(drives.itemText(0), QString("/"));
    QVERIFY(drives.findText(DriveListBox::driveOf(m_dir.path())) >= 0);
    // A mount point gone since is added and chosen; selecting shows without a change event.
    const int before = drives.count();
    drives.setDrive(m_dir.filePath("gone"));
    QCOMPARE(drives.count(), before + 1);
    QCOMPARE(drives.drive(), m_dir.filePath("gone"));
    QCOMPARE(changed.size(), 1);
    drives.selectDrive("/");
    QCOMPARE(drives.drive(), QString("/"));
    QCOMPARE(changed.size(), 1);
}

QTEST_MAIN(tst_LocalPanes)
#include "tst_localpanes.moc"
