#pragma once
#include <QString>

#include <string>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// Building blocks for windows laid out at fixed twips positions.
namespace Controls {

QLabel *label(QWidget *parent, const QString &name, const QString &caption, double left, double top,
              double width, double height);
// A text box with the label as its buddy and the label's words as accessible name.
QLineEdit *textBox(QWidget *parent, const QString &name, QLabel *buddy, double left, double top,
                   double width, double height);
// A horizontal separator from x1 to x2 at height y.
QFrame *hline(QWidget *parent, const QString &name, double x1, double x2, double y);
QPushButton *button(QWidget *parent, const QString &name, const QString &caption, double left,
                    double top, double width, double height);

// Shows a text the program changes and keeps it readable by a screen reader: the label's
// accessible name follows the text, and assistive technology is told of each change.
void setReadableText(QLabel *label, const QString &text);

// The label's words without trailing blanks and colons, for accessible names.
QString labelWords(const QString &caption);

// Window text to the single-byte text the socket functions take, and back.
std::string toAnsi(const QString &text);
QString fromAnsi(const std::string &text);

// The wait cursor over a window while its job runs; the rest of the suite keeps its cursor.
void setBusy(QWidget *window, bool busy);

// The wait cursor for as long as a blocking call runs.
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

} // namespace Controls
