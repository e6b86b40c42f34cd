// The Edit commands, the toolbar and closing with unsaved text, in the real frame with the real
// windows.
#include "closedproxy.h"
#include "frmmain.h"
#include "frmnorvoedit.h"
#include "maintoolbar.h"
#include "messagebox.h"
#include "richclipboard.h"
#include "richtextbox.h"
#include "settingsrecord.h"
#include "tools.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

class tst_Entries : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<frmMain> m_main;
    QStringList m_boxes;
    int m_answer = vbNo;

    // The editor, active, holding "plain bold & <tag>" with "bold & <tag>" selected.
    frmNorvoEdit *editorWithSelection()
    {
        m_main->mnuEditor->trigger();
        auto *w = qobject_cast<frmNorvoEdit *>(
            m_main->tools().instance(QStringLiteral("frmNorvoEdit")));
        w->rtfText->setHtml(QStringLiteral("<p>plain <b>bold</b> &amp; &lt;tag&gt;</p>"));
        QTextCursor c(w->rtfText->document());
        c.setPosition(6);
        c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        w->rtfText->setTextCursor(c);
        return w;
    }
private Q_SLOTS:
    void init()
    {
        QVERIFY(QDir::setCurrent(m_dir.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + "/config"));
        PopUpsAllowed = VbFalse;
        m_boxes.clear();
        m_answer = vbNo;
        setMsgBoxHandler([this](const QString &text, int style, const QString &) {
            m_boxes << QString::number(style) + QLatin1Char(' ') + text;
            return m_answer;
        });
        m_main = std::make_unique<frmMain>();
        registerTools(m_main->tools());
        m_main->MDIForm_Load();
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    }
    void cleanup() { m_main.reset(); }

    // Cut, Copy and Paste from the Edit menu or the toolbar act on the active editor. A copy
    // offers markup to editors and plain text to every other program; plain text from another
    // program is pasted as it reads, "<" and "&" included.
    void editCommands_data()
    {
        QTest::addColumn<QString>("action");    // an Edit entry or a toolbar key
        QTest::addColumn<QString>("clipboard"); // set before the command; null: left as it is
        QTest::addColumn<QString>("text");      // the editor's text afterwards
        QTest::addColumn<QString>("plain");     // the clipboard's plain text afterwards
        const QString sel = QStringLiteral("bold & <tag>"), all = "plain " + sel;
        const QString typed = QStringLiteral("a <  b && c\n  d");
        for (const char *prefix : {"mnuEdit", ""}) {
            const QString key = QString::fromLatin1(prefix);
            QTest::addRow("%sCopy", prefix) << key + "Copy" << QString() << all << sel;
            QTest::addRow("%sCut", prefix) << key + "Cut" << QString() << "plain " << sel;
            QTest::addRow("%sPaste text", prefix)
                << key + "Paste" << typed << "plain " + typed << typed;
            QTest::addRow("%sPaste nothing", prefix) << key + "Paste"
                                                     << "" << all << "";
        }
    }
    void editCommands()
    {
        QFETCH(QString, action);
        QFETCH(QString, clipboard);
        frmNorvoEdit *w = editorWithSelection();
        QApplication::clipboard()->setText(clipboard.isNull() ? QStringLiteral("before")
                                                              : clipboard);
        QAction *a = action.startsWith(QLatin1String("mnu")) ? m_main->findChild<QAction *>(action)
                                                             : m_main->Toolbar1->button(action);
        a->trigger();
        QTEST(w->rtfText->toPlainText(), "text");
        const QMimeData *data = QApplication::clipboard()->mimeData();
        QTEST(data->text(), "plain");
        if (!action.endsWith(QLatin1String("Paste"))) {
            QVERIFY(data->hasFormat(QString::fromLatin1(RichClipboard::MarkupFormat)));
            QVERIFY2(data->html().contains(QLatin1String("font-weight:700;\">bold")),
                     qPrintable(data->html()));
        }
        QVERIFY(m_boxes.isEmpty());
    }

    // Our own markup comes back with its formatting.
    void copyPasteKeepsFormatting()
    {
        frmNorvoEdit *w = editorWithSelection();
        m_main->mnuEditCopy->trigger();
        w->rtfText->selectAll();
        m_main->mnuEditPaste->trigger();
        QCOMPARE(w->rtfText->toPlainText(), QStringLiteral("bold & <tag>"));
        QTextCursor c(w->rtfText->document());
        c.setPosition(2);
        QCOMPARE(c.charFormat().fontWeight(), int(QFont::Bold));
    }

    // New opens a browser window, the pop-up button toggles in step with the View entry, and
    // every button shows its image and its key as tooltip.
    void toolbarKeys()
    {
        m_main->Toolbar1->button(QStringLiteral("New"))->trigger();
        QCOMPARE(m_main->mdiArea()->subWindowList().size(), 2);
        QAction *popUps = m_main->Toolbar1->button(QStringLiteral("Allow Pop Up Windows"));
        popUps->trigger();
        QCOMPARE(PopUpsAllowed, VbTrue);
        QVERIFY(m_main->mnuOptionsAllow->isChecked() && popUps->isChecked());
        m_main->mnuOptionsAllow->trigger();
        QCOMPARE(PopUpsAllowed, VbFalse);
        QVERIFY(!popUps->isChecked());
        for (QAction *a : m_main->Toolbar1->actions())
            QVERIFY2(!a->icon().pixmap(24, 24).isNull() && a->toolTip() == a->data().toString(),
                     qPrintable(a->toolTip()));
    }

    // Closing the suite with unsaved text asks once; Cancel keeps the suite and the text.
    void closingTheSuiteAsks_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("closed");
        QTest::newRow("No closes") << int(vbNo) << true;
        QTest::newRow("Cancel keeps everything") << int(vbCancel) << false;
    }
    void closingTheSuiteAsks()
    {
        QFETCH(int, answer);
        QFETCH(bool, closed);
        frmNorvoEdit *w = editorWithSelection();
        w->rtfText->moveCursor(QTextCursor::End);
        QTest::keyClicks(w->rtfText, QStringLiteral("!"));
        m_answer = answer;
        m_main->mnuFileExit->trigger();
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY(m_boxes[0].startsWith(QLatin1String("51 The text in Untitled has changed.")));
        QCOMPARE(m_main->isVisible(), !closed);
        QCOMPARE(w->isLoaded(), !closed);
        if (!closed)
            QCOMPARE(w->rtfText->toPlainText(), QStringLiteral("plain bold & <tag>!"));
    }
};

VELMARIC_WINDOW_TEST_MAIN(tst_Entries)
#include "tst_entries.moc"
