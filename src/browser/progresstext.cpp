#include "progresstext.h"

namespace {
QLocale plainNumbers(QLocale locale)
{
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}
} // namespace

QString doubleToText(double value, const QLocale &locale)
{
    // 'g' drops trailing zeros and switches to an exponent only for very large or small values.
    return plainNumbers(locale).toString(value, 'g', 15);
}

double textToDouble(const QString &text, const QLocale &locale)
{
    bool ok = false;
    const double v = plainNumbers(locale).toDouble(text, &ok);
    return ok ? v : 0.0;
}

ProgressTexts progressTexts(int progress, int progressMax, const QLocale &locale)
{
    ProgressTexts t;
    t.ratio = doubleToText(double(progress) / double(progressMax), locale);
    // Reading the rounded ratio text back keeps 1/3 at 33.3333333333333, not 33.33333333333333.
    t.percent = doubleToText(textToDouble(t.ratio, locale) * 100, locale);
    return t;
}

QString progressLoadingText(const QString &percentText, const QString &title)
{
    return percentText + QStringLiteral("% of Document Done  ") + QStringLiteral(" - ") + title;
}

QString progressDoneText(const QString &title)
{
    return QStringLiteral("100% - Document Done  ") + QStringLiteral(" - ") + title;
}
