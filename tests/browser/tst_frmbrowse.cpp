#include "frmbrowse.h"
#include "localhttpserver.h"
#include "messagebox.h"
#include "settingsrecord.h"
#include "twips.h"
#include "webbrowsercontrol.h"
#include "webenginetestmain.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPrinter>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWebEngineHistory>
#include <QWebEnginePage>

using namespace std::chrono_literals;

// Browser windows in a real MDI frame against pages of a local HTTP server.
class tst_frmBrowse : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void defaultHomePage();
    void designLayoutAfterLoad();
    void homePageFromRecord_data();
    void homePageFromRecord();
    void resize_data();
    void resize();
    void progressHandler_data();
    void progressHandler();
    void titledPageByEnterKey();
    void untitledPage();
    void backAndForward();
    void goWithAddressText_data();
    void goWithAddressText();
    void popUps_data();
    void popUps();
    void popUpToggleTakesEffectAtNextRequest();
    void frameNavigationRefreshesFromTopLevel();
    void sameDocumentNavigationUpdatesAddress();
    void printToPdfIsMultiPage();
    void printCommand_data();
    void printCommand();
    void controls_data();
    void controls();
    void tabOrder();

private:
    frmBrowse *newBrowserWindow();
    bool loadAndWait(frmBrowse *w, const QString &path);
    QString runJs(frmBrowse *w, const QString &script);
    void writeRecord(const QByteArray &bytes);

    LocalHttpServer m_server;
    QMdiArea m_area;
    QTemporaryDir m_dir;
    QList<QString> m_messages;
};

namespace {
QByteArray page(const QByteArray &title, const QByteArray &body)
{
    return "<!DOCTYPE html><html><head>" + (title.isNull() ? QByteArray() : "<title>" + title + "</title>") +
           "</head><body>" + body + "</body></html>";
}

int pdfPageCount(const QByteArray &pdf)
{
    static const QRegularExpression pageObject(QStringLiteral("/Type\\s*/Page(?!s)"));
    return int(QString::fromLatin1(pdf).count(pageObject));
}
} // namespace

void tst_frmBrowse::initTestCase()
{
    QVERIFY(m_server.listen());
    QVERIFY(m_dir.isValid());
    m_server.addPage(QStringLiteral("/title.html"), page("Local Title", "<p>hello</p>"));
    m_server.addPage(QStringLiteral("/second.html"), page("Second", "<p>second</p>"));
    m_server.addPage(QStringLiteral("/untitled.html"), page(QByteArray(), "<p>no title</p>"));
    m_server.addPage(QStringLiteral("/emptytitle.html"), page("", "<p>empty title</p>"));
    // The image arrives late, so the page reports progress before it completes.
    m_server.addPage(QStringLiteral("/slow.html"), page("Slow Page", "<img src=\"/slow.svg\"><p>slow</p>"));
    m_server.addPage(QStringLiteral("/slow.svg"),
                     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" height=\"10\"/>", 1200,
                     "image/svg+xml");
    m_server.addPage(QStringLiteral("/frames.html"),
                     page("Top Page", "<iframe id=\"f\" src=\"/frame1.html\"></iframe>"));
    m_server.addPage(QStringLiteral("/frame1.html"),
                     page("Frame One", "<a id=\"next\" href=\"/frame2.html\">next</a>"));
    m_server.addPage(QStringLiteral("/frame2.html"), page("Frame Two", "<p>two</p>"));
    m_server.addPage(QStringLiteral("/popup.html"),
                     page("Opener", "<script>var w = window.open('/popped.html');"
                                    "window.popupResult = w ? 'opened' : 'refused';</script>"));
    m_server.addPage(QStringLiteral("/popped.html"), page("Popped", "<p>pop-up</p>"));
    QByteArray longBody;
    for (int i = 0; i < 400; ++i)
        longBody += "<p>Line " + QByteArray::number(i) + " of a page long enough for several sheets.</p>";
    m_server.addPage(QStringLiteral("/long.html"), page("Long", longBody));

    m_area.resize(1400, 1000);
    m_area.show();
    frmBrowse::setFrame(&m_area);
    setMsgBoxHandler([this](const QString &text, int, const QString &) {
        m_messages << text;
        return int(vbOK);
    });
}

void tst_frmBrowse::init()
{
    QFile::remove(QString::fromLatin1(SettingsFileName));
    m_messages.clear();
    PopUpsAllowed = VbFalse;
}

