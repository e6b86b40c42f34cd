#include "closedproxy.h"
#include "frmbrowse.h"
#include "localhttpserver.h"
#include "msgboxrecorder.h"
#include "progresstext.h"
#include "settingsrecord.h"
#include "webbrowsercontrol.h"

#include <QPrinter>
#include <QtTest>
#include <QtWidgets>

// Browser windows in a real MDI frame against pages of a local HTTP server, and the texts they
// show, row by row.
class tst_frmBrowse : public QObject {
    Q_OBJECT
    LocalHttpServer m_server;
    QMdiArea m_area;
    MsgBoxRecorder m_boxes;

    // As the main window opens one: load step, then shown in the frame.
    frmBrowse *newBrowserWindow()
    {
        auto *w = new frmBrowse(&m_area);
        w->Form_Load();
        w->addToFrame()->show();
        return w;
    }
    QString url(const char *path) const { return m_server.url(QLatin1String(path)).toString(); }
    bool loadAndWait(frmBrowse *w, const char *path)
    {
        QSignalSpy done(w->WebBrowser1, &WebBrowserControl::DocumentComplete);
        w->WebBrowser1->Navigate(url(path));
        return done.wait(15000);
    }
    QString runJs(frmBrowse *w, const QString &script)
    {
        QString result = QStringLiteral("<timeout>");
        w->WebBrowser1->page()->runJavaScript(script,
                                              [&](const QVariant &v) { result = v.toString(); });
        (void)QTest::qWaitFor([&] { return result != QLatin1String("<timeout>"); }, 10000);
        return result;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
        m_server.pages = {
            {"/title.html", {"<title>Local Title</title>hello"}},
            // The image arrives late, so these pages report progress before they complete.
            {"/slow.html", {"<title>Slow Page</title><img src=\"/slow.svg\">"}},
            {"/untitled.html", {"<img src=\"/slow.svg\">"}},
            {"/slow.svg", {"<svg xmlns=\"http://www.w3.org/2000/svg\"/>", "image/svg+xml", 1200}},
            {"/frames.html", {"<title>Top Page</title><iframe src=\"/frame1.html\"></iframe>"}},
            {"/frame1.html",
             {"<title>Frame One</title><a id=\"next\" href=\"/frame2.html\">next</a>"}},
            {"/frame2.html", {"<title>Frame Two</title>two"}},
            {"/popup.html", {"<title>Opener</title><script>window.open('/popped.html')</script>"}},
            {"/popped.html", {"<title>Popped</title>pop-up"}},
            {"/long.html",
             {"<title>Long</title>" +
              QByteArray("<p>A page long enough for several sheets.</p>").repeated(400)}},
        };
        m_area.resize(1400, 1000);
        m_area.show();
    }
    void init() { PopUpsAllowed = VbFalse; }
    void cleanup()
    {
        m_area.closeAllSubWindows();
        QTRY_VERIFY(m_area.subWindowList().isEmpty());
        frmBrowse::setPrintDialogHandler({});
        const QStringList messages = m_boxes.take();
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(u'|')));
    }

    // Each row computes a text and names the text it must be.
    void texts_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        // Ratio and percentage as the platform's number conversion writes them: 15 significant
        // digits, the locale's decimal separator, no group separators, no trailing zeros.
        const auto progress = [](const char *name, int n, int max, const QString &expected,
                                 const QLocale &locale = QLocale::c()) {
            const ProgressTexts t = progressTexts(n, max, locale);
            QTest::newRow(name) << t.ratio + u' ' + t.percent << expected;
        };
        progress("1 of 3", 1, 3, "0.333333333333333 33.3333333333333");
        // The percentage comes from the rounded ratio text (80.9523809523809 from the exact one).
        progress("17 of 21", 17, 21, "0.80952380952381 80.952380952381");
        progress("7 of 10, binary noise cut", 7, 10, "0.7 70");
        progress("INT_MAX, no overflow", INT_MAX, 1, "2147483647 214748364700");
        progress("tiny, exponent", 1, INT_MAX, "4.6566128752458e-10 4.6566128752458e-08");
        progress("German, no group separator", 2469135, 2, "1234567,5 123456750",
                 QLocale(QStringLiteral("de_DE")));
        // The engine names an untitled page by its address; the window shows no title then (a
        // real title and an untitled http page are shown by goToTypedAddress).
        const auto title = [](const char *name, const QString &engineTitle, const char *url,
                              bool shown) {
            QTest::newRow(name) << pageTitleOrEmpty(engineTitle, QUrl(url))
                                << (shown ? engineTitle : QString());
        };
        title("untitled bare host", "example.com", "http://example.com/", false);
        title("untitled https", "https://a.example/x", "https://a.example/x", false);
        title("untitled local file", "page.html", "file:///tmp/page.html", false);
        title("resembles another host", "example.com", "http://example.org/", true);
        title("names another page", "127.0.0.1:8765/b.html", "http://127.0.0.1:8765/a.html", true);
    }
    void texts()
    {
        QFETCH(QString, actual);
        QTEST(actual, "expected");
    }

    // A report without a maximum keeps the label, but still tells when the page is done.
    void progressWithoutMaximum()
    {
        frmBrowse *w = newBrowserWindow();
        QVERIFY(loadAndWait(w, "/title.html"));
        w->ProgressBox->setText(QStringLiteral("old text"));
        w->WebBrowser1_ProgressChange(0, 0);
        QCOMPARE(w->ProgressBox->text(), QStringLiteral("old text"));
        w->WebBrowser1_ProgressChange(-1, 0);
        QCOMPARE(w->ProgressBox->text(), QStringLiteral("100% - Document Done   - Local Title"));
    }

    // Address typed and Enter pressed: caption, address and progress label during and after the
    // load; an untitled page has an empty title in both.
    void goToTypedAddress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("path"); // empty: nothing is loaded
        QTest::addColumn<QString>("title");
        const QString host = m_server.url(QStringLiteral("/")).authority();
        QTest::newRow("titled page") << url("/slow.html") << "/slow.html" << QString("Slow Page");
        QTest::newRow("untitled, bare") << host + "/untitled.html"
                                        << "/untitled.html" << QString();
        QTest::newRow("blanks around") << "  " + host + "/slow.html  "
                                       << "/slow.html" << QString("Slow Page");
        QTest::newRow("blanks only") << "     " << QString() << QString();
    }
    void goToTypedAddress()
    {
        QFETCH(QString, text);
        QFETCH(QString, path);
        QFETCH(QString, title);
        frmBrowse *w = newBrowserWindow();
        QVERIFY(loadAndWait(w, "/title.html"));
        QStringList labels;
        QObject scope;
        // Connected after the window's own handler, so it sees the label that handler set.
        connect(w->WebBrowser1, &WebBrowserControl::ProgressChange, &scope,
                [&] { labels << w->ProgressBox->text(); });
        QSignalSpy done(w->WebBrowser1, &WebBrowserControl::DocumentComplete);
        w->txtAddress->setText(text);
        QTest::keyClick(w->txtAddress, Qt::Key_Return);
        QCOMPARE(done.wait(path.isEmpty() ? 500 : 15000), !path.isEmpty());
        QCOMPARE(w->txtAddress->text(), path.isEmpty() ? text : m_server.url(path).toString());
        QCOMPARE(w->WebBrowser1->url().path(),
                 path.isEmpty() ? QStringLiteral("/title.html") : path);
        if (path.isEmpty())
            return;
        QCOMPARE(w->parentWidget()->windowTitle(), "Norvo - " + title);
        QVERIFY(labels.size() >= 2);
        QCOMPARE(labels.takeLast(), "100% - Document Done   - " + title);
        // What a screen reader reads is the label's current text.
        QCOMPARE(QAccessible::queryAccessibleInterface(w->ProgressBox)->text(QAccessible::Name),
                 w->ProgressBox->text());
        // Until the new page names itself the label carries the previous page's title.
        static const QRegularExpression loading(
            QStringLiteral("^\\d+(\\.\\d+)?% of Document Done   - "));
        for (const QString &l : labels)
            QVERIFY2(loading.match(l).hasMatch(), qPrintable(l));
        QVERIFY(labels.last().endsWith("Document Done   - " + title));
    }

    // PopUpsAllowed is read at every request: the opener page is loaded once allowed, then
    // refused.
    void popUps()
    {
        const int before = m_server.hits.value("/popped.html");
        const auto popped = [&] { return m_server.hits.value("/popped.html") - before; };
        int opened = 0;
        frmBrowse *opener = newBrowserWindow();
        for (bool a : {true, false}) {
            PopUpsAllowed = a ? VbTrue : VbFalse;
            QVERIFY(loadAndWait(opener, "/popup.html"));
            opened += a;
            if (!a) // a refused pop-up gets a second to show up anyway
                QVERIFY(!QTest::qWaitFor([&] { return popped() > opened; }, 1000));
            QTRY_COMPARE(popped(), opened);
        }
        QCOMPARE(m_area.subWindowList().size(), 2);
        auto *popup = qobject_cast<frmBrowse *>(m_area.subWindowList().last()->widget());
        QVERIFY(popup && popup != opener && popup->WebBrowser1->RegisterAsBrowser);
        QTRY_COMPARE_WITH_TIMEOUT(popup->windowTitle(), QStringLiteral("Norvo - Popped"), 15000);
        QCOMPARE(popup->txtAddress->text(), url("/popped.html"));
    }

    // Back and Forward without history do nothing; a frame's navigation leaves caption and address
    // at the top-level page; a same-document one updates the address.
    void inPageNavigation()
    {
        frmBrowse *w = newBrowserWindow();
        QVERIFY(loadAndWait(w, "/frames.html"));
        QSignalSpy progress(w->WebBrowser1, &WebBrowserControl::ProgressChange);
        QTest::mouseClick(w->cmdBack, Qt::LeftButton);
        QTest::mouseClick(w->cmdForward, Qt::LeftButton);
        QVERIFY(!progress.wait(500));
        QCOMPARE(w->WebBrowser1->url().toString(), url("/frames.html"));

        runJs(w, QStringLiteral("frames[0].document.getElementById('next').click()"));
        QTRY_COMPARE(runJs(w, QStringLiteral("frames[0].document.title")),
                     QStringLiteral("Frame Two"));
        const auto moved = [w] { return w->windowTitle() != QLatin1String("Norvo - Top Page"); };
        QVERIFY(!QTest::qWaitFor(moved, 200));
        QCOMPARE(w->txtAddress->text(), url("/frames.html"));
        runJs(w, QStringLiteral("location.hash = 'part'"));
        QTRY_COMPARE(w->txtAddress->text(), url("/frames.html#part"));
        QVERIFY(!moved());
    }

    void print_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::addColumn<bool>("closeAtOnce"); // the window is closed while the page prints
        QTest::newRow("printed to a PDF file") << true << false;
        QTest::newRow("dialog cancelled") << false << false;
        QTest::newRow("window closed while printing") << true << true;
    }
    void print()
    {
        QFETCH(bool, accept);
        QFETCH(bool, closeAtOnce);
        frmBrowse *w = newBrowserWindow();
        QVERIFY(loadAndWait(w, "/long.html"));
        // A PDF file of the row's own in the test's working directory.
        const QString file = QString::fromLatin1(QTest::currentDataTag()) + ".pdf";
        frmBrowse::setPrintDialogHandler([&](QPrinter *printer, QWidget *) {
            printer->setOutputFileName(file);
            return accept;
        });
        QSignalSpy finished(w, &frmBrowse::printingFinished);
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(w->Command1->isEnabled(), !accept); // no second job while one runs
        QPointer<QWidget> sub = w->parentWidget();
        if (closeAtOnce) {
            sub->close();
            QVERIFY(!sub->isVisible()); // out of sight at once, gone once printed
        }
        QCOMPARE(finished.wait(accept ? 30000 : 500), accept);
        if (closeAtOnce)
            QTRY_VERIFY(sub.isNull());
        else
            QVERIFY(w->Command1->isEnabled());
        QFile pdf(file);
        QCOMPARE(pdf.open(QIODevice::ReadOnly), accept);
        if (!accept)
            return;
        QVERIFY(finished.first().first().toBool());
        const QString text = QString::fromLatin1(pdf.readAll());
        QVERIFY(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)"))) >= 3);
        QVERIFY(!text.contains(
            QRegularExpression(QStringLiteral("/Subtype\\s*/Image")))); // vector, not rasterized
    }

    // Each button image must render (resource linked, SVG support present).
    void buttonImagesRender()
    {
        frmBrowse w;
        for (QToolButton *b : w.findChildren<QToolButton *>())
            QVERIFY2(!b->icon().pixmap(24, 24).isNull(), qPrintable(b->objectName()));
    }

    // Tab reaches the page view after Go and leaves it (past the page's one link) for Back.
    void tabThroughThePage()
    {
        frmBrowse *w = newBrowserWindow();
        QVERIFY(loadAndWait(w, "/frame1.html"));
        m_area.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m_area));
        QTRY_VERIFY(w->WebBrowser1->focusProxy() && w->WebBrowser1->focusProxy()->isVisible());
        const auto inPage = [w] { return w->WebBrowser1->isAncestorOf(qApp->focusWidget()); };
        w->txtAddress->setFocus();
        QTest::keyClick(w->txtAddress, Qt::Key_Tab);
        QTRY_COMPARE(QApplication::focusWidget(), w->cmdGo);
        QTest::keyClick(w->cmdGo, Qt::Key_Tab);
        QTRY_VERIFY(inPage());
        for (int tries = 0; tries < 5 && inPage(); ++tries) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            (void)QTest::qWaitFor([&] { return !inPage(); }, 1000);
        }
        QCOMPARE(QApplication::focusWidget(), w->cmdBack);
    }
};

VELMARIC_WINDOW_TEST_MAIN(tst_frmBrowse)
#include "tst_frmbrowse.moc"
