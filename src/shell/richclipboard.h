#pragma once
#include <QString>

class QMimeData;

// The clipboard as the Edit commands use it for rich-text boxes. A selection goes out both as
// markup (for rich-text editors, tagged as ours) and as its plain text (for every other
// program), so markup source never lands in a plain-text paste. Coming back, only our own tagged
// markup is taken as markup; any other text is taken literally, "<" and "&" included.
namespace RichClipboard {

inline constexpr const char *MarkupFormat = "application/x-velmaric-markup";

// Mime data for a selection given as markup (Qt's HTML subset).
QMimeData *mimeForMarkup(const QString &markup);
// The markup a paste of data inserts; empty when the clipboard holds no text.
QString markupFrom(const QMimeData *data);

} // namespace RichClipboard
