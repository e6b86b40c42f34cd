#include "frmnorvoedit.h"

#include "documentfile.h"
#include "messagebox.h"
#include "richtextbox.h"
#include "twips.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {
const QString Caption = QStringLiteral("NorvoEdit");

frmNorvoEdit::FileDialogHandler &dialogHandler()
{
    static frmNorvoEdit::FileDialogHandler h;
    return h;
}

QString askFileName(QWidget *parent, bool save, const QString &start)
{
    if (dialogHandler())
        return dialogHandler()(parent, save, start);
    const QString filters = QObject::tr("Text files (*.txt);;HTML files (*.html *.htm);;"
                                        "Markdown files (*.md *.markdown);;All files (*)");
    QString selected;
    if (!save)
        return QFileDialog::getOpenFileName(parent, QObject::tr("Open"), start, filters, &selected);
    QString path = QFileDialog::getSaveFileName(parent, QObject::tr("Save As"), start, filters,
                                                &selected);
    // A name typed without a suffix takes the first suffix of the chosen type.
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) {
        const int star = selected.indexOf(QLatin1String("*."));
        if (star >= 0)
            path += selected.mid(star + 1).section(QLatin1Char(' '), 0, 0).remove(QLatin1Char(')'));
    }
    return path;
}
} // namespace

void frmNorvoEdit::setFileDialogHandler(FileDialogHandler handler)
{
    dialogHandler() = std::move(handler);
}

QAction *frmNorvoEdit::addFileItem(const char *name, const QString &caption,
                                   QKeySequence::StandardKey key)
{
    QAction *a = mnuFile->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    a->setShortcut(key);
    // The shortcut belongs to this window only, not to the frame or another child.
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(a);
    return a;
}

void frmNorvoEdit::createControls()
{
    resize(Twips::size(8400, 5400));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    mnuBar = new QMenuBar(this);
    mnuBar->setObjectName(QStringLiteral("mnuBar"));
    mnuBar->setNativeMenuBar(false);
    mnuBar->setAccessibleName(tr("Menu bar"));
    layout->setMenuBar(mnuBar);
    // Alt+F already opens the frame's File menu; a second F would leave both unreachable.
    mnuFile = mnuBar->addMenu(tr("Fi&le"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuFileNew = addFileItem("mnuFileNew", tr("&New"), QKeySequence::New);
    mnuFileOpen = addFileItem("mnuFileOpen", tr("&Open..."), QKeySequence::Open);
    mnuFileSave = addFileItem("mnuFileSave", tr("&Save"), QKeySequence::Save);
    mnuFileSaveAs = addFileItem("mnuFileSaveAs", tr("Save &As..."), QKeySequence::SaveAs);
    connect(mnuFileNew, &QAction::triggered, this, &frmNorvoEdit::mnuFileNew_Click);
    connect(mnuFileOpen, &QAction::triggered, this, &frmNorvoEdit::mnuFileOpen_Click);
    connect(mnuFileSave, &QAction::triggered, this, &frmNorvoEdit::mnuFileSave_Click);
    connect(mnuFileSaveAs, &QAction::triggered, this, &frmNorvoEdit::mnuFileSaveAs_Click);

    rtfText = new RichTextBox(this);
    rtfText->setObjectName(QStringLiteral("rtfText"));
    rtfText->setAccessibleName(tr("Text"));
    layout->addWidget(rtfText);
    connect(rtfText->document(), &QTextDocument::modificationChanged, this,
            &frmNorvoEdit::updateCaption);
}

void frmNorvoEdit::Form_Load()
{
    // The box is new at every load, so the window starts on a new, untitled text.
    setFileName({});
    rtfText->setFocus();
}

QString frmNorvoEdit::displayName() const
{
    return m_fileName.isEmpty() ? tr("Untitled") : QFileInfo(m_fileName).fileName();
}

void frmNorvoEdit::setFileName(const QString &path)
{
    m_fileName = path;
    rtfText->document()->setModified(false);
    updateCaption();
}

void frmNorvoEdit::updateCaption()
{
    // A leading asterisk marks unsaved changes, in the title bar and in the Window menu alike.
    const bool modified = rtfText->document()->isModified();
    setWindowTitle((modified ? QStringLiteral("*") : QString()) + displayName() +
                   QStringLiteral(" - ") + Caption);
}

bool frmNorvoEdit::maybeSave()
{
    if (!rtfText->document()->isModified())
        return true;
    const int answer = MsgBox(
        tr("The text in %1 has changed.\n\nDo you want to save the changes?").arg(displayName()),
        vbYesNoCancel | vbExclamation, Caption);
    if (answer == vbYes)
        return mnuFileSave_Click();
    if (answer == vbNo) {
        // Asked once: the frame's close of every child must not ask again.
        rtfText->document()->setModified(false);
        return true;
    }
    return false;
}

bool frmNorvoEdit::Form_QueryUnload() { return maybeSave(); }

void frmNorvoEdit::mnuFileNew_Click()
{
    if (!maybeSave())
        return;
    rtfText->clear();
    setFileName({});
}

void frmNorvoEdit::mnuFileOpen_Click()
{
    if (!maybeSave())
        return;
    const QString start = m_fileName.isEmpty() ? QDir::currentPath() : QFileInfo(m_fileName).path();
    const QString path = askFileName(this, false, start);
    if (!path.isEmpty())
        openFile(path);
}

bool frmNorvoEdit::mnuFileSave_Click()
{
    return m_fileName.isEmpty() ? mnuFileSaveAs_Click() : saveFile(m_fileName);
}

bool frmNorvoEdit::mnuFileSaveAs_Click()
{
    const QString start = m_fileName.isEmpty() ? QDir::currentPath() : m_fileName;
    const QString path = askFileName(this, true, start);
    return !path.isEmpty() && saveFile(path);
}

bool frmNorvoEdit::openFile(const QString &path)
{
    // A failed read leaves the window's text untouched.
    const QString error = DocumentFile::read(path, rtfText->document());
    if (!error.isEmpty()) {
        MsgBox(error, vbExclamation, Caption);
        return false;
    }
    setFileName(QFileInfo(path).absoluteFilePath());
    return true;
}

bool frmNorvoEdit::saveFile(const QString &path)
{
    const QString error = DocumentFile::write(path, *rtfText->document());
    if (!error.isEmpty()) {
        MsgBox(error, vbExclamation, Caption);
        return false;
    }
    setFileName(QFileInfo(path).absoluteFilePath());
    return true;
}

QString frmNorvoEdit::selectedMarkup() const { return rtfText->selRTF(); }
QString frmNorvoEdit::selectedText() const { return rtfText->selText(); }
void frmNorvoEdit::replaceSelection(const QString &markup) { rtfText->setSelRTF(markup); }
void frmNorvoEdit::replaceSelectedText(const QString &text) { rtfText->setSelText(text); }
