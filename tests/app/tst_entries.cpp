// View > Options..., Tools > NorvoEdit and the toolbar, in the real frame with the real windows.
#include "frmmain.h"
#include "frmnorvoedit.h"
#include "frmoptions.h"
#include "maintoolbar.h"
#include "messagebox.h"
#include "processenv.h"
#include "richclipboard.h"
#include "richtextbox.h"
#include "settingsrecord.h"
#include "toolwindow.h"
#include "tools.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>

#include <memory>

class tst_Entries : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmMain> m_main;
    QStringList m_boxes;
    int m_answer = vbNo;

    int browserWindows() const
    {
        int n = 0;
        for (auto *s : m_main->mdiArea()->subWindowList())
            n += s->isVisible() && !qobject_cast<ToolWindow *>(s->widget());
        return n;
    }
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
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->path() + "/config"));
        // Browser windows start on a closed loopback port, never on a remote default.
        SettingsRecord r;
        r.HomePage = QStringLiteral("http://127.0.0.1:9/");
        r.UseStoredSettings = VbTrue;
        QFile ini(QString::fromLatin1(SettingsFileName));
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write(r.toBytes()) == SettingsRecord::Size);
        ini.close();
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
    void cleanup()
    {
        m_answer = vbNo;
        m_main.reset();
        QDir::setCurrent(QDir::tempPath());
    }

    void entriesOpenTheirWindows()
    {
        m_main->mnuViewOptions->trigger();
        ToolWindow *options = m_main->tools().instance(QStringLiteral("frmOptions"));
        QVERIFY(qobject_cast<frmOptions *>(options));
        QCOMPARE(m_main->mdiArea()->currentSubWindow(), options->subWindow());
        QCOMPARE(qobject_cast<frmOptions *>(options)->txtHomePage->text(),
                 QStringLiteral("http://127.0.0.1:9/"));
        m_main->mnuEditor->trigger();
        ToolWindow *editor = m_main->tools().instance(QStringLiteral("frmNorvoEdit"));
        QVERIFY(qobject_cast<frmNorvoEdit *>(editor));
        QCOMPARE(m_main->mdiArea()->currentSubWindow(), editor->subWindow());
        QVERIFY(editor->subWindow()->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(editor->subWindow()->windowTitle(), QStringLiteral("Untitled - NorvoEdit"));
    }

    // Cut, Copy and Paste from the Edit menu or the toolbar act on the active editor. A copy
    // offers markup to editors and plain text to every other program; plain text from another
    // program is pasted as it reads, "<" and "&" included.
    void editCommands_data()
    {
        QTest::addColumn<QString>("action");    // an Edit entry or a toolbar key
        QTest::addColumn<QString>("clipboard"); // set before the command; null: left as it is
        QTest::addColumn<QString>("text");      // the editor's text afterwards
        QTest::addColumn<QString>("plain");     // the clipboard's plain text afterwards
        for (const char *prefix : {"mnuEdit", ""}) {
            QTest::addRow("%sCopy", prefix)
                << prefix + QStringLiteral("Copy") << QString() << "plain bold & <tag>"
                << "bold & <tag>";
            QTest::addRow("%sCut", prefix)
                << prefix + QStringLiteral("Cut") << QString() << "plain "
                << "bold & <tag>";
            QTest::addRow("%sPaste plain text", prefix)
                << prefix + QStringLiteral("Paste") << "a <  b && c\n  d"
                << "plain a <  b && c\n  d"
                << "a <  b && c\n  d";
            QTest::addRow("%sPaste nothing", prefix) << prefix + QStringLiteral("Paste") << ""
                                                     << "plain bold & <tag>"
                                                     << "";
        }
    }
    void editCommands()
    {
        QFETCH(QString, action);
        QFETCH(QString, clipboard);
        QFETCH(QString, text);
        QFETCH(QString, plain);
        frmNorvoEdit *w = editorWithSelection();
        QApplication::clipboard()->setText(clipboard.isNull() ? QStringLiteral("before")
                                                              : clipboard);
        QAction *a = action.startsWith(QLatin1String("mnu")) ? m_main->findChild<QAction *>(action)
                                                             : m_main->Toolbar1->button(action);
        a->trigger();
        QCOMPARE(w->rtfText->toPlainText(), text);
        const QMimeData *data = QApplication::clipboard()->mimeData();
        QCOMPARE(data->text(), plain);
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

    // The other keys: New opens a browser window, the pop-up button toggles in step with the
    // View entry, and an unknown key does nothing.
    void toolbarKeys()
    {
        QVERIFY(m_main->Toolbar1->isVisible());
        QVERIFY(m_main->mnuViewToolbar->isChecked());
        QCOMPARE(browserWindows(), 1);
        m_main->Toolbar1->button(QStringLiteral("New"))->trigger();
        QCOMPARE(browserWindows(), 2);

        QAction *popUps = m_main->Toolbar1->button(QStringLiteral("Allow Pop Up Windows"));
        QVERIFY(popUps->isCheckable() && !popUps->isChecked());
        popUps->trigger();
        QCOMPARE(PopUpsAllowed, VbTrue);
        QVERIFY(m_main->mnuOptionsAllow->isChecked() && popUps->isChecked());
        m_main->mnuOptionsAllow->trigger();
        QCOMPARE(PopUpsAllowed, VbFalse);
        QVERIFY(!popUps->isChecked());

        QApplication::clipboard()->setText(QStringLiteral("kept"));
        m_main->Toolbar1_ButtonClick(QStringLiteral("Print"));
        QCOMPARE(browserWindows(), 2);
        QCOMPARE(PopUpsAllowed, VbFalse);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("kept"));

        // Each button shows its own painted image and its key as tooltip.
        for (QAction *a : m_main->Toolbar1->actions()) {
            const QImage image = a->icon().pixmap(24, 24).toImage();
            int painted = 0;
            for (int i = 0; i < image.width() * image.height(); ++i)
                painted += image.pixelColor(i % image.width(), i / image.width()).alpha() > 0;
            QVERIFY2(painted > 24 * 24 / 8 && a->toolTip() == a->data().toString(),
                     qPrintable(a->toolTip()));
        }
        m_main->mnuViewToolbar->trigger();
        QVERIFY(!m_main->Toolbar1->isVisible());
        m_main->mnuViewToolbar->trigger();
        QVERIFY(m_main->Toolbar1->isVisible());
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

int main(int argc, char **argv)
{
    setupProcessEnvironment(argc, argv);
    QApplication app(argc, argv);
    tst_Entries t;
    return QTest::qExec(&t, argc, argv);
}
#include "tst_entries.moc"
