#include "twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace Twips {

namespace {
double dpi(bool horizontal)
{
    const QScreen *s = QGuiApplication::primaryScreen();
    const double d = s ? (horizontal ? s->logicalDotsPerInchX() : s->logicalDotsPerInchY()) : 96.0;
    return d > 0 ? d : 96.0;
}
} // namespace

double pixelsPerTwipX() { return dpi(true) / 1440.0; }
double pixelsPerTwipY() { return dpi(false) / 1440.0; }
int toPixelsX(double twips) { return int(std::lround(twips * pixelsPerTwipX())); }
int toPixelsY(double twips) { return int(std::lround(twips * pixelsPerTwipY())); }
double fromPixelsX(int pixels) { return pixels / pixelsPerTwipX(); }
double fromPixelsY(int pixels) { return pixels / pixelsPerTwipY(); }

QRect rect(double left, double top, double width, double height)
{
    return QRect(toPixelsX(left), toPixelsY(top), toPixelsX(width), toPixelsY(height));
}

QSize size(double width, double height) { return QSize(toPixelsX(width), toPixelsY(height)); }

void place(QWidget *w, double left, double top, double width, double height)
{
    w->setGeometry(rect(left, top, width, height));
}

} // namespace Twips
