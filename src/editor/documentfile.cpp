#include "documentfile.h"

#include "wholefile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStringConverter>
#include <QTextDocument>

namespace DocumentFile {

namespace {
QString tr(const char *text) { return QCoreApplication::translate("DocumentFile", text); }

QString decode(const QByteArray &bytes, Format format)
{
    auto encoding = QStringConverter::Utf8;
    if (format == Format::Html)
        encoding = QStringConverter::encodingForHtml(bytes).value_or(QStringConverter::Utf8);
    // Stateless: a sequence cut off at the end is an error, not a wait for more bytes.
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    QString text = decoder(bytes);
    // Text that is not valid UTF-8 keeps every byte as one Latin-1 character.
    if (decoder.hasError())
        text = QString::fromLatin1(bytes);
    return text;
}
} // namespace

Format formatOf(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("htm") || suffix == QLatin1String("html"))
        return Format::Html;
    if (suffix == QLatin1String("md") || suffix == QLatin1String("markdown"))
        return Format::Markdown;
    return Format::PlainText;
}

QString read(const QString &path, QTextDocument *doc)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return tr("Could not open \"%1\": %2.").arg(path, file.errorString());
    if (file.size() > MaxBytes)
        return tr("\"%1\" is too large to edit (more than %2 MB).").arg(path).arg(MaxBytes >> 20);
    const QByteArray bytes = file.read(MaxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return tr("Could not read \"%1\": %2.").arg(path, file.errorString());
    if (bytes.size() > MaxBytes)
        return tr("\"%1\" is too large to edit (more than %2 MB).").arg(path).arg(MaxBytes >> 20);

    const Format format = formatOf(path);
    const QString text = decode(bytes, format);
    switch (format) {
    case Format::Html: doc->setHtml(text); break;
    case Format::Markdown: doc->setMarkdown(text); break;
    case Format::PlainText: doc->setPlainText(text); break;
    }
    return {};
}

QString write(const QString &path, const QTextDocument &doc)
{
    QString text;
    switch (formatOf(path)) {
    case Format::Html: text = doc.toHtml(); break;
    case Format::Markdown: text = doc.toMarkdown(); break;
    case Format::PlainText: text = doc.toPlainText(); break;
    }
    QSaveFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || !writeAll(file, bytes) || !commitWhole(file))
        return tr("Could not save \"%1\": %2.").arg(path, file.errorString());
    return {};
}

} // namespace DocumentFile
