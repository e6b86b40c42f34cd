#pragma once
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class QFrame;
class QLabel;
class QLineEdit;
class QMdiArea;
class QMdiSubWindow;
class QPrinter;
class QToolButton;
class WebBrowserControl;

// The browser window: address box, six graphical buttons, progress label and the browser
// control. Any number of instances live as sizable child windows of the frame.
class frmBrowse : public QWidget {
    Q_OBJECT
public:
    // Creates the controls at their design positions; caption "Norvo". frame is the area the
    // window and the pop-ups it opens live in; without one each stands on its own.
    explicit frmBrowse(QMdiArea *frame = nullptr, QWidget *parent = nullptr);
    ~frmBrowse() override;

    // The load step: layout for the window's outer size, settings record, home page.
    void Form_Load();

    // Adds the window to its frame as a sizable child with minimize and maximize buttons; the
    // returned sub-window is not shown yet.
    QMdiSubWindow *addToFrame();
    // The first completed page of the process prints the milliseconds since the process
    // started and ends the program (velmaric --exit-after-first-page, for start-up timing).
    static void setExitAfterFirstPage(bool on);

    // Shows the print dialog for printer; returns true when the user chose to print.
    using PrintDialogHandler = std::function<bool(QPrinter *printer, QWidget *parent)>;
    // Tests replace the dialog; an empty handler restores QPrintDialog.
    static void setPrintDialogHandler(PrintDialogHandler handler);
    // Prints the current page as printer is set up: a PDF file as vector output, a printer
    // through the engine's page rasterizing. Finishes asynchronously with printingFinished.
    void printPage(std::unique_ptr<QPrinter> printer);
    bool isPrinting() const { return m_printer != nullptr; }

    QSize sizeHint() const override;

    // The last ratio and percentage of a progress report, as text.
    QString ProgressRatioText;
    QString ProgressPercentText;

    QLineEdit *txtAddress = nullptr;
    QToolButton *cmdGo = nullptr;
    WebBrowserControl *WebBrowser1 = nullptr;
    QToolButton *cmdBack = nullptr;
    QToolButton *cmdForward = nullptr;
    QToolButton *cmdStop = nullptr;
    QToolButton *cmdRefresh = nullptr;
    QLabel *ProgressBox = nullptr;
    QToolButton *Command1 = nullptr;
    QFrame *Line1 = nullptr;

    // The home page when the settings record is not in force: a bare host name, shown as written.
    static const QString DefaultHomePage;

public Q_SLOTS:
    void Form_Resize();
    void cmdGo_Click();
    void cmdBack_Click();
    void cmdForward_Click();
    void cmdStop_Click();
    void cmdRefresh_Click();
    void Command1_Click();

    void WebBrowser1_ProgressChange(int Progress, int ProgressMax);
    void WebBrowser1_NavigateComplete2(const QString &URL);
    void WebBrowser1_DocumentComplete(const QString &URL);
    void WebBrowser1_NewWindow2(WebBrowserControl *&ppDisp, bool &Cancel);

Q_SIGNALS:
    void printingFinished(bool success);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void applyTabOrder();
    // The window's outer width and height (frame and title bar included), in twips.
    QSizeF outerSizeTwips() const;
    void setProgressText(const QString &text);
    void fitProgressBoxHeight();
    void finishPrinting(bool success);

    QPointer<QMdiArea> m_frame;
    std::unique_ptr<QPrinter> m_printer;
    bool m_closeWhenPrinted = false; // closed while printing: hidden until the page is printed
};
