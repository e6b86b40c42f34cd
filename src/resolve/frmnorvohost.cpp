#include "frmnorvohost.h"

#include "controls.h"
#include "job.h"
#include "messagebox.h"
#include "module3.h"
#include "twips.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include <utility>
#include <vector>

using namespace Controls;

frmNorvoHost::frmNorvoHost(QWidget *parent) : LookupWindow(parent) {}

frmNorvoHost::~frmNorvoHost() = default;

void frmNorvoHost::createControls()
{
    setWindowTitle(QStringLiteral("Resolve Host Name"));
    setFixedSize(Twips::size(4680, 1545));

    Label1 = label(this, "Label1", QStringLiteral("IP Address :"), 225, 180, 1800, 240);
    Text1 = textBox(this, "Text1", Label1, 2370, 180, 2160, 345);
    Label2 = label(this, "Label2", QStringLiteral("Host Name : "), 225, 735, 1890, 225);
    Text2 = textBox(this, "Text2", Label2, 2370, 630, 2160, 330);
    Line1 = hline(this, "Line1", 300, 3420, 1230);
    Command1 = button(this, "Command1", QStringLiteral("Find It"), 3585, 1110, 900, 330);

    setTabOrder(Command1, Text1);
    setTabOrder(Text1, Text2);
    connect(Command1, &QPushButton::clicked, this, &frmNorvoHost::Command1_Click);
}

void frmNorvoHost::Form_Load()
{
    // The first control in tab order has the focus when the window opens.
    Command1->setFocus();
}

void frmNorvoHost::Command1_Click()
{
    // A reverse look-up can wait on DNS for long: the window shows the busy cursor meanwhile,
    // the suite stays usable, and the look-up's messages show in their order once it is over.
    startLookup([this, address = toAnsi(Text1->text())](JobContext &job) {
        auto messages = std::make_shared<std::vector<std::pair<std::string, int>>>();
        const auto name = job.blocking([&] {
            return Module3::IPTextToHostName(address,
                                             [messages](const std::string &text, int style) {
                                                 messages->emplace_back(text, style);
                                             });
        });
        if (!name)
            return;
        job.post([this, messages, name = *name] {
            setBusy(this, false);
            QPointer<frmNorvoHost> self(this);
            for (const auto &[text, style] : *messages)
                MsgBox(fromAnsi(text), style);
            // A message box runs an event loop in which the window may have been closed.
            if (self && self->isLookingUp())
                Text2->setText(fromAnsi(name));
        });
    });
}
