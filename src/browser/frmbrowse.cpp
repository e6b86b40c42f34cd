#include "frmbrowse.h"

#include "controls.h"
#include "designfont.h"

#include "messagebox.h"
#include "processenv.h"
#include "progresstext.h"
#include "settingsrecord.h"
#include "toolwindow.h"
#include "twips.h"
#include "webbrowsercontrol.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPrintDialog>
#include <QPrinter>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QTimer>
#include <QToolButton>
#include <QWebEnginePage>

#include <cstdio>

static void initBrowserResources() { Q_INIT_RESOURCE(browser); }

const QString frmBrowse::DefaultHomePage = QStringLiteral("example.com");

namespace {

constexpr double DesignWidth = 10755;
constexpr double DesignHeight = 7395;
constexpr double ProgressBoxDesignHeight = 210;

frmBrowse::PrintDialogHandler &printDialogHandler()
{
    static frmBrowse::PrintDialogHandler handler;
    return handler;
}

bool showPrintDialog(QPrinter *printer, QWidget *parent)
{
    QPrintDialog dialog(printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

bool exitAfterFirstPage = false;

void exitOnFirstPage()
{
    static bool reported = false;
    if (reported || !exitAfterFirstPage)
        return;
    reported = true;
    std::printf("VELMARIC_BENCH_LOADED %lld\n", msSinceProcessStart());
    std::fflush(stdout);
    QCoreApplication::exit(0);
}

QToolButton *graphicalButton(QWidget *parent, const char *name, const QString &caption,
                             const QString &icon, double left, double width)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setText(caption);
    b->setAccessibleName(caption);
    b->setIcon(QIcon(QStringLiteral(":/browser/") + icon));
    b->setIconSize(QSize(24, 24));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setFocusPolicy(Qt::StrongFocus);
    Twips::place(b, left, 60, width, 765);
    return b;
}

} // namespace

frmBrowse::frmBrowse(QMdiArea *frame, QWidget *parent) : QWidget(parent), m_frame(frame)
{
    initBrowserResources();
    setObjectName(QStringLiteral("frmBrowse"));
    setWindowTitle(QStringLiteral("Norvo"));
    setWindowIcon(QIcon(QStringLiteral(":/browser/browser.svg")));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(128, 128, 128));
    setPalette(pal);
    setAutoFillBackground(true);
    setFont(designFont());
    createControls();
    resize(Twips::size(DesignWidth, DesignHeight));
}

frmBrowse::~frmBrowse()
{
    // Destroyed with the print under way (the process ending): the engine's print thread
    // still draws into the printer and nothing will say when it is done, so it stays.
    if (m_printer)
        (void)m_printer.release();
}

void frmBrowse::closeEvent(QCloseEvent *event)
{
    // The engine prints into the printer on a thread of its own until printFinished, so the
    // window goes out of sight now and away once the page is printed.
    if (isPrinting()) {
        m_closeWhenPrinted = true;
        event->ignore();
        (parentWidget() ? parentWidget() : this)->hide();
        return;
    }
    QWidget::closeEvent(event);
}

