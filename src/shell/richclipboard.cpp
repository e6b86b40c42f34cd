#include "richclipboard.h"

#include <QMimeData>
#include <QTextDocument>
#include <QTextDocumentFragment>

namespace RichClipboard {

QMimeData *mimeForMarkup(const QString &markup)
{
    auto *data = new QMimeData;
    data->setData(QString::fromLatin1(MarkupFormat), markup.toUtf8());
    data->setHtml(markup);
    data->setText(QTextDocumentFragment::fromHtml(markup).toPlainText());
    return data;
}

QString markupFrom(const QMimeData *data)
{
    if (!data)
        return {};
    const QString own = QString::fromLatin1(MarkupFormat);
    if (data->hasFormat(own))
        return QString::fromUtf8(data->data(own));
    const QString text = data->text();
    if (text.isEmpty())
        return {};
    QTextDocument doc;
    doc.setPlainText(text);
    return doc.toHtml();
}

} // namespace RichClipboard
