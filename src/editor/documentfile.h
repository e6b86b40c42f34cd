#pragma once
#include <QString>

class QTextDocument;

// Reading and writing a document as plain text, HTML or Markdown, chosen by the file's suffix.
namespace DocumentFile {

enum class Format { PlainText, Html, Markdown };

// .htm and .html are HTML, .md and .markdown are Markdown, anything else plain text.
Format formatOf(const QString &path);

// Files larger than this are refused rather than freezing the window while they load.
inline constexpr qint64 MaxBytes = 8 * 1024 * 1024;

// Each returns an empty text on success, else a message for the user. A failed read leaves doc
// as it was; a failed write leaves any existing file as it was.
QString read(const QString &path, QTextDocument *doc);
QString write(const QString &path, const QTextDocument &doc);

} // namespace DocumentFile