void frmBrowse::createControls()
{
    txtAddress = new QLineEdit(QStringLiteral("http://"), this);
    txtAddress->setObjectName(QStringLiteral("txtAddress"));
    txtAddress->setAccessibleName(QStringLiteral("Address"));
    Twips::place(txtAddress, 15, 105, 4335, 285);

    cmdGo = graphicalButton(this, "cmdGo", QStringLiteral("Go"), QStringLiteral("go.svg"), 4380,
                            675);

    WebBrowser1 = new WebBrowserControl(this);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    WebBrowser1->setAccessibleName(QStringLiteral("Web page"));
    // The view passes the focus on to its page; without a policy of its own Tab skips it.
    WebBrowser1->setFocusPolicy(Qt::StrongFocus);
    Twips::place(WebBrowser1, 1410, 1590, 6735, 3900);

    cmdBack = graphicalButton(this, "cmdBack", QStringLiteral("Back"), QStringLiteral("back.svg"),
                              5085, 675);
    cmdForward = graphicalButton(this, "cmdForward", QStringLiteral("Forward"),
                                 QStringLiteral("forward.svg"), 5790, 675);
    cmdStop = graphicalButton(this, "cmdStop", QStringLiteral("Stop"), QStringLiteral("stop.svg"),
                              6495, 675);
    cmdRefresh = graphicalButton(this, "cmdRefresh", QStringLiteral("Refresh"),
                                 QStringLiteral("refresh.svg"), 7200, 675);

    ProgressBox = new QLabel(this);
    ProgressBox->setObjectName(QStringLiteral("ProgressBox"));
    ProgressBox->setAccessibleDescription(QStringLiteral("Progress"));
    ProgressBox->setWordWrap(true);
    ProgressBox->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont font(QStringLiteral("Rockwell"), 9);
    // Rockwell is rarely installed on Linux; the font matcher then picks a serif face.
    font.setStyleHint(QFont::Serif);
    ProgressBox->setFont(font);
    QPalette pal = ProgressBox->palette();
    pal.setColor(QPalette::WindowText, pal.color(QPalette::HighlightedText));
    pal.setColor(QPalette::Window, QColor(192, 64, 0));
    ProgressBox->setPalette(pal);
    ProgressBox->setAutoFillBackground(true);
    Twips::place(ProgressBox, 45, 855, 45, ProgressBoxDesignHeight);

    Command1 = graphicalButton(this, "Command1", QStringLiteral("Print"),
                               QStringLiteral("print.svg"), 7905, 720);

    Line1 = new QFrame(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setFrameShape(QFrame::NoFrame);
    QPalette linePal = Line1->palette();
    linePal.setColor(QPalette::Window, linePal.color(QPalette::Highlight));
    Line1->setPalette(linePal);
    Line1->setAutoFillBackground(true);
    // A 3-pixel rule centred on its design line.
    Line1->setGeometry(Twips::toPixelsX(135), Twips::toPixelsY(1275) - 1,
                       Twips::toPixelsX(10755) - Twips::toPixelsX(135), 3);

    applyTabOrder();
    // The view creates the page widget it hands the focus to later, at the end of the focus
    // chain; the order is set again once that widget exists.
    WebBrowser1->installEventFilter(this);

    // Enter in the address box presses the default button, Go.
    connect(txtAddress, &QLineEdit::returnPressed, cmdGo, &QToolButton::click);
    connect(cmdGo, &QToolButton::clicked, this, &frmBrowse::cmdGo_Click);
    connect(cmdBack, &QToolButton::clicked, this, &frmBrowse::cmdBack_Click);
    connect(cmdForward, &QToolButton::clicked, this, &frmBrowse::cmdForward_Click);
    connect(cmdStop, &QToolButton::clicked, this, &frmBrowse::cmdStop_Click);
    connect(cmdRefresh, &QToolButton::clicked, this, &frmBrowse::cmdRefresh_Click);
    connect(Command1, &QToolButton::clicked, this, &frmBrowse::Command1_Click);

    connect(WebBrowser1, &WebBrowserControl::ProgressChange, this,
            &frmBrowse::WebBrowser1_ProgressChange);
    connect(WebBrowser1, &WebBrowserControl::NavigateComplete2, this,
            &frmBrowse::WebBrowser1_NavigateComplete2);
    connect(WebBrowser1, &WebBrowserControl::DocumentComplete, this,
            &frmBrowse::WebBrowser1_DocumentComplete);
    connect(WebBrowser1, &WebBrowserControl::NewWindow2, this, &frmBrowse::WebBrowser1_NewWindow2);
}

void frmBrowse::applyTabOrder()
{
    setTabOrder(txtAddress, cmdGo);
    setTabOrder(cmdGo, WebBrowser1);
    setTabOrder(WebBrowser1, cmdBack);
    setTabOrder(cmdBack, cmdForward);
    setTabOrder(cmdForward, cmdStop);
    setTabOrder(cmdStop, cmdRefresh);
    setTabOrder(cmdRefresh, Command1);
}

bool frmBrowse::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == WebBrowser1 && event->type() == QEvent::ChildAdded)
        QTimer::singleShot(0, this, &frmBrowse::applyTabOrder);
    return QWidget::eventFilter(watched, event);
}

