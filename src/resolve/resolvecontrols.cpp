#include "resolvecontrols.h"

#include "twips.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace ResolveControls {

QLabel *label(QWidget *parent, const char *name, const QString &caption, double left,
              double top, double width, double height)
{
    auto *l = new QLabel(caption, parent);
    l->setObjectName(QLatin1String(name));
    Twips::place(l, left, top, width, height);
    return l;
}

QLineEdit *textBox(QWidget *parent, const char *name, QLabel *buddy, double left, double top,
                   double width, double height)
{
    auto *t = new QLineEdit(parent);
    t->setObjectName(QLatin1String(name));
    QString words = buddy->text();
    while (words.endsWith(QLatin1Char(' ')) || words.endsWith(QLatin1Char(':')))
        words.chop(1);
    t->setAccessibleName(words);
    buddy->setBuddy(t);
    Twips::place(t, left, top, width, height);
    return t;
}

QFrame *hline(QWidget *parent, const char *name, double x1, double x2, double y)
{
    auto *f = new QFrame(parent);
    f->setObjectName(QLatin1String(name));
    f->setFrameShape(QFrame::HLine);
    f->setFrameShadow(QFrame::Sunken);
    // Two pixels tall, the line's height at its top edge.
    const int px1 = Twips::toPixelsX(x1);
    f->setGeometry(px1, Twips::toPixelsY(y), Twips::toPixelsX(x2) - px1, 2);
    return f;
}

QPushButton *button(QWidget *parent, const char *name, const QString &caption, double left,
                    double top, double width, double height)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAccessibleName(caption);
    b->setAutoDefault(false);
    Twips::place(b, left, top, width, height);
    return b;
}

BusyCursor::BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
BusyCursor::~BusyCursor() { QApplication::restoreOverrideCursor(); }

std::string toAnsi(const QString &text) { return text.toLocal8Bit().toStdString(); }

QString fromAnsi(const std::string &text)
{
    return QString::fromLocal8Bit(text.data(), qsizetype(text.size()));
}

} // namespace ResolveControls
