#include "documentfile.h"
#include "frmnorvoedit.h"
#include "fulldisk.h"
#include "msgboxrecorder.h"
#include "richtextbox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

class tst_frmNorvoEdit : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmNorvoEdit> m_w;
    MsgBoxRecorder m_boxes;

    static QByteArray read(const QString &name)
    {
        QFile f(name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
    }
    static void write(const QString &name, const QByteArray &bytes)
    {
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        m_boxes.reset();
        frmNorvoEdit::setFileDialogHandler(
            [](QWidget *, bool, const QString &) { return QStringLiteral("doc.txt"); });
        m_w = std::make_unique<frmNorvoEdit>();
        m_w->load();
        m_w->show();
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
        write(from, source);
        QVERIFY(m_w->openFile(from));
        QCOMPARE(m_w->windowTitle(), from + QStringLiteral(" - NorvoEdit"));
        QVERIFY(m_w->saveFile(to));
        QCOMPARE(read(to), saved);
        QCOMPARE(m_w->windowTitle(), to + QStringLiteral(" - NorvoEdit"));
        QCOMPARE(m_boxes.lines(), QStringList());
    }

    // Changed text is never lost. Closing asks first: Yes saves (through Save As for a new
    // text), No drops the changes, Cancel keeps the window; reopened, it starts on a new text.
    // A failed Open or Save says why and keeps both the text and the file being replaced.
    void changesAreKept_data()
    {
        QTest::addColumn<bool>("named"); // the text came from doc.txt
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("box");     // its start|text it holds
        QTest::addColumn<QByteArray>("file"); // doc.txt afterwards
        QTest::addColumn<bool>("done");
        const QString question = QStringLiteral("51 The text in %1 has changed.\n\n|"
                                                "Do you want to save the changes?");
        const QByteArray old("old");
        QTest::newRow("close, Yes saves the file")
            << true << "close" << int(vbYes) << question.arg("doc.txt") << old + " new" << true;
        QTest::newRow("close, Yes on a new text asks for a name")
            << false << "close" << int(vbYes) << question.arg("Untitled") << QByteArray(" new")
            << true;
        QTest::newRow("close, No drops the changes")
            << true << "close" << int(vbNo) << question.arg("doc.txt") << old << true;
        QTest::newRow("close, Cancel keeps the window")
            << true << "close" << int(vbCancel) << question.arg("doc.txt") << old << false;
        QTest::newRow("open a missing file")
            << false << "missing.txt" << 0 << "48 Could not open \"|" << old << false;
        QTest::newRow("open a file over the limit")
            << false << "huge.txt" << 0 << "48 \"|huge.txt\" is too large" << old << false;
        QTest::newRow("save on a full disk")
            << true << "save" << 0 << "48 Could not save \"|doc.txt\": File too large." << old
            << false;
    }
    void changesAreKept()
    {
        QFETCH(bool, named);
        QFETCH(QString, action);
        QFETCH(int, answer);
        QFETCH(QString, box);
        QFETCH(QByteArray, file);
        QFETCH(bool, done);
        write(QStringLiteral("doc.txt"), "old");
        QFile huge(QStringLiteral("huge.txt")); // sparse, so it costs no disk
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(DocumentFile::MaxBytes + 1));
        if (named)
            QVERIFY(m_w->openFile(QStringLiteral("doc.txt")));
        QTest::keyClicks(m_w->rtfText, QStringLiteral(" new"));
        const QString text = named ? QStringLiteral("old new") : QStringLiteral(" new");
        const QString caption =
            QStringLiteral("*%1 - NorvoEdit").arg(named ? "doc.txt" : "Untitled");
        QCOMPARE(m_w->windowTitle(), caption);
        m_boxes.answer = answer;
        {
            std::optional<FullDisk> full;
            if (action == QLatin1String("save"))
                full.emplace();
            QCOMPARE(action == QLatin1String("close")  ? m_w->close()
                     : action == QLatin1String("save") ? m_w->mnuFileSave_Click()
                                                       : m_w->openFile(action),
                     done);
        }
        const QStringList shown = m_boxes.lines();
        QVERIFY2(shown.size() == 1 && shown[0].startsWith(box.section(u'|', 0, 0)) &&
                     shown[0].contains(box.section(u'|', 1)),
                 qPrintable(shown.join(u'\n')));
        QCOMPARE(read(QStringLiteral("doc.txt")), file);
        QCOMPARE(QDir().entryList(QDir::Files), (QStringList{"doc.txt", "huge.txt"}));
        if (done) {
            m_w->load();
            QCOMPARE(m_w->windowTitle(), QStringLiteral("Untitled - NorvoEdit"));
            return;
        }
        QCOMPARE(m_w->rtfText->toPlainText(), text);
        QCOMPARE(m_w->windowTitle(), caption);
        // Still changed, so New asks too; once the changes are dropped, closing asks nothing.
        m_boxes.answer = vbNo;
        m_w->mnuFileNew_Click();
        QVERIFY(m_w->rtfText->toPlainText().isEmpty());
        QVERIFY(m_w->close());
        QCOMPARE(m_boxes.boxes.size(), 2);
    }
};

QTEST_MAIN(tst_frmNorvoEdit)
#include "tst_frmnorvoedit.moc"