QSize frmBrowse::sizeHint() const { return Twips::size(DesignWidth, DesignHeight); }

QSizeF frmBrowse::outerSizeTwips() const
{
    QSize px = size();
    if (auto *sub = qobject_cast<QMdiSubWindow *>(parentWidget())) {
        px = sub->size();
    } else if (!parentWidget()) {
        // Not yet in the frame: add the border and title bar the frame will give it.
        const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this);
        QStyleOptionTitleBar titleBar;
        titleBar.initFrom(this);
        const int title = style()->pixelMetric(QStyle::PM_TitleBarHeight, &titleBar, this);
        px += QSize(2 * border, title + border);
    }
    return {Twips::fromPixelsX(px.width()), Twips::fromPixelsY(px.height())};
}

void frmBrowse::Form_Load()
{
    // The load step lays the controls out with the same five statements as a resize.
    Form_Resize();

    ReadSettingsRecord();
    const QString home = g_settingsRecord.UseStoredSettings == VbTrue ? g_settingsRecord.HomePage
                                                                      : DefaultHomePage;
    WebBrowser1->Navigate(home);
    txtAddress->setText(home);

    txtAddress->move(Twips::toPixelsX(50), txtAddress->y());
    cmdGo->move(txtAddress->x() + txtAddress->width() + Twips::toPixelsX(20), cmdGo->y());
}

void frmBrowse::Form_Resize()
{
    const QSizeF outer = outerSizeTwips();
    const double W = outer.width();
    const double H = outer.height();

    // A statement whose size would come out negative fails and is skipped.
    if (W - 500 >= 0)
        WebBrowser1->resize(Twips::toPixelsX(W - 500), WebBrowser1->height());
    WebBrowser1->move(Twips::toPixelsX(200), WebBrowser1->y());
    if (H - 1500 >= 0)
        WebBrowser1->resize(WebBrowser1->width(), Twips::toPixelsY(H - 1500));
    ProgressBox->move(Twips::toPixelsX(200), ProgressBox->y());
    if (W - 500 >= 0) {
        ProgressBox->resize(Twips::toPixelsX(W - 500), ProgressBox->height());
        fitProgressBoxHeight();
    }
}

void frmBrowse::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmBrowse::fitProgressBoxHeight()
{
    const int lines = ProgressBox->text().isEmpty()
                          ? 0
                          : ProgressBox->heightForWidth(ProgressBox->width());
    ProgressBox->resize(ProgressBox->width(),
                        std::max(Twips::toPixelsY(ProgressBoxDesignHeight), lines));
}

void frmBrowse::setProgressText(const QString &text)
{
    Controls::setReadableText(ProgressBox, text);
    fitProgressBoxHeight();
}

// The navigation commands ignore the control's failures (nothing to go back to, say).
void frmBrowse::cmdGo_Click() { WebBrowser1->Navigate(txtAddress->text()); }
void frmBrowse::cmdBack_Click() { WebBrowser1->GoBack(); }
void frmBrowse::cmdForward_Click() { WebBrowser1->GoForward(); }
void frmBrowse::cmdStop_Click() { WebBrowser1->Stop(); }
void frmBrowse::cmdRefresh_Click() { WebBrowser1->Refresh(); }

