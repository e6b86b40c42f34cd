#pragma once
#include <QTextEdit>

// A rich-text editing box that offers its selection as markup (Qt's HTML subset) and as plain
// text, for the main window's Edit commands.
class RichTextBox : public QTextEdit {
    Q_OBJECT
public:
    using QTextEdit::QTextEdit;

    // An empty text when nothing is selected.
    QString selRTF() const;
    // Replaces the selection (or inserts at the cursor) with the markup's content.
    void setSelRTF(const QString &markup);
    QString selText() const;
    void setSelText(const QString &text);

protected:
    // Keyboard and context-menu copies carry the same formats as the Edit menu's.
    QMimeData *createMimeDataFromSelection() const override;
};
