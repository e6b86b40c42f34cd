#include "webbrowsercontrol.h"

#include <QWebEngineHistory>
#include <QWebEngineSettings>

WebBrowserControl::WebBrowserControl(QWidget *parent) : QWebEngineView(parent)
{
    // Let window.open reach createWindow without a user gesture: NewWindow2's handler decides.
    settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);

    connect(this, &QWebEngineView::loadStarted, this, [this] {
        m_loading = true;
        m_navigationStarting = false;
    });
    connect(this, &QWebEngineView::loadProgress, this, [this](int progress) {
        if (m_loading)
            Q_EMIT ProgressChange(progress, 100);
    });
    connect(this, &QWebEngineView::loadFinished, this, [this](bool) {
        m_loading = false;
        m_navigationStarting = false;
        const QString url = LocationURL();
        Q_EMIT NavigateComplete2(url);
        Q_EMIT ProgressChange(-1, 100);
        Q_EMIT DocumentComplete(url);
    });
    connect(this, &QWebEngineView::urlChanged, this, [this] {
        // Outside a load the address changes only by same-document navigation.
        if (!m_loading && !m_navigationStarting)
            Q_EMIT NavigateComplete2(LocationURL());
    });
}

bool WebBrowserControl::Navigate(const QString &URL)
{
    const QString text = URL.left(URL.indexOf(QChar(0)));
    const QUrl url = QUrl::fromUserInput(text);
    if (!url.isValid() || url.isEmpty())
        return false;
    m_navigationStarting = true;
    setUrl(url);
    return true;
}

bool WebBrowserControl::GoBack()
{
    if (!history()->canGoBack())
        return false;
    back();
    return true;
}

bool WebBrowserControl::GoForward()
{
    if (!history()->canGoForward())
        return false;
    forward();
    return true;
}

void WebBrowserControl::Refresh() { reload(); }

void WebBrowserControl::Stop() { stop(); }

QString WebBrowserControl::LocationName() const { return pageTitleOrEmpty(title(), url()); }

QString WebBrowserControl::LocationURL() const { return url().toString(); }

QWebEngineView *WebBrowserControl::createWindow(QWebEnginePage::WebWindowType)
{
    WebBrowserControl *ppDisp = nullptr;
    bool Cancel = false;
    Q_EMIT NewWindow2(ppDisp, Cancel);
    // A null view makes the engine drop the request; window.open then returns null.
    return Cancel ? nullptr : ppDisp;
}

QString pageTitleOrEmpty(const QString &engineTitle, const QUrl &url)
{
    if (engineTitle.isEmpty() || url.isEmpty())
        return engineTitle;
    const QString shown = url.toDisplayString();
    QStringList fallbacks{shown, url.toString(), url.toString(QUrl::FullyEncoded)};
    if (url.scheme() == QLatin1String("http"))
        fallbacks << shown.mid(int(qstrlen("http://")));
    if (url.path() == QLatin1String("/") && !url.hasQuery() && !url.hasFragment()) {
        const QStringList withSlash = fallbacks;
        for (const QString &f : withSlash)
            if (f.endsWith(QLatin1Char('/')))
                fallbacks << f.chopped(1);
    }
    if (url.isLocalFile())
        fallbacks << url.fileName();
    return fallbacks.contains(engineTitle) ? QString() : engineTitle;
}
