#include "controls.h"

#include "twips.h"

#include <QAccessible>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace Controls {

QString labelWords(const QString &caption)
{
    QString words = caption;
    while (words.endsWith(QLatin1Char(' ')) || words.endsWith(QLatin1Char(':')))
        words.chop(1);
    return words;
}

void setReadableText(QLabel *label, const QString &text)
{
    label->setText(text);
    if (label->accessibleName() == text)
        return;
    label->setAccessibleName(text);
    QAccessibleEvent changed(label, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
}

QLabel *label(QWidget *parent, const QString &name, const QString &caption, double left, double top,
              double width, double height)
{
    auto *l = new QLabel(caption, parent);
    l->setObjectName(name);
    Twips::place(l, left, top, width, height);
    return l;
}

QLineEdit *textBox(QWidget *parent, const QString &name, QLabel *buddy, double left, double top,
                   double width, double height)
{
    auto *t = new QLineEdit(parent);
    t->setObjectName(name);
    t->setAccessibleName(labelWords(buddy->text()));
    buddy->setBuddy(t);
    Twips::place(t, left, top, width, height);
    return t;
}

QFrame *hline(QWidget *parent, const QString &name, double x1, double x2, double y)
{
    auto *f = new QFrame(parent);
    f->setObjectName(name);
    f->setFrameShape(QFrame::HLine);
    f->setFrameShadow(QFrame::Sunken);
    const int px1 = Twips::toPixelsX(x1);
    f->setGeometry(px1, Twips::toPixelsY(y), Twips::toPixelsX(x2) - px1, 2);
    return f;
}

QPushButton *button(QWidget *parent, const QString &name, const QString &caption, double left,
                    double top, double width, double height)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(caption);
    b->setAutoDefault(false);
    Twips::place(b, left, top, width, height);
    return b;
}

std::string toAnsi(const QString &text) { return text.toLocal8Bit().toStdString(); }

QString fromAnsi(const std::string &text)
{
    return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
}

void setBusy(QWidget *window, bool busy)
{
    if (busy)
        window->setCursor(Qt::WaitCursor);
    else
        window->unsetCursor();
}

BusyCursor::BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
BusyCursor::~BusyCursor() { QApplication::restoreOverrideCursor(); }

} // namespace Controls
