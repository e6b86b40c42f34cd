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

frmNorvoIP::frmNorvoIP(QWidget *parent) : LookupWindow(parent) {}

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

void frmNorvoIP::Command1_Click()
{
    // Sockets need no start-up here, so the window's look-up calls the resolver directly. It
    // may wait on DNS for long: the window shows the busy cursor, the suite stays usable.
    startLookup([this, name = toAnsi(Text1->text())](JobContext &job) {
        if (auto address = job.blocking([&name] { return HostNameToIPText(name); }))
            job.post([this, address = std::move(*address)] { Text2->setText(fromAnsi(address)); });
    });
}