void tst_frmBrowse::cleanup()
{
    m_area.closeAllSubWindows();
    QTRY_VERIFY(m_area.subWindowList().isEmpty());
    frmBrowse::setPrintDialogHandler({});
}

// As the main window opens one: load step, first caption, shown in the frame.
frmBrowse *tst_frmBrowse::newBrowserWindow()
{
    auto *w = new frmBrowse;
    w->Form_Load();
    w->setWindowTitle(QStringLiteral("Norvo "));
    frmBrowse::addToFrame(w)->show();
    return w;
}

bool tst_frmBrowse::loadAndWait(frmBrowse *w, const QString &path)
{
    QSignalSpy done(w->WebBrowser1, &WebBrowserControl::DocumentComplete);
    w->WebBrowser1->Navigate(m_server.url(path).toString());
    return done.wait(15000);
}

QString tst_frmBrowse::runJs(frmBrowse *w, const QString &script)
{
    QString result;
    bool finished = false;
    w->WebBrowser1->page()->runJavaScript(script, [&](const QVariant &v) {
        result = v.toString();
        finished = true;
    });
    if (!QTest::qWaitFor([&] { return finished; }, 10000))
        return QStringLiteral("<timeout>");
    return result;
}

void tst_frmBrowse::writeRecord(const QByteArray &bytes)
{
    QFile f(QString::fromLatin1(SettingsFileName));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

void tst_frmBrowse::defaultHomePage()
{
    frmBrowse *w = newBrowserWindow();
    // The bare host name, shown as written and handed to the control as an address.
    QCOMPARE(w->txtAddress->text(), QStringLiteral("example.com"));
    QCOMPARE(w->WebBrowser1->url(), QUrl(QStringLiteral("http://example.com")));
    QCOMPARE(w->windowTitle(), QStringLiteral("Norvo "));
    QCOMPARE(w->parentWidget()->windowTitle(), QStringLiteral("Norvo "));
    QVERIFY(QFile::exists(QString::fromLatin1(SettingsFileName)));
    QCOMPARE(QFileInfo(QString::fromLatin1(SettingsFileName)).size(), 0);

    // The host is unreachable here: the engine's error page completes the navigation.
    QSignalSpy done(w->WebBrowser1, &WebBrowserControl::DocumentComplete);
    QVERIFY(done.wait(15000));
    QCOMPARE(w->windowTitle(), QStringLiteral("Norvo - "));
    QCOMPARE(w->txtAddress->text(), QStringLiteral("http://example.com/"));
    QVERIFY(m_messages.isEmpty());
}

void tst_frmBrowse::designLayoutAfterLoad()
{
    frmBrowse *w = newBrowserWindow();
    QCOMPARE(w->txtAddress->x(), Twips::toPixelsX(50));
    QCOMPARE(w->txtAddress->geometry(), QRect(Twips::toPixelsX(50), Twips::toPixelsY(105),
                                              Twips::toPixelsX(4335), Twips::toPixelsY(285)));
    QVERIFY(qAbs(w->cmdGo->x() - Twips::toPixelsX(4405)) <= 1);
    QCOMPARE(w->cmdBack->geometry(), Twips::rect(5085, 60, 675, 765));
    QCOMPARE(w->Command1->geometry(), Twips::rect(7905, 60, 720, 765));
    QCOMPARE(w->WebBrowser1->pos(), QPoint(Twips::toPixelsX(200), Twips::toPixelsY(1590)));
    QCOMPARE(w->ProgressBox->pos(), QPoint(Twips::toPixelsX(200), Twips::toPixelsY(855)));
    // Sized from the outer size of the shown window, frame and title bar included.
    const QSize outer = w->parentWidget()->size();
    QCOMPARE(w->WebBrowser1->width(), Twips::toPixelsX(Twips::fromPixelsX(outer.width()) - 500));
    QCOMPARE(w->WebBrowser1->height(), Twips::toPixelsY(Twips::fromPixelsY(outer.height()) - 1500));
    QCOMPARE(w->ProgressBox->width(), w->WebBrowser1->width());
    QVERIFY(w->Line1->width() > w->width() / 2);
}

void tst_frmBrowse::homePageFromRecord_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<bool>("stored");
    // Padded to 40 with blanks, as a fixed-length record field is.
    const QString home = m_server.url(QStringLiteral("/title.html")).toString().leftJustified(40, QLatin1Char(' '));
    SettingsRecord r;
    r.HomePage = home;
    r.UseStoredSettings = -1;
    QTest::newRow("in force, padded with blanks") << r.toBytes() << true;
    QTest::newRow("in force, 200-byte file") << r.toBytes() + QByteArray(154, 'x') << true;
    r.UseStoredSettings = 1;
    QTest::newRow("UseStoredSettings 1 is not True") << r.toBytes() << false;
    r.UseStoredSettings = 0;
    QTest::newRow("UseStoredSettings 0") << r.toBytes() << false;
    QTest::newRow("text file") << QByteArray("[Settings]\nHome=http://example.org/\n") << false;
    QTest::newRow("short file") << QByteArray("http://") << false;
}

