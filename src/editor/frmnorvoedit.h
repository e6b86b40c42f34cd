#pragma once
#include "edittarget.h"
#include "toolwindow.h"

#include <functional>

class QAction;
class QMenu;
class QMenuBar;
class RichTextBox;

// NorvoEdit: a rich-text editor whose box rtfText the main window's Edit commands reach.
// Documents are read and written as plain text, HTML or Markdown.
class frmNorvoEdit : public ToolWindow, public EditTarget {
    Q_OBJECT
public:
    using ToolWindow::ToolWindow;
    void createControls() override;
    void Form_Load() override;
    bool Form_QueryUnload() override;
    bool isSizable() const override { return true; }

    QString selectedMarkup() const override;
    QString selectedText() const override;
    void replaceSelection(const QString &markup) override;
    void replaceSelectedText(const QString &text) override;

    QMenuBar *mnuBar = nullptr;
    QMenu *mnuFile = nullptr;
    QAction *mnuFileNew = nullptr, *mnuFileOpen = nullptr, *mnuFileSave = nullptr,
            *mnuFileSaveAs = nullptr;
    RichTextBox *rtfText = nullptr;

    // The file the text was last read from or saved to; empty for a new text.
    QString fileName() const { return m_fileName; }
    bool openFile(const QString &path);
    bool saveFile(const QString &path);

    // Asks for a file name: save selects Save As, else Open. Returns an empty text on cancel.
    using FileDialogHandler =
        std::function<QString(QWidget *parent, bool save, const QString &start)>;
    // Tests replace the dialogs; an empty handler restores QFileDialog.
    static void setFileDialogHandler(FileDialogHandler handler);

public Q_SLOTS:
    void mnuFileNew_Click();
    void mnuFileOpen_Click();
    bool mnuFileSave_Click();
    bool mnuFileSaveAs_Click();

private:
    // The usual question before unsaved changes are lost; false when the user keeps them.
    bool maybeSave();
    void setFileName(const QString &path);
    void updateCaption();
    QString displayName() const;
    QAction *addFileItem(const char *name, const QString &caption, QKeySequence::StandardKey key);

    QString m_fileName;
};
