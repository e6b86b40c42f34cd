#include "documentfile.h"
#include "frmnorvoedit.h"
#include "fulldisk.h"
#include "messagebox.h"
#include "processenv.h"
#include "richtextbox.h"
#include "toolwindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>

#include <memory>

namespace {
QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}
void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}
} // namespace

// The editor as the frame shows it: one instance in an MDI area, through the registry.
class tst_frmNorvoEdit : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QMdiArea> m_area;
    std::unique_ptr<ToolWindowRegistry> m_tools;
    QStringList m_boxes;
    int m_answer = vbCancel;
    QString m_saveAs; // what the Save As dialog answers

    frmNorvoEdit *editor()
    {
        return qobject_cast<frmNorvoEdit *>(m_tools->show(QStringLiteral("frmNorvoEdit")));
    }
    QString path(const QString &name) const { return m_dir->filePath(name); }

private Q_SLOTS:
    void initTestCase()
    {
        setMsgBoxHandler([this](const QString &text, int style, const QString &title) {
            m_boxes << QStringLiteral("%1 %2: %3").arg(style).arg(title, text);
            return m_answer;
        });
        frmNorvoEdit::setFileDialogHandler(
            [this](QWidget *, bool save, const QString &) { return save ? m_saveAs : QString(); });
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_area = std::make_unique<QMdiArea>();
        m_area->resize(900, 700);
        m_area->show();
        m_tools = std::make_unique<ToolWindowRegistry>(m_area.get());
        m_tools->registerFactory(QStringLiteral("frmNorvoEdit"), [] { return new frmNorvoEdit; });
        m_boxes.clear();
        m_saveAs.clear();
    }
    void cleanup()
    {
        m_answer = vbNo;
        m_tools.reset();
        m_area.reset();
    }

    // Open one format, save as another, byte for byte; the caption follows the file.
    void openSave_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QByteArray>("saved");
        const QByteArray plain = "if (a < b && c > 0)\n    <tag> & \"quotes\"\n\ncaf\xc3\xa9\n";
        QTest::newRow("plain text as is") << "in.txt" << plain << "out.txt" << plain;
        QTest::newRow("HTML bold to Markdown")
            << "in.html" << QByteArray("<p>plain <b>bold</b> &lt;x&gt;</p>") << "out.md"
            << QByteArray("plain **bold** <x>\n\n");
        QTest::newRow("Markdown heading to plain text")
            << "in.md" << QByteArray("# Title\n\nSome *em*\n") << "out.txt"
            << QByteArray("Title\nSome em");
        QTest::newRow("Latin-1 bytes read as characters")
            << "in.txt" << QByteArray("caf\xe9") << "out.txt" << QByteArray("caf\xc3\xa9");
    }
    void openSave()
    {
        QFETCH(QString, from);
        QFETCH(QByteArray, source);
        QFETCH(QString, to);
        QFETCH(QByteArray, saved);
        writeAll(path(from), source);
        frmNorvoEdit *w = editor();
        QVERIFY(w->openFile(path(from)));
        QCOMPARE(w->subWindow()->windowTitle(), from + QStringLiteral(" - NorvoEdit"));
        QVERIFY(w->saveFile(path(to)));
        QCOMPARE(readAll(path(to)), saved);
        QCOMPARE(w->subWindow()->windowTitle(), to + QStringLiteral(" - NorvoEdit"));
        QCOMPARE(w->fileName(), path(to));
        QVERIFY(m_boxes.isEmpty());
    }

    // Failures say why and lose nothing: the text stays, still marked as changed, and a file
    // being replaced keeps its old content.
    void failuresKeepTheText_data()
    {
        QTest::addColumn<bool>("save"); // on a full disk
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("message");
        QTest::newRow("open a missing file") << false << "missing.txt" << "Could not open \"";
        QTest::newRow("open a file over the limit")
            << false << "huge.txt" << "huge.txt\" is too large";
        QTest::newRow("save on a full disk") << true << "doc.txt" << "doc.txt\": File too large";
    }
    void failuresKeepTheText()
    {
        QFETCH(bool, save);
        QFETCH(QString, target);
        QFETCH(QString, message);
        writeAll(path("doc.txt"), "old");
        QFile huge(path("huge.txt")); // sparse, so it costs no disk
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(DocumentFile::MaxBytes + 1));
        frmNorvoEdit *w = editor();
        QTest::keyClicks(w->rtfText, QStringLiteral("typed"));
        if (save) {
            const FullDisk full;
            QVERIFY(!w->saveFile(path(target)));
        } else {
            QVERIFY(!w->openFile(path(target)));
        }
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes[0].startsWith(QLatin1String("48 NorvoEdit: ")) &&
                     m_boxes[0].contains(message),
                 qPrintable(m_boxes[0]));
        QCOMPARE(w->rtfText->toPlainText(), QStringLiteral("typed"));
        QCOMPARE(w->subWindow()->windowTitle(), QStringLiteral("*Untitled - NorvoEdit"));
        QCOMPARE(readAll(path("doc.txt")), QByteArray("old"));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"doc.txt", "huge.txt"}));
    }

    // Closing changed text asks first: Yes saves (through Save As for a new text), No drops
    // the changes, Cancel keeps the window open with its text. Opened again, the window
    // starts on a new text.
    void unsavedChangesQuestion_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("named"); // the text came from a file
        QTest::addColumn<bool>("closed");
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("Yes saves the file") << int(vbYes) << true << true << QByteArray("old text");
        QTest::newRow("Yes on a new text asks for a name")
            << int(vbYes) << false << true << QByteArray("new text");
        QTest::newRow("No drops the changes") << int(vbNo) << true << true << QByteArray("old");
        QTest::newRow("Cancel keeps the window")
            << int(vbCancel) << true << false << QByteArray("old");
    }
    void unsavedChangesQuestion()
    {
        QFETCH(int, answer);
        QFETCH(bool, named);
        QFETCH(bool, closed);
        QFETCH(QByteArray, file);
        const QString doc = path("doc.txt");
        writeAll(doc, "old");
        frmNorvoEdit *w = editor();
        if (named)
            QVERIFY(w->openFile(doc));
        else
            m_saveAs = doc;
        w->rtfText->moveCursor(QTextCursor::End);
        QTest::keyClicks(w->rtfText, named ? QStringLiteral(" text") : QStringLiteral("new text"));
        m_answer = answer;
        const QString name = named ? QStringLiteral("doc.txt") : QStringLiteral("Untitled");
        QCOMPARE(w->subWindow()->windowTitle(), QStringLiteral("*%1 - NorvoEdit").arg(name));
        QCOMPARE(w->subWindow()->close(), closed);
        QCOMPARE(m_boxes, QStringList{QStringLiteral("51 NorvoEdit: The text in %1 has changed."
                                                     "\n\nDo you want to save the changes?")
                                          .arg(name)});
        QCOMPARE(readAll(doc), file);
        if (closed) {
            QCOMPARE(editor(), w);
            QVERIFY(w->rtfText->toPlainText().isEmpty());
            QCOMPARE(w->subWindow()->windowTitle(), QStringLiteral("Untitled - NorvoEdit"));
            return;
        }
        QCOMPARE(w->rtfText->toPlainText(), QStringLiteral("old text"));
        // Still changed, so New asks too; once the changes are dropped, closing asks nothing.
        m_boxes.clear();
        m_answer = vbNo;
        w->mnuFileNew->trigger();
        QVERIFY(w->rtfText->toPlainText().isEmpty());
        QVERIFY(w->subWindow()->close());
        QCOMPARE(m_boxes.size(), 1);
    }
};

int main(int argc, char **argv)
{
    setupProcessEnvironment(argc, argv);
    QApplication app(argc, argv);
    tst_frmNorvoEdit t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_frmnorvoedit.moc"