void tst_frmBrowse::homePageFromRecord()
{
    QFETCH(QByteArray, record);
    QFETCH(bool, stored);
    writeRecord(record);
    frmBrowse *w = newBrowserWindow();
    if (!stored) {
        QCOMPARE(w->txtAddress->text(), QStringLiteral("example.com"));
        return;
    }
    const QString home = QString::fromLatin1(record.left(40));
    QCOMPARE(w->txtAddress->text(), home); // the blanks too
    QSignalSpy done(w->WebBrowser1, &WebBrowserControl::DocumentComplete);
    QVERIFY(done.wait(15000));
    QCOMPARE(w->windowTitle(), QStringLiteral("Norvo - Local Title"));
    QCOMPARE(w->txtAddress->text(), home.trimmed());
}

void tst_frmBrowse::resize_data()
{
    QTest::addColumn<double>("outerWidth");
    QTest::addColumn<double>("outerHeight");
    QTest::addColumn<double>("browserWidth"); // -1: keeps the width it had
    QTest::addColumn<double>("browserHeight");
    QTest::newRow("9000 x 6000") << 9000.0 << 6000.0 << 8500.0 << 4500.0;
    QTest::newRow("narrower than 500") << 400.0 << 6000.0 << -1.0 << 4500.0;
    QTest::newRow("lower than 1500") << 9000.0 << 1200.0 << 8500.0 << -1.0;
}

void tst_frmBrowse::resize()
{
    QFETCH(double, outerWidth);
    QFETCH(double, outerHeight);
    QFETCH(double, browserWidth);
    QFETCH(double, browserHeight);
    // The smallest frame windows allow is too wide for the narrow row: host the window
    // in a plain container, whose size is then the window's outer size.
    QWidget container;
    auto *w = new frmBrowse(&container);
    container.show();
    w->Form_Load();
    w->resize(Twips::size(7000, 5000));
    const QSize before(w->WebBrowser1->width(), w->WebBrowser1->height());
    const int labelWidthBefore = w->ProgressBox->width();
    w->WebBrowser1->move(0, w->WebBrowser1->y());
    w->ProgressBox->move(0, w->ProgressBox->y());

    w->resize(Twips::size(outerWidth, outerHeight));
    QCOMPARE(w->WebBrowser1->x(), Twips::toPixelsX(200));
    QCOMPARE(w->WebBrowser1->y(), Twips::toPixelsY(1590));
    QCOMPARE(w->ProgressBox->x(), Twips::toPixelsX(200));
    const int expectedWidth = browserWidth < 0 ? before.width() : Twips::toPixelsX(browserWidth);
    const int expectedHeight = browserHeight < 0 ? before.height() : Twips::toPixelsY(browserHeight);
    QVERIFY2(qAbs(w->WebBrowser1->width() - expectedWidth) <= 1, qPrintable(QString::number(w->WebBrowser1->width())));
    QVERIFY(qAbs(w->WebBrowser1->height() - expectedHeight) <= 1);
    QVERIFY(qAbs(w->ProgressBox->width() - (browserWidth < 0 ? labelWidthBefore : expectedWidth)) <= 1);
}

