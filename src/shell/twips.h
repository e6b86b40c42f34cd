#pragma once
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Positions in the window designs are in twips: 1440 to the inch at the screen's logical DPI.
namespace Twips {
double pixelsPerTwipX();
double pixelsPerTwipY();
int toPixelsX(double twips);
int toPixelsY(double twips);
double fromPixelsX(int pixels);
double fromPixelsY(int pixels);
QRect rect(double left, double top, double width, double height);
QSize size(double width, double height);
// Places a control at a twips rectangle inside its parent.
void place(QWidget *w, double left, double top, double width, double height);
} // namespace Twips
