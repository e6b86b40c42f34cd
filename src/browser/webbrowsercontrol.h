#pragma once
#include <QString>
#include <QUrl>
#include <QWebEngineView>

// The browser control of the browser window: a QWebEngineView offering the members and
// events the window's handlers use.
//
// Events, all for the top-level page only:
//   ProgressChange(p, 100)  while a page loads; ProgressChange(-1, 100) when it has finished
//   NavigateComplete2       when a navigation has finished (also for a failed one, which shows
//                           the engine's error page), and for same-document moves (#anchor,
//                           history.pushState)
//   DocumentComplete        right after the finished navigation's NavigateComplete2
//   NewWindow2              when a page asks for a new window; the handler either hands back
//                           the control that takes the new page in ppDisp or sets Cancel
class WebBrowserControl : public QWebEngineView {
    Q_OBJECT
public:
    explicit WebBrowserControl(QWidget *parent = nullptr);

    // Starts loading an address typed as in a browser's address bar: a bare host name such as
    // "example.com" means http://example.com/, surrounding blanks are ignored, and the text ends
    // at its first NUL. Returns false, loading nothing, when the text names no address.
    bool Navigate(const QString &URL);
    // Return false when there is nothing to go back or forward to.
    bool GoBack();
    bool GoForward();
    void Refresh();
    void Stop();

    // Title of the current page; empty when the page has none.
    QString LocationName() const;
    // Address of the current page.
    QString LocationURL() const;

    // Marks a control created for a pop-up; kept for the window's handlers, nothing reads it.
    bool RegisterAsBrowser = false;

Q_SIGNALS:
    void ProgressChange(int Progress, int ProgressMax);
    void NavigateComplete2(const QString &URL);
    void DocumentComplete(const QString &URL);
    void NewWindow2(WebBrowserControl *&ppDisp, bool &Cancel);

protected:
    QWebEngineView *createWindow(QWebEnginePage::WebWindowType type) override;

private:
    bool m_loading = false;
    // Set from a Navigate call until its load starts: the engine reports the new address at
    // once, before anything has loaded, and that is no completed navigation.
    bool m_navigationStarting = false;
};

// The engine names an untitled page after its address ("127.0.0.1:8000/a.html",
// "example.com", the file name); this returns the empty title for such a page.
QString pageTitleOrEmpty(const QString &engineTitle, const QUrl &url);