void tst_frmBrowse::progressHandler_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("progressMax");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("percent"); // ProgressPercentText afterwards
    QTest::newRow("-1 with max 0 is done") << "/title.html" << -1 << 0 << "100% - Document Done   - Local Title"
                                           << "previous";
    QTest::newRow("0 of 0 keeps the text") << "/title.html" << 0 << 0 << "previous text" << "previous";
    QTest::newRow("5 of 0 keeps the text") << "/title.html" << 5 << 0 << "previous text" << "previous";
    QTest::newRow("7 of 7 is loading at 100") << "/title.html" << 7 << 7
                                              << "100% of Document Done   - Local Title" << "100";
    QTest::newRow("1 of 3") << "/title.html" << 1 << 3 << "33.3333333333333% of Document Done   - Local Title"
                            << "33.3333333333333";
    QTest::newRow("300 of 200") << "/title.html" << 300 << 200 << "150% of Document Done   - Local Title"
                                << "150";
    QTest::newRow("empty title, loading") << "/emptytitle.html" << 50 << 200 << "25% of Document Done   - "
                                          << "25";
    QTest::newRow("untitled, done") << "/untitled.html" << -1 << 100 << "100% - Document Done   - "
                                    << "previous";
}

void tst_frmBrowse::progressHandler()
{
    QFETCH(QString, path);
    QFETCH(int, progress);
    QFETCH(int, progressMax);
    QFETCH(QString, label);
    QFETCH(QString, percent);
    frmBrowse *w = newBrowserWindow();
    QVERIFY(loadAndWait(w, path));
    w->ProgressBox->setText(QStringLiteral("previous text"));
    w->ProgressPercentText = QStringLiteral("previous");
    w->WebBrowser1_ProgressChange(progress, progressMax);
    QCOMPARE(w->ProgressBox->text(), label);
    QCOMPARE(w->ProgressPercentText, percent);
}

void tst_frmBrowse::titledPageByEnterKey()
{
    frmBrowse *w = newBrowserWindow();
    QVERIFY(loadAndWait(w, QStringLiteral("/title.html")));
    QStringList labels;
    QObject scope;
    // Connected after the window's own handler, so it sees the label that handler set.
    connect(w->WebBrowser1, &WebBrowserControl::ProgressChange, &scope,
            [&] { labels << w->ProgressBox->text(); });
    QSignalSpy done(w->WebBrowser1, &WebBrowserControl::DocumentComplete);
    const QString url = m_server.url(QStringLiteral("/slow.html")).toString();
    w->txtAddress->setText(url);
    w->txtAddress->setFocus();
    QTest::keyClick(w->txtAddress, Qt::Key_Return);
    QVERIFY(done.wait(15000));

    QCOMPARE(w->windowTitle(), QStringLiteral("Norvo - Slow Page"));
    QCOMPARE(w->parentWidget()->windowTitle(), QStringLiteral("Norvo - Slow Page"));
    QCOMPARE(w->txtAddress->text(), url);
    QVERIFY(labels.size() >= 2);
    QCOMPARE(labels.last(), QStringLiteral("100% - Document Done   - Slow Page"));
    QCOMPARE(w->ProgressBox->text(), labels.last());
    static const QRegularExpression loading(QStringLiteral("^\\d+(\\.\\d+)?% of Document Done   - "));
    for (qsizetype i = 0; i + 1 < labels.size(); ++i)
        QVERIFY2(loading.match(labels[i]).hasMatch(), qPrintable(labels[i]));
    // The label wraps its text and keeps its height at least the design height.
    QVERIFY(w->ProgressBox->height() >= Twips::toPixelsY(210));
}

void tst_frmBrowse::untitledPage()
{
    frmBrowse *w = newBrowserWindow();
    QVERIFY(loadAndWait(w, QStringLiteral("/untitled.html")));
    QCOMPARE(w->windowTitle(), QStringLiteral("Norvo - "));
    QCOMPARE(w->ProgressBox->text(), QStringLiteral("100% - Document Done   - "));
}