void frmBrowse::Command1_Click()
{
    // The page view takes the focus, as it would to answer the print key.
    WebBrowser1->setFocus();
    if (isPrinting())
        return;
    auto printer = std::make_unique<QPrinter>();
    QPointer<frmBrowse> self(this);
    const PrintDialogHandler &handler = printDialogHandler();
    const bool accepted = handler ? handler(printer.get(), this)
                                  : showPrintDialog(printer.get(), this);
    // The dialog's event loop may have seen the window closed.
    if (!self || !accepted)
        return;
    printPage(std::move(printer));
}

void frmBrowse::setPrintDialogHandler(PrintDialogHandler handler)
{
    printDialogHandler() = std::move(handler);
}

void frmBrowse::printPage(std::unique_ptr<QPrinter> printer)
{
    if (isPrinting())
        return;
    m_printer = std::move(printer);
    Command1->setEnabled(false);
    if (m_printer->outputFormat() == QPrinter::PdfFormat &&
        !m_printer->outputFileName().isEmpty()) {
        // Vector output: print() would rasterize every page at the printer's resolution.
        connect(
            WebBrowser1->page(), &QWebEnginePage::pdfPrintingFinished, this,
            [this](const QString &, bool ok) { finishPrinting(ok); }, Qt::SingleShotConnection);
        WebBrowser1->page()->printToPdf(m_printer->outputFileName(), m_printer->pageLayout(),
                                        m_printer->pageRanges());
    } else {
        connect(WebBrowser1, &QWebEngineView::printFinished, this, &frmBrowse::finishPrinting,
                Qt::SingleShotConnection);
        WebBrowser1->print(m_printer.get());
    }
}

void frmBrowse::finishPrinting(bool success)
{
    m_printer.reset();
    Command1->setEnabled(true);
    Q_EMIT printingFinished(success);
    if (!success)
        MsgBox(QStringLiteral("The page could not be printed."), vbExclamation);
    if (m_closeWhenPrinted)
        (parentWidget() ? parentWidget() : this)->close();
}

void frmBrowse::WebBrowser1_ProgressChange(int Progress, int ProgressMax)
{
    if (Progress == -1) {
        setProgressText(progressDoneText(WebBrowser1->LocationName()));
        return;
    }
    if (ProgressMax == 0)
        return;
    const ProgressTexts texts = progressTexts(Progress, ProgressMax);
    ProgressRatioText = texts.ratio;
    ProgressPercentText = texts.percent;
    setProgressText(progressLoadingText(ProgressPercentText, WebBrowser1->LocationName()));
}

void frmBrowse::WebBrowser1_NavigateComplete2(const QString &)
{
    setWindowTitle(QStringLiteral("Norvo - ") + WebBrowser1->LocationName());
    txtAddress->setText(WebBrowser1->LocationURL());
}

void frmBrowse::WebBrowser1_DocumentComplete(const QString &)
{
    setWindowTitle(QStringLiteral("Norvo - ") + WebBrowser1->LocationName());
    exitOnFirstPage();
}

void frmBrowse::WebBrowser1_NewWindow2(WebBrowserControl *&ppDisp, bool &Cancel)
{
    // Read at every request, so the View menu's toggle holds for the next pop-up.
    if (PopUpsAllowed != VbTrue) {
        Cancel = true;
        return;
    }
    Cancel = false;
    auto *w = new frmBrowse(m_frame);
    w->Form_Load();
    w->WebBrowser1->RegisterAsBrowser = true;
    ppDisp = w->WebBrowser1;
    w->addToFrame()->show();
}

void frmBrowse::setExitAfterFirstPage(bool on) { exitAfterFirstPage = on; }

QMdiSubWindow *frmBrowse::addToFrame()
{
    const Qt::WindowFlags flags = childWindowFlags(true);
    QMdiSubWindow *sub = nullptr;
    if (m_frame) {
        sub = m_frame->addSubWindow(this, flags);
    } else {
        // Without a frame the window stands on its own rather than getting lost.
        sub = new QMdiSubWindow(nullptr, flags);
        sub->setWidget(this);
    }
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowIcon(windowIcon());
    sub->resize(sub->sizeHint());
    return sub;
}
