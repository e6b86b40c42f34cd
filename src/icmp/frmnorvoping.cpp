#include "frmnorvoping.h"

#include "echomodule.h"
#include "controls.h"
#include "messagebox.h"
#include "twips.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Controls;

void frmNorvoPing::createControls()
{
    setWindowTitle(QStringLiteral("Ping"));
    setFixedSize(Twips::size(7020, 2355));

    Label1 = label(this, QStringLiteral("Label1"), QStringLiteral("Address : "), 60, 45, 1425, 255);
    Text1 = textBox(this, QStringLiteral("Text1"), Label1, 1755, 45, 1680, 270);
    Command1 = button(this, QStringLiteral("Command1"), QStringLiteral("Ping"), 4950, 225, 1350,
                      405);
    Label2 = label(this, QStringLiteral("Label2"), QStringLiteral("Text to Send  :"), 60, 555, 1425,
                   255);
    Text2 = textBox(this, QStringLiteral("Text2"), Label2, 1755, 585, 1680, 285);
    Line1 = hline(this, QStringLiteral("Line1"), 210, 6870, 1080);

    struct Field {
        const char *caption;
        double labelLeft, labelTop, labelHeight, boxLeft, boxTop, boxWidth;
    };
    static constexpr Field fields[6] = {
        {"Return Status :", 90, 1170, 225, 1755, 1140, 1275},
        {"Address(decimal) : ", 90, 1590, 225, 1755, 1560, 1680},
        {"Round Trip Time : ", 90, 1995, 225, 1755, 1965, 1680},
        {"Data Packet Size :", 3645, 1200, 225, 5205, 1185, 1680},
        {"Data Returned :", 3645, 1605, 210, 5205, 1590, 1680},
        {"Data Pointer :", 3645, 2010, 225, 5205, 1965, 1680},
    };
    for (int i = 0; i < 6; ++i) {
        const Field &f = fields[i];
        Label3[i] = label(this, QStringLiteral("Label3(%1)").arg(i), QLatin1String(f.caption),
                          f.labelLeft, f.labelTop, 1425, f.labelHeight);
        Text4[i] = textBox(this, QStringLiteral("Text4(%1)").arg(i), Label3[i], f.boxLeft, f.boxTop,
                           f.boxWidth, 285);
    }

    setTabOrder(Command1, Text1);
    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Text4[0]);
    for (int i = 1; i < 6; ++i)
        setTabOrder(Text4[i - 1], Text4[i]);

    connect(Command1, &QPushButton::clicked, this, &frmNorvoPing::Command1_Click);
}

void frmNorvoPing::Command1_Click()
{
    const MessageSink show = [](const std::string &text, int style) {
        MsgBox(fromAnsi(text), style);
    };
    if (!Module1::StartWinsock()) {
        MsgBox(QString::fromLatin1(Module1::StartFailedText), vbOKOnly);
        return;
    }
    EchoReplyRecord record;
    bool opened = false;
    int32_t status;
    {
        BusyCursor busy;
        status = SendEcho(toAnsi(Text1->text()), toAnsi(Text2->text()), record, &opened);
    }
    if (status == 0 && !opened) {
        // Without an echo socket nothing was sent: say why instead of showing a success.
        MsgBox(QString::fromLatin1(EchoNotPermittedText), vbExclamation);
    } else {
        const PingFieldTexts f = pingFieldTexts(status, record);
        Text4[0]->setText(fromAnsi(f.status));
        Text4[1]->setText(fromAnsi(f.address));
        Text4[2]->setText(fromAnsi(f.roundTripTime));
        Text4[3]->setText(fromAnsi(f.dataSize));
        if (f.data)
            Text4[4]->setText(fromAnsi(*f.data));
        Text4[5]->setText(fromAnsi(f.dataPointer));
    }
    Module1::StopWinsock(show);
}