void tst_frmBrowse::backAndForward()
{
    frmBrowse *w = newBrowserWindow();
    QVERIFY(loadAndWait(w, QStringLiteral("/title.html")));
    // A window whose first page is its only page: Back and Forward do nothing and say nothing.
    const QUrl first = w->WebBrowser1->url();
    const int historyItems = w->WebBrowser1->history()->count();
    QSignalSpy progress(w->WebBrowser1, &WebBrowserControl::ProgressChange);
    QTest::mouseClick(w->cmdBack, Qt::LeftButton);
    QTest::mouseClick(w->cmdForward, Qt::LeftButton);
    QVERIFY(!progress.wait(500));
    QCOMPARE(w->WebBrowser1->url(), first);
    QCOMPARE(w->WebBrowser1->history()->count(), historyItems);
    QVERIFY(m_messages.isEmpty());

    QVERIFY(loadAndWait(w, QStringLiteral("/second.html")));
    QSignalSpy done(w->WebBrowser1, &WebBrowserControl::DocumentComplete);
    QTest::mouseClick(w->cmdBack, Qt::LeftButton);
    QVERIFY(done.wait(15000));
    QCOMPARE(w->WebBrowser1->url(), first);
    QCOMPARE(w->windowTitle(), QStringLiteral("Norvo - Local Title"));
    QTest::mouseClick(w->cmdForward, Qt::LeftButton);
    QVERIFY(done.wait(15000));
    QCOMPARE(w->windowTitle(), QStringLiteral("Norvo - Second"));
    QTest::mouseClick(w->cmdRefresh, Qt::LeftButton);
    QVERIFY(done.wait(15000));
    QCOMPARE(m_server.hits(QStringLiteral("/second.html")), 3);
}

void tst_frmBrowse::goWithAddressText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("loadedPath"); // empty: nothing is loaded
    const QString hostPort = m_server.url(QStringLiteral("/")).authority();
    QTest::newRow("full address") << m_server.url(QStringLiteral("/second.html")).toString() << "/second.html";
    QTest::newRow("no scheme") << hostPort + QStringLiteral("/second.html") << "/second.html";
    QTest::newRow("surrounded by blanks") << QStringLiteral("  ") + hostPort + QStringLiteral("/second.html  ")
                                          << "/second.html";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("blanks only") << "     " << "";
}

void tst_frmBrowse::goWithAddressText()
{
    QFETCH(QString, text);
    QFETCH(QString, loadedPath);
    frmBrowse *w = newBrowserWindow();
    QVERIFY(loadAndWait(w, QStringLiteral("/title.html")));
    QSignalSpy done(w->WebBrowser1, &WebBrowserControl::DocumentComplete);
    w->txtAddress->setText(text);
    QTest::mouseClick(w->cmdGo, Qt::LeftButton);
    if (loadedPath.isEmpty()) {
        QVERIFY(!done.wait(500));
        QCOMPARE(w->WebBrowser1->url(), m_server.url(QStringLiteral("/title.html")));
        QCOMPARE(w->txtAddress->text(), text); // typing alone changes nothing
    } else {
        QVERIFY(done.wait(15000));
        QCOMPARE(w->WebBrowser1->url(), m_server.url(loadedPath));
        QCOMPARE(w->txtAddress->text(), m_server.url(loadedPath).toString());
    }
    QVERIFY(m_messages.isEmpty());
}

void tst_frmBrowse::popUps_data()
{
    QTest::addColumn<int>("allowed");
    QTest::newRow("allowed") << int(VbTrue);
    QTest::newRow("refused") << int(VbFalse);
}

