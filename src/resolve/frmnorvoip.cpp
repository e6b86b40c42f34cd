#include "frmnorvoip.h"

#include "controls.h"
#include "hostlookup.h"
#include "job.h"
#include "twips.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Controls;

frmNorvoIP::frmNorvoIP(QWidget *parent) : ToolWindow(parent) {}

frmNorvoIP::~frmNorvoIP() = default;

void frmNorvoIP::createControls()
{
    setWindowTitle(QStringLiteral("Resolve IP Address "));
    setFixedSize(Twips::size(4680, 1515));

    Label1 = label(this, "Label1", QStringLiteral("WWW Address : "), 300, 150, 1395, 240);
    Text1 = textBox(this, "Text1", Label1, 2190, 150, 2175, 315);
    Label2 = label(this, "Label2", QStringLiteral("Resolved IP Address: "), 300, 675, 1590, 225);
    Text2 = textBox(this, "Text2", Label2, 2175, 570, 2175, 330);
    Line1 = hline(this, "Line1", 240, 2730, 1200);
    Command1 = button(this, "Command1", QStringLiteral("Find It"), 3075, 1050, 1515, 375);

    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Command1);
    connect(Command1, &QPushButton::clicked, this, &frmNorvoIP::Command1_Click);
}

void frmNorvoIP::Form_Load() { Text1->setFocus(); }

void frmNorvoIP::Form_Unload()
{
    // A look-up still waiting on the resolver is left to end on its own; nothing of it shows.
    endLookup();
}

void frmNorvoIP::Command1_Click()
{
    // One look-up at a time, as when the press held the window until it was over.
    if (m_lookup)
        return;
    // Sockets need no start-up here, so the window's look-up calls the resolver directly. It
    // may wait on DNS for long: the window shows the busy cursor, the suite stays usable.
    setBusy(this, true);
    m_lookup = std::make_unique<Job>();
    connect(m_lookup.get(), &Job::finished, this, [this] {
        endLookup();
        Q_EMIT lookupEnded();
    });
    m_lookup->start([this, name = toAnsi(Text1->text())](JobContext &job) {
        if (auto address = job.blocking([&name] { return HostNameToIPText(name); }))
            job.post([this, address = std::move(*address)] { Text2->setText(fromAnsi(address)); });
    });
}

void frmNorvoIP::endLookup()
{
    m_lookup.reset();
    setBusy(this, false);
}
