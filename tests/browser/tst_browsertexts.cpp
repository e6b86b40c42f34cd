#include "progresstext.h"
#include "webbrowsercontrol.h"

#include <QTest>
#include <climits>

// Number texts, progress texts and page titles: pure functions, row by row.
class tst_BrowserTexts : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void doubleToText_data();
    void doubleToText();
    void textRoundTrips_data();
    void textRoundTrips();
    void progressTexts_data();
    void progressTexts();
    void labelTexts_data();
    void labelTexts();
    void pageTitle_data();
    void pageTitle();
};

void tst_BrowserTexts::doubleToText_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("one third") << "C" << 1.0 / 3 << "0.333333333333333";
    QTest::newRow("two thirds rounds up") << "C" << 2.0 / 3 << "0.666666666666667";
    QTest::newRow("whole number") << "C" << 25.0 << "25";
    QTest::newRow("zero") << "C" << 0.0 << "0";
    QTest::newRow("negative") << "C" << -0.05 << "-0.05";
    QTest::newRow("no trailing zeros") << "C" << 1.5 << "1.5";
    QTest::newRow("binary noise cut at 15 digits") << "C" << 0.7 * 100 << "70";
    QTest::newRow("no group separator") << "C" << 1234567.5 << "1234567.5";
    QTest::newRow("15 digits integral") << "C" << 214748364700.0 << "214748364700";
    QTest::newRow("German decimal comma") << "de_DE" << 1.0 / 3 << "0,333333333333333";
    QTest::newRow("German no group separator") << "de_DE" << 1234567.5 << "1234567,5";
}

void tst_BrowserTexts::doubleToText()
{
    QFETCH(QString, locale);
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(::doubleToText(value, QLocale(locale)), text);
}

void tst_BrowserTexts::textRoundTrips_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<double>("value");
    QTest::newRow("tiny") << "C" << 1e-20;
    QTest::newRow("huge") << "C" << 3.5e300;
    QTest::newRow("tiny German") << "de_DE" << 2.5e-17;
    QTest::newRow("ratio above one") << "de_DE" << 1.5;
}

// Very small and large ratios may use an exponent, as long as the text reads back as the number.
void tst_BrowserTexts::textRoundTrips()
{
    QFETCH(QString, locale);
    QFETCH(double, value);
    const QLocale l(locale);
    QCOMPARE(textToDouble(::doubleToText(value, l), l), value);
}

void tst_BrowserTexts::progressTexts_data()
{
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("progressMax");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("ratio");
    QTest::addColumn<QString>("percent");
    QTest::newRow("1 of 3") << 1 << 3 << "C" << "0.333333333333333" << "33.3333333333333";
    QTest::newRow("2 of 3") << 2 << 3 << "C" << "0.666666666666667" << "66.6666666666667";
    QTest::newRow("50 of 200") << 50 << 200 << "C" << "0.25" << "25";
    QTest::newRow("300 of 200, over 100") << 300 << 200 << "C" << "1.5" << "150";
    QTest::newRow("7 of 7") << 7 << 7 << "C" << "1" << "100";
    QTest::newRow("70 of 100") << 70 << 100 << "C" << "0.7" << "70";
    QTest::newRow("0 of 100") << 0 << 100 << "C" << "0" << "0";
    QTest::newRow("negative max") << 1 << -4 << "C" << "-0.25" << "-25";
    QTest::newRow("extreme") << INT_MAX << 1 << "C" << "2147483647" << "214748364700";
    QTest::newRow("1 of 3, German") << 1 << 3 << "de_DE" << "0,333333333333333" << "33,3333333333333";
}

void tst_BrowserTexts::progressTexts()
{
    QFETCH(int, progress);
    QFETCH(int, progressMax);
    QFETCH(QString, locale);
    QFETCH(QString, ratio);
    QFETCH(QString, percent);
    const ProgressTexts t = ::progressTexts(progress, progressMax, QLocale(locale));
    QCOMPARE(t.ratio, ratio);
    QCOMPARE(t.percent, percent);
}

void tst_BrowserTexts::labelTexts_data()
{
    QTest::addColumn<bool>("done");
    QTest::addColumn<QString>("percent");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("loading") << false << "25" << "Local" << "25% of Document Done   - Local";
    QTest::newRow("loading, empty title") << false << "33.3333333333333" << ""
                                          << "33.3333333333333% of Document Done   - ";
    QTest::newRow("done") << true << "" << "Local" << "100% - Document Done   - Local";
    QTest::newRow("done, empty title") << true << "" << "" << "100% - Document Done   - ";
    QTest::newRow("title kept as given") << true << "" << "  A - B  " << "100% - Document Done   -   A - B  ";
}

void tst_BrowserTexts::labelTexts()
{
    QFETCH(bool, done);
    QFETCH(QString, percent);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QCOMPARE(done ? progressDoneText(title) : progressLoadingText(percent, title), text);
}

void tst_BrowserTexts::pageTitle_data()
{
    QTest::addColumn<QString>("engineTitle");
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("title");
    const QUrl local(QStringLiteral("http://127.0.0.1:8765/a.html"));
    QTest::newRow("real title") << "Page A" << local << "Page A";
    QTest::newRow("untitled http page") << "127.0.0.1:8765/a.html" << local << "";
    QTest::newRow("untitled bare host") << "example.com" << QUrl("http://example.com/") << "";
    QTest::newRow("untitled with query") << "example.com/?q=1" << QUrl("http://example.com/?q=1") << "";
    QTest::newRow("untitled https keeps scheme") << "https://example.com/x" << QUrl("https://example.com/x")
                                                 << "";
    QTest::newRow("untitled local file") << "page.html" << QUrl("file:///tmp/page.html") << "";
    QTest::newRow("blank page") << "about:blank" << QUrl("about:blank") << "";
    QTest::newRow("no page yet") << "" << QUrl() << "";
    QTest::newRow("title that only resembles the address") << "example.com" << QUrl("http://example.org/")
                                                           << "example.com";
    QTest::newRow("title naming another page") << "127.0.0.1:8765/b.html" << local << "127.0.0.1:8765/b.html";
}

void tst_BrowserTexts::pageTitle()
{
    QFETCH(QString, engineTitle);
    QFETCH(QUrl, url);
    QFETCH(QString, title);
    QCOMPARE(pageTitleOrEmpty(engineTitle, url), title);
}

QTEST_GUILESS_MAIN(tst_BrowserTexts)
#include "tst_browsertexts.moc"
