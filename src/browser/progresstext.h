#pragma once
#include <QLocale>
#include <QString>

// Number and progress texts of the browser window's progress label.

// A double as the platform's standard conversion writes it: up to 15 significant digits,
// the locale's decimal separator, no group separators, no trailing zeros.
QString doubleToText(double value, const QLocale &locale = QLocale());
// The inverse for texts made by doubleToText; text that is no number reads as 0.
double textToDouble(const QString &text, const QLocale &locale = QLocale());

struct ProgressTexts {
    QString ratio;   // Progress / ProgressMax
    QString percent; // the ratio text read back, times 100 (not cut to a whole number)
};
// progressMax must not be 0.
ProgressTexts progressTexts(int progress, int progressMax, const QLocale &locale = QLocale());

QString progressLoadingText(const QString &percentText, const QString &title);
QString progressDoneText(const QString &title);
