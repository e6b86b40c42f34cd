#include "progresstext.h"
#include "webbrowsercontrol.h"

#include <QtTest>
#include <climits>

// Progress ratio texts and page titles: pure functions, row by row. The label texts built from
// them are checked on a real window in tst_frmbrowse.
class tst_BrowserTexts : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Ratio and percentage as the platform's number conversion writes them: 15 significant digits,
    // the locale's decimal separator, no group separators, no trailing zeros.
    void progressTexts_data()
    {
        QTest::addColumn<int>("progress");
        QTest::addColumn<int>("progressMax");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("texts"); // ratio and percentage
        const QLocale c = QLocale::c(), de(QStringLiteral("de_DE"));
        QTest::newRow("1 of 3") << 1 << 3 << c << "0.333333333333333 33.3333333333333";
        // The percentage comes from the rounded ratio text (80.9523809523809 from the exact one).
        QTest::newRow("17 of 21") << 17 << 21 << c << "0.80952380952381 80.952380952381";
        QTest::newRow("7 of 10, binary noise cut") << 7 << 10 << c << "0.7 70";
        QTest::newRow("INT_MAX, no overflow or exponent")
            << INT_MAX << 1 << c << "2147483647 214748364700";
        QTest::newRow("tiny ratio, exponent")
            << 1 << INT_MAX << c << "4.6566128752458e-10 4.6566128752458e-08";
        QTest::newRow("German, no group separator") << 2469135 << 2 << de << "1234567,5 123456750";
        QTest::newRow("German, 1 of 3") << 1 << 3 << de << "0,333333333333333 33,3333333333333";
    }
    void progressTexts()
    {
        QFETCH(int, progress);
        QFETCH(int, progressMax);
        QFETCH(QLocale, locale);
        const ProgressTexts t = ::progressTexts(progress, progressMax, locale);
        QTEST(t.ratio + u' ' + t.percent, "texts");
    }

    // The engine names an untitled page by its address; the window shows no title then.
    void pageTitle_data()
    {
        QTest::addColumn<QString>("engineTitle");
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QString>("title");
        const QUrl local(QStringLiteral("http://127.0.0.1:8765/a.html"));
        QTest::newRow("real title") << "Page A" << local << "Page A";
        QTest::newRow("untitled http page") << "127.0.0.1:8765/a.html" << local << QString();
        QTest::newRow("untitled bare host")
            << "example.com" << QUrl("http://example.com/") << QString();
        QTest::newRow("untitled https")
            << "https://example.com/x" << QUrl("https://example.com/x") << QString();
        QTest::newRow("untitled local file")
            << "page.html" << QUrl("file:///tmp/page.html") << QString();
        QTest::newRow("resembles another host")
            << "example.com" << QUrl("http://example.org/") << "example.com";
        QTest::newRow("names another page")
            << "127.0.0.1:8765/b.html" << local << "127.0.0.1:8765/b.html";
    }
    void pageTitle()
    {
        QFETCH(QString, engineTitle);
        QFETCH(QUrl, url);
        QTEST(pageTitleOrEmpty(engineTitle, url), "title");
    }
};

QTEST_GUILESS_MAIN(tst_BrowserTexts)
#include "tst_browsertexts.moc"
