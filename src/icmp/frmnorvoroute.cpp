#include "frmnorvoroute.h"

#include "controls.h"
#include "echomodule.h"
#include "hostlookup.h"
#include "job.h"
#include "messagebox.h"
#include "traceroute.h"
#include "twips.h"
#include "winsock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

using namespace Controls;

namespace {
// How long one wait for an attempt blocks before the trace looks whether it was stopped.
constexpr int PollMs = 40;

MessageSink messageBoxes()
{
    return [](const std::string &text, int style) { MsgBox(fromAnsi(text), style); };
}
} // namespace

frmNorvoRoute::frmNorvoRoute(QWidget *parent) : ToolWindow(parent) {}

frmNorvoRoute::~frmNorvoRoute() = default;

QStringList frmNorvoRoute::presetHosts()
{
    return {QStringLiteral("www.debian.org"), QStringLiteral("www.kernel.org"),
            QStringLiteral("www.qt.io"), QStringLiteral("www.gnu.org")};
}

void frmNorvoRoute::createControls()
{
    setWindowTitle(QStringLiteral("Trace Route"));
    setFixedSize(Twips::size(8220, 5775));

    Label1 = label(this, QStringLiteral("Label1"), QStringLiteral("Trace Route to :"), 135, 210,
                   1305, 240);
    Combo1 = new QComboBox(this);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setAccessibleName(labelWords(Label1->text()));
    Label1->setBuddy(Combo1);
    Twips::place(Combo1, 2205, 165, 3810, 315);
    Label2 = label(this, QStringLiteral("Label2"), QStringLiteral("Which resolved to :"), 135, 540,
                   1485, 225);
    Text1 = textBox(this, QStringLiteral("Text1"), Label2, 2205, 510, 1245, 285);
    Command1 = button(this, QStringLiteral("Command1"), QStringLiteral("Trace It"), 4380, 765, 1620,
                      300);
    cmdStop = button(this, QStringLiteral("cmdStop"), QStringLiteral("Stop"), 6180, 765, 1620, 300);
    cmdStop->setEnabled(false);
    Label3 = label(this, QStringLiteral("Label3"), QStringLiteral("Number of Packets:"), 135, 1125,
                   1485, 270);
    Text2 = textBox(this, QStringLiteral("Text2"), Label3, 2205, 1110, 960, 285);
    Label4 = label(this, QStringLiteral("Label4"), QStringLiteral("Characters per Packet:"), 135,
                   1560, 1695, 240);
    Text3 = textBox(this, QStringLiteral("Text3"), Label4, 2205, 1515, 975, 285);
    Line1 = hline(this, QStringLiteral("Line1"), 120, 8085, 1875);
    Check1 = new QCheckBox(QStringLiteral("Resolve Host IP"), this);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setAccessibleName(Check1->text());
    Twips::place(Check1, 270, 1995, 1500, 270);
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setAccessibleName(QStringLiteral("Attempts"));
    Twips::place(List1, 1830, 2040, 1215, 3570);
    Text4 = new QPlainTextEdit(this);
    Text4->setObjectName(QStringLiteral("Text4"));
    Text4->setAccessibleName(QStringLiteral("Trace output"));
    Text4->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text4->setLineWrapMode(QPlainTextEdit::NoWrap);
    Twips::place(Text4, 3240, 2025, 4920, 3690);

    connect(Command1, &QPushButton::clicked, this, &frmNorvoRoute::Command1_Click);
    connect(cmdStop, &QPushButton::clicked, this, &frmNorvoRoute::cmdStop_Click);
}

void frmNorvoRoute::Form_Load()
{
    Combo1->addItems(presetHosts());
    Combo1->setCurrentIndex(1);
}

void frmNorvoRoute::Form_Unload()
{
    // The trace ends with the window; nothing more of it shows.
    if (m_trace)
        endTrace();
}

// Stop ends the trace at once and keeps what is shown; the attempt under way adds nothing.
void frmNorvoRoute::cmdStop_Click()
{
    if (m_trace)
        endTrace();
}

void frmNorvoRoute::Command1_Click()
{
    if (m_trace)
        return;
    Command1->setEnabled(false);
    cmdStop->setEnabled(true);
    TraceRT();
}

void frmNorvoRoute::endTrace()
{
    // Joins the trace (it looks at its job between waits of PollMs), or leaves a target
    // look-up to end on its own.
    m_trace.reset();
    setBusy(this, false);
    Module2::StopWinsock(messageBoxes());
    Command1->setEnabled(true);
    cmdStop->setEnabled(false);
    Q_EMIT traceEnded();
}

void frmNorvoRoute::appendOutput(const std::string &text)
{
    QString t = fromAnsi(text);
    t.remove(QLatin1Char('\r'));
    Text4->moveCursor(QTextCursor::End);
    Text4->insertPlainText(t);
    Text4->verticalScrollBar()->setValue(Text4->verticalScrollBar()->maximum());
}

void frmNorvoRoute::TraceRT()
{
    const QString title = QString::fromLatin1(Module2::MessageTitle);

    Text1->clear();
    Text2->setText(QStringLiteral("1"));
    Text4->clear();
    List1->clear();

    const PacketSize packet = correctPacketSize(toAnsi(Text3->text()));
    if (fromAnsi(packet.text) != Text3->text())
        Text3->setText(fromAnsi(packet.text));

    if (!Module2::StartWinsock()) {
        MsgBox(QString::fromLatin1(Module2::StartFailedText), vbOKOnly, title);
        Command1->setEnabled(true);
        cmdStop->setEnabled(false);
        Q_EMIT traceEnded();
        return;
    }

    // The look-up, the echoes and the hops' names wait on the job's thread; each step reaches
    // the window in order, and only while the trace is still its own.
    setBusy(this, true);
    m_trace = std::make_unique<Job>();
    connect(m_trace.get(), &Job::finished, this, &frmNorvoRoute::endTrace);
    TraceRoute::Settings settings;
    settings.resolveNames = Check1->isChecked();
    m_trace->start([this, target = toAnsi(Combo1->currentText()), size = packet.size, settings,
                    title](JobContext &job) {
        const auto addressText = job.blocking([&target] { return HostNameToIPText(target); });
        if (!addressText)
            return;
        IcmpFile handle;
        if (!handle) {
            job.post([this, title] {
                setBusy(this, false);
                MsgBox(QString::fromLatin1(Module2::NoHandleText), vbOKOnly, title);
            });
            return;
        }
        job.post([this, address = *addressText, target] {
            setBusy(this, false);
            Text1->setText(fromAnsi(address));
            appendOutput(TraceHeader(target));
        });
        TraceRoute route(handle.handle(), winsock::inet_addr(*addressText), *addressText, size,
                         settings);
        while (!route.finished()) {
            job.post([this, ttl = route.currentTtl()] { List1->addItem(QString::number(ttl)); });
            std::optional<TraceRoute::Step> step;
            while (!(step = route.next(PollMs)))
                if (job.cancelled())
                    return;
            if (!step->hopLine.empty())
                job.post([this, line = step->hopLine] { appendOutput(line); });
        }
        if (route.complete())
            job.post([this] { appendOutput(TraceCompleteText); });
    });
}
