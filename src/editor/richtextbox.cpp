#include "richtextbox.h"

#include "richclipboard.h"

#include <QTextCursor>
#include <QTextDocumentFragment>

QString RichTextBox::selRTF() const
{
    const QTextCursor c = textCursor();
    return c.hasSelection() ? c.selection().toHtml() : QString();
}

void RichTextBox::setSelRTF(const QString &markup)
{
    QTextCursor c = textCursor();
    c.insertFragment(QTextDocumentFragment::fromHtml(markup, document()));
    setTextCursor(c);
}

QString RichTextBox::selText() const
{
    // Paragraph and line separators of the selection as the newlines other programs expect.
    QString text = textCursor().selectedText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

void RichTextBox::setSelText(const QString &text)
{
    QTextCursor c = textCursor();
    c.insertText(text);
    setTextCursor(c);
}

QMimeData *RichTextBox::createMimeDataFromSelection() const
{
    return RichClipboard::mimeForMarkup(selRTF());
}