void tst_frmBrowse::popUps()
{
    QFETCH(int, allowed);
    PopUpsAllowed = int16_t(allowed);
    const int poppedBefore = m_server.hits(QStringLiteral("/popped.html"));
    frmBrowse *opener = newBrowserWindow();
    QPointer<frmBrowse> popup;
    QString firstCaption;
    QObject scope; // ends the connection with this test function
    connect(&m_area, &QMdiArea::subWindowActivated, &scope, [&](QMdiSubWindow *sub) {
        auto *w = sub ? qobject_cast<frmBrowse *>(sub->widget()) : nullptr;
        if (w && w != opener && !popup) {
            popup = w;
            firstCaption = w->windowTitle();
        }
    });
    QVERIFY(loadAndWait(opener, QStringLiteral("/popup.html")));
    QTRY_VERIFY(!runJs(opener, QStringLiteral("window.popupResult")).isEmpty());

    if (allowed != VbTrue) {
        QTest::qWait(1000);
        QCOMPARE(m_area.subWindowList().size(), 1);
        QCOMPARE(m_server.hits(QStringLiteral("/popped.html")), poppedBefore);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(popup, 10000);
        QCOMPARE(firstCaption, QStringLiteral("Norvo"));
        QVERIFY(popup->WebBrowser1->RegisterAsBrowser);
        QCOMPARE(m_area.subWindowList().size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(popup->windowTitle(), QStringLiteral("Norvo - Popped"), 15000);
        QCOMPARE(popup->txtAddress->text(), m_server.url(QStringLiteral("/popped.html")).toString());
        QVERIFY(popup->parentWidget()->windowFlags() & Qt::WindowMaximizeButtonHint);
    }
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(opener->windowTitle(), QStringLiteral("Norvo - Opener"));
    QCOMPARE(opener->txtAddress->text(), m_server.url(QStringLiteral("/popup.html")).toString());
}

void tst_frmBrowse::popUpToggleTakesEffectAtNextRequest()
{
    PopUpsAllowed = VbTrue;
    const int popped = m_server.hits(QStringLiteral("/popped.html"));
    frmBrowse *w = newBrowserWindow();
    QVERIFY(loadAndWait(w, QStringLiteral("/popup.html")));
    QTRY_COMPARE(m_area.subWindowList().size(), 2);
    QTRY_COMPARE(m_server.hits(QStringLiteral("/popped.html")), popped + 1);

    PopUpsAllowed = VbFalse;
    QSignalSpy done(w->WebBrowser1, &WebBrowserControl::DocumentComplete);
    w->cmdRefresh_Click();
    QVERIFY(done.wait(15000));
    QTRY_VERIFY(!runJs(w, QStringLiteral("window.popupResult")).isEmpty());
    QTest::qWait(1000);
    QCOMPARE(m_area.subWindowList().size(), 2);
    QCOMPARE(m_server.hits(QStringLiteral("/popped.html")), popped + 1);
}

void tst_frmBrowse::frameNavigationRefreshesFromTopLevel()
{
    frmBrowse *w = newBrowserWindow();
    QVERIFY(loadAndWait(w, QStringLiteral("/frames.html")));
    QTRY_COMPARE(runJs(w, QStringLiteral("frames[0].document.title")), QStringLiteral("Frame One"));
    runJs(w, QStringLiteral("frames[0].document.getElementById('next').click()"));
    QTRY_COMPARE(runJs(w, QStringLiteral("frames[0].document.title")), QStringLiteral("Frame Two"));
    QTest::qWait(200);
    QCOMPARE(w->windowTitle(), QStringLiteral("Norvo - Top Page"));
    QCOMPARE(w->txtAddress->text(), m_server.url(QStringLiteral("/frames.html")).toString());
}

void tst_frmBrowse::sameDocumentNavigationUpdatesAddress()
{
    frmBrowse *w = newBrowserWindow();
    QVERIFY(loadAndWait(w, QStringLiteral("/title.html")));
    QSignalSpy navigated(w->WebBrowser1, &WebBrowserControl::NavigateComplete2);
    runJs(w, QStringLiteral("location.hash = 'part'"));
    QTRY_COMPARE(navigated.count(), 1);
    QCOMPARE(w->txtAddress->text(), m_server.url(QStringLiteral("/title.html#part")).toString());
    QCOMPARE(w->windowTitle(), QStringLiteral("Norvo - Local Title"));
}

void tst_frmBrowse::printToPdfIsMultiPage()
{
    frmBrowse *w = newBrowserWindow();
    QVERIFY(loadAndWait(w, QStringLiteral("/long.html")));
    const QString file = m_dir.filePath(QStringLiteral("long.pdf"));
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(file);
    QSignalSpy finished(w, &frmBrowse::printingFinished);
    w->printPage(std::move(printer));
    QVERIFY(!w->Command1->isEnabled());
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.first().first().toBool(), true);
    QVERIFY(w->Command1->isEnabled());
    QFile pdf(file);
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    const QByteArray bytes = pdf.readAll();
    QVERIFY(bytes.startsWith("%PDF-"));
    QVERIFY2(pdfPageCount(bytes) >= 3, qPrintable(QString::number(pdfPageCount(bytes))));
    // Vector output stays small; a rasterized page would be hundreds of kilobytes.
    QVERIFY(bytes.size() < 2 * 1024 * 1024);
}

void tst_frmBrowse::printCommand_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("user prints to a PDF file") << true;
    QTest::newRow("user cancels the dialog") << false;
}

