#include "closedproxy.h"
#include "frmbrowse.h"
#include "localhttpserver.h"
#include "messagebox.h"
#include "processenv.h"
#include "settingsrecord.h"
#include "twips.h"
#include "webbrowsercontrol.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPrinter>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

static QByteArray page(const QByteArray &title, const QByteArray &body)
{
    return "<html><head>" + (title.isNull() ? "" : "<title>" + title + "</title>") +
           "</head><body>" + body + "</body></html>";
}

// Browser windows in a real MDI frame against pages of a local HTTP server.
class tst_frmBrowse : public QObject {
    Q_OBJECT
    LocalHttpServer m_server;
    QMdiArea m_area;
    QStringList m_messages;

    // As the main window opens one: load step, first caption, shown in the frame.
    frmBrowse *newBrowserWindow()
    {
        auto *w = new frmBrowse;
        w->Form_Load();
        w->setWindowTitle(QStringLiteral("Norvo "));
        frmBrowse::addToFrame(w)->show();
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
            {"/title.html", {page("Local Title", "hello")}},
            // The image arrives late, so these pages report progress before they complete.
            {"/slow.html", {page("Slow Page", "<img src=\"/slow.svg\">")}},
            {"/untitled.html", {page({}, "<img src=\"/slow.svg\">")}},
            {"/slow.svg",
             {"<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\" height=\"9\"/>",
              "image/svg+xml", 1200}},
            {"/frames.html", {page("Top Page", "<iframe src=\"/frame1.html\"></iframe>")}},
            {"/frame1.html", {page("Frame One", "<a id=\"next\" href=\"/frame2.html\">next</a>")}},
            {"/frame2.html", {page("Frame Two", "two")}},
            {"/popup.html", {page("Opener", "<script>window.open('/popped.html');</script>")}},
            {"/popped.html", {page("Popped", "pop-up")}},
            {"/long.html",
             {page("Long",
                   QByteArray("<p>A page long enough for several sheets.</p>").repeated(400))}},
        };
        m_area.resize(1400, 1000);
        m_area.show();
        frmBrowse::setFrame(&m_area);
        setMsgBoxHandler([this](const QString &text, int, const QString &) {
            m_messages << text;
            return int(vbOK);
        });
    }
    void init()
    {
        QFile::remove(QString::fromLatin1(SettingsFileName));
        PopUpsAllowed = VbFalse;
    }
    void cleanup()
    {
        m_area.closeAllSubWindows();
        QTRY_VERIFY(m_area.subWindowList().isEmpty());
        frmBrowse::setPrintDialogHandler({});
        const QStringList messages = std::exchange(m_messages, {});
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(u'|')));
    }

    // The home page: the record's, blanks and all, only when UseStoredSettings is True (-1).
    void homePage_data()
    {
        QTest::addColumn<int>("use"); // 2: no record file
        QTest::newRow("no record: default") << 2;
        QTest::newRow("in force, padded with blanks") << -1;
        QTest::newRow("UseStoredSettings 1 is not True") << 1;
        QTest::newRow("UseStoredSettings 0") << 0;
    }
    void homePage()
    {
        QFETCH(int, use);
        SettingsRecord r;
        r.HomePage = url("/title.html").leftJustified(40);
        r.UseStoredSettings = int16_t(use);
        QFile f(QString::fromLatin1(SettingsFileName));
        QVERIFY(use == 2 || (f.open(QIODevice::WriteOnly) && f.write(r.toBytes()) > 0));
        f.close();
        frmBrowse *w = newBrowserWindow();
        QVERIFY(f.exists() && (use != 2 || f.size() == 0)); // created empty
        QCOMPARE(w->txtAddress->text(), use == -1 ? r.HomePage : QStringLiteral("example.com"));
        // Sized from the outer size of the shown window, frame and title bar included.
        QCOMPARE(w->WebBrowser1->width(),
                 Twips::toPixelsX(Twips::fromPixelsX(w->parentWidget()->width()) - 500));
        // example.com is unreachable here: the engine's error page completes the navigation.
        QVERIFY(QSignalSpy(w->WebBrowser1, &WebBrowserControl::DocumentComplete).wait(15000));
        QCOMPARE(w->windowTitle(),
                 use == -1 ? QStringLiteral("Norvo - Local Title") : QStringLiteral("Norvo - "));
        QCOMPARE(w->txtAddress->text(),
                 use == -1 ? r.HomePage.trimmed() : QStringLiteral("http://example.com/"));
    }

    void progressHandler_data()
    {
        QTest::addColumn<int>("progress");
        QTest::addColumn<int>("progressMax");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("percent"); // ProgressPercentText afterwards
        QTest::newRow("-1 with max 0 is done") << -1 << 0 << "100% - Document Done   - Local Title"
                                               << "old";
        QTest::newRow("0 of 0 keeps the text") << 0 << 0 << "old text"
                                               << "old";
        QTest::newRow("7 of 7 is loading at 100")
            << 7 << 7 << "100% of Document Done   - Local Title"
            << "100";
        QTest::newRow("1 of 3") << 1 << 3 << "33.3333333333333% of Document Done   - Local Title"
                                << "33.3333333333333";
    }
    void progressHandler()
    {
        QFETCH(int, progress);
        QFETCH(int, progressMax);
        frmBrowse *w = newBrowserWindow();
        QVERIFY(loadAndWait(w, "/title.html"));
        w->ProgressBox->setText(QStringLiteral("old text"));
        w->ProgressPercentText = QStringLiteral("old");
        w->WebBrowser1_ProgressChange(progress, progressMax);
        QTEST(w->ProgressBox->text(), "label");
        QTEST(w->ProgressPercentText, "percent");
    }

    // Address typed and Enter pressed: caption, address and progress label during and after the
    // load; an untitled page has an empty title in both.
    void goToTypedAddress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("path"); // empty: nothing is loaded
        QTest::addColumn<QString>("title");
        const QString host = m_server.url(QStringLiteral("/")).authority();
        QTest::newRow("titled page") << url("/slow.html") << "/slow.html"
                                     << "Slow Page";
        QTest::newRow("untitled, no scheme") << host + "/untitled.html"
                                             << "/untitled.html"
                                             << "";
        QTest::newRow("surrounded by blanks") << "  " + host + "/slow.html  "
                                              << "/slow.html"
                                              << "Slow Page";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
        QTest::newRow("blanks only") << "     "
                                     << ""
                                     << "";
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
        QVERIFY(w->ProgressBox->height() >= Twips::toPixelsY(210)); // never below the design height
    }

    // PopUpsAllowed is read at every request: the opener page is loaded once per entry.
    void popUps_data()
    {
        QTest::addColumn<QList<bool>>("allowed");
        QTest::newRow("allowed") << QList<bool>{true};
        QTest::newRow("refused") << QList<bool>{false};
        QTest::newRow("refused after allowed") << QList<bool>{true, false};
    }
    void popUps()
    {
        QFETCH(QList<bool>, allowed);
        const int poppedBefore = m_server.hits.value("/popped.html");
        int opened = 0;
        frmBrowse *opener = newBrowserWindow();
        for (bool a : allowed) {
            PopUpsAllowed = a ? VbTrue : VbFalse;
            QVERIFY(loadAndWait(opener, "/popup.html"));
            opened += a;
            QTest::qWait(a ? 0 : 1000); // time for a refused pop-up to show up anyway
            QTRY_COMPARE(m_server.hits.value("/popped.html"), poppedBefore + opened);
        }
        QCOMPARE(m_area.subWindowList().size(), 1 + opened);
        QCOMPARE(opener->windowTitle(), QStringLiteral("Norvo - Opener"));
        if (opened) {
            auto *popup = qobject_cast<frmBrowse *>(m_area.subWindowList().last()->widget());
            QVERIFY(popup && popup != opener && popup->WebBrowser1->RegisterAsBrowser);
            QTRY_COMPARE_WITH_TIMEOUT(popup->windowTitle(), QStringLiteral("Norvo - Popped"),
                                      15000);
            QCOMPARE(popup->txtAddress->text(), url("/popped.html"));
        }
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

        QTRY_COMPARE(runJs(w, QStringLiteral("frames[0].document.title")),
                     QStringLiteral("Frame One"));
        runJs(w, QStringLiteral("frames[0].document.getElementById('next').click()"));
        QTRY_COMPARE(runJs(w, QStringLiteral("frames[0].document.title")),
                     QStringLiteral("Frame Two"));
        QTest::qWait(200);
        QCOMPARE(w->windowTitle(), QStringLiteral("Norvo - Top Page"));
        QCOMPARE(w->txtAddress->text(), url("/frames.html"));
        runJs(w, QStringLiteral("location.hash = 'part'"));
        QTRY_COMPARE(w->txtAddress->text(), url("/frames.html#part"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Norvo - Top Page"));
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
        const QString file = QStringLiteral("page.pdf"); // in the test's own working directory
        QFile::remove(file);
        frmBrowse::setPrintDialogHandler([&](QPrinter *printer, QWidget *) {
            printer->setOutputFormat(QPrinter::PdfFormat);
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
        const QByteArray bytes = pdf.readAll();
        QVERIFY(bytes.startsWith("%PDF-"));
        const QString text = QString::fromLatin1(bytes);
        QVERIFY(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)"))) >= 3);
        QVERIFY(!text.contains(
            QRegularExpression(QStringLiteral("/Subtype\\s*/Image")))); // vector, not rasterized
    }

    // Each button image must render (resource linked, SVG support present).
    void buttonImagesRender()
    {
        frmBrowse w;
        for (QToolButton *b : w.findChildren<QToolButton *>()) {
            const QImage image = b->icon().pixmap(24, 24).toImage();
            int painted = 0;
            for (int i = 0; i < image.width() * image.height(); ++i)
                painted += image.pixelColor(i % image.width(), i / image.width()).alpha() > 0;
            QVERIFY2(painted > 24 * 24 / 8, qPrintable(b->objectName()));
        }
    }

    // Tab reaches the page view after Go and leaves it (past the page's one link) for Back.
    void tabThroughThePage()
    {
        frmBrowse *w = newBrowserWindow();
        QVERIFY(loadAndWait(w, "/frame1.html"));
        m_area.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&m_area));
        QTRY_VERIFY(w->WebBrowser1->focusProxy() && w->WebBrowser1->focusProxy()->isVisible());
        const auto inPage = [w] {
            return w->WebBrowser1->isAncestorOf(QApplication::focusWidget());
        };
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

int main(int argc, char **argv)
{
    keepPagesOffline();
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    setupProcessEnvironment(argc, argv);
    QApplication app(argc, argv);
    tst_frmBrowse test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_frmbrowse.moc"
