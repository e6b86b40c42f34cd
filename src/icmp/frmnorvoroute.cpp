#include "frmnorvoroute.h"

#include "echomodule.h"
#include "hostlookup.h"
#include "controls.h"
#include "messagebox.h"
#include "namelookup.h"
#include "traceroute.h"
#include "twips.h"
#include "winsock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>

using namespace Controls;

namespace {
// How long one wait for an attempt blocks before the window's events run again.
constexpr int PumpMs = 40;
} // namespace

QStringList frmNorvoRoute::presetHosts()
{
    return {QStringLiteral("www.debian.org"), QStringLiteral("www.kernel.org"),
            QStringLiteral("www.qt.io"), QStringLiteral("www.gnu.org")};
}

void frmNorvoRoute::createControls()
{
    ++m_generation;
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
    cmdStop->setEnabled(m_tracing);
    Command1->setEnabled(!m_tracing); // a trace of the closed window may still be ending
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
    // A trace under way ends without touching the controls of the closed window.
    m_abandoned = true;
}

void frmNorvoRoute::cmdStop_Click() { m_stopRequested = true; }

void frmNorvoRoute::Command1_Click()
{
    if (m_tracing)
        return;
    QPointer<frmNorvoRoute> self(this);
    m_tracing = true;
    m_stopRequested = m_abandoned = false;
    Command1->setEnabled(false);
    cmdStop->setEnabled(true);
    TraceRT();
    if (!self)
        return;
    m_tracing = false;
    // The members are the current controls, also when the window was loaded anew meanwhile.
    Command1->setEnabled(true);
    cmdStop->setEnabled(false);
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
    const MessageSink show = [](const std::string &text, int style) {
        MsgBox(fromAnsi(text), style);
    };
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
        return;
    }
    // Events run while the trace waits, so the window may be closed, loaded anew or even
    // destroyed under it: after every wait only the guard and the flags are looked at.
    QPointer<frmNorvoRoute> self(this);
    const int generation = m_generation;
    auto gone = [&] { return !self || m_abandoned || m_generation != generation; };
    // Stop and close end the trace between two waits, also in the middle of the target's
    // look-up, of an attempt or of a hop's wait for its name: that wait adds nothing.
    auto halted = [&] { return gone() || m_stopRequested; };

    const std::string target = toAnsi(Combo1->currentText());
    std::string addressText;
    {
        BusyCursor busy;
        const NameLookup lookup([target] { return HostNameToIPText(target); });
        while (!lookup.waitUntil(NameLookup::Clock::now() + std::chrono::milliseconds(PumpMs))) {
            QCoreApplication::processEvents();
            if (halted()) {
                Module2::StopWinsock(show);
                return;
            }
        }
        addressText = lookup.result();
    }
    const uint32_t destination = winsock::inet_addr(addressText);
    IcmpFile handle;
    if (!handle) {
        MsgBox(QString::fromLatin1(Module2::NoHandleText), vbOKOnly, title);
        Module2::StopWinsock(show);
        return;
    }
    Text1->setText(fromAnsi(addressText));
    appendOutput(TraceHeader(target));

    TraceRoute::Settings settings;
    settings.resolveNames = Check1->isChecked();
    TraceRoute route(handle.handle(), destination, addressText, packet.size, settings);

    while (!route.finished()) {
        List1->addItem(QString::number(route.currentTtl()));
        std::optional<TraceRoute::Step> step;
        while (!(step = route.next(PumpMs))) {
            QCoreApplication::processEvents();
            if (halted())
                break;
        }
        if (!step)
            break;
        if (!step->hopLine.empty())
            appendOutput(step->hopLine);
        QCoreApplication::processEvents();
        if (halted())
            break;
    }
    if (!gone() && route.complete())
        appendOutput(TraceCompleteText);
    Module2::StopWinsock(show);
}