void tst_frmBrowse::printCommand()
{
    QFETCH(bool, accept);
    frmBrowse *w = newBrowserWindow();
    QVERIFY(loadAndWait(w, QStringLiteral("/title.html")));
    const QString file = m_dir.filePath(QStringLiteral("command.pdf"));
    QFile::remove(file);
    int dialogs = 0;
    frmBrowse::setPrintDialogHandler([&](QPrinter *printer, QWidget *parent) {
        ++dialogs;
        [&] { QCOMPARE(parent, w); }();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(file);
        return accept;
    });
    QSignalSpy finished(w, &frmBrowse::printingFinished);
    QTest::mouseClick(w->Command1, Qt::LeftButton);
    QCOMPARE(dialogs, 1);
    if (accept) {
        QVERIFY(finished.wait(30000));
        QVERIFY(finished.first().first().toBool());
        QVERIFY(QFileInfo(file).size() > 0);
    } else {
        QVERIFY(!finished.wait(500));
        QVERIFY(!QFile::exists(file));
        QVERIFY(w->Command1->isEnabled());
    }
    QVERIFY(m_messages.isEmpty());
}

void tst_frmBrowse::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("accessibleName");
    QTest::addColumn<bool>("graphical");
    QTest::newRow("txtAddress") << "txtAddress" << "Address" << false;
    QTest::newRow("cmdGo") << "cmdGo" << "Go" << true;
    QTest::newRow("WebBrowser1") << "WebBrowser1" << "Web page" << false;
    QTest::newRow("cmdBack") << "cmdBack" << "Back" << true;
    QTest::newRow("cmdForward") << "cmdForward" << "Forward" << true;
    QTest::newRow("cmdStop") << "cmdStop" << "Stop" << true;
    QTest::newRow("cmdRefresh") << "cmdRefresh" << "Refresh" << true;
    QTest::newRow("ProgressBox") << "ProgressBox" << "Progress" << false;
    QTest::newRow("Command1") << "Command1" << "Print" << true;
}

void tst_frmBrowse::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, accessibleName);
    QFETCH(bool, graphical);
    frmBrowse w;
    auto *control = w.findChild<QWidget *>(name, Qt::FindDirectChildrenOnly);
    QVERIFY(control);
    QCOMPARE(control->accessibleName(), accessibleName);
    if (graphical) {
        auto *button = qobject_cast<QToolButton *>(control);
        QVERIFY(button);
        QCOMPARE(button->text(), accessibleName);
        QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        // Each image must actually render (resource linked, SVG support present).
        const QImage image = button->icon().pixmap(24, 24).toImage();
        QVERIFY(!image.isNull());
        int painted = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                painted += image.pixelColor(x, y).alpha() > 0;
        QVERIFY(painted > image.width() * image.height() / 8);
    }
}

void tst_frmBrowse::tabOrder()
{
    auto *w = new frmBrowse;
    frmBrowse::addToFrame(w)->show();
    // A page with one link: Tab stops in the page once, then leaves it (an empty page passes
    // the focus straight on, as a browser does).
    QVERIFY(loadAndWait(w, QStringLiteral("/frame1.html")));
    QVERIFY(QTest::qWaitForWindowExposed(&m_area));
    m_area.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&m_area));
    const QList<QWidget *> expected{w->cmdGo,      w->WebBrowser1, w->cmdBack,  w->cmdForward,
                                    w->cmdStop,    w->cmdRefresh,  w->Command1, w->txtAddress};
    // The control of the window that holds the keyboard focus.
    const auto focusedControl = [w]() -> QWidget * {
        for (QWidget *f = QApplication::focusWidget(); f; f = f->parentWidget())
            if (f->parentWidget() == w)
                return f;
        return nullptr;
    };
    w->txtAddress->setFocus();
    QTRY_COMPARE(focusedControl(), w->txtAddress);
    // The view takes part once the page widget it hands the focus to is up.
    QTRY_VERIFY(w->WebBrowser1->focusProxy() && w->WebBrowser1->focusProxy()->isVisible());
    for (QWidget *next : expected) {
        if (focusedControl() == w->WebBrowser1) {
            // Inside the page Tab first walks the page's own links; the view passes the focus
            // on after the last of them.
            for (int tries = 0; tries < 5; ++tries) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                if (QTest::qWaitFor([&] { return focusedControl() != w->WebBrowser1; }, 1000))
                    break;
            }
        } else {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QTRY_COMPARE(focusedControl(), next);
    }
}

VELMARIC_WEBENGINE_TEST_MAIN(tst_frmBrowse)
#include "tst_frmbrowse.moc"
