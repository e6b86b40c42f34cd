#include "frmoptions.h"

#include "controls.h"
#include "messagebox.h"
#include "recordwriter.h"
#include "settingsrecord.h"
#include "twips.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPushButton>

using namespace Controls;

namespace {
const QString Caption = QStringLiteral("Options");

QCheckBox *checkBox(QWidget *parent, const QString &name, const QString &caption, double left,
                    double top, double width, double height)
{
    auto *c = new QCheckBox(caption, parent);
    c->setObjectName(name);
    c->setAccessibleName(labelWords(caption));
    Twips::place(c, left, top, width, height);
    return c;
}

// The record's 40 bytes without the blanks or NULs that pad them.
QString shownHomePage(QString home)
{
    while (!home.isEmpty() && (home.back() == QLatin1Char(' ') || home.back().isNull()))
        home.chop(1);
    return home;
}
} // namespace

void frmOptions::createControls()
{
    setWindowTitle(Caption);
    setFixedSize(Twips::size(5400, 2460));

    Label1 = label(this, "Label1", tr("&Home page:"), 120, 195, 1140, 255);
    txtHomePage = textBox(this, "txtHomePage", Label1, 1320, 150, 3900, 315);
    txtHomePage->setAccessibleName(tr("Home page"));
    txtHomePage->setPlaceholderText(tr("at most 40 characters"));
    chkAllowPopUps = checkBox(this, "chkAllowPopUps", tr("Allow &pop-up windows"), 1320, 585, 3900,
                              285);
    chkUseSettings = checkBox(this, "chkUseSettings", tr("&Use these settings"), 1320, 915, 3900,
                              285);
    chkAllowPopUps->setAccessibleName(tr("Allow pop-up windows"));
    chkUseSettings->setAccessibleName(tr("Use these settings"));
    lblNote = label(this, "lblNote",
                    tr("Browser windows opened after Save use the new home page. The pop-up "
                       "choice applies from the next start."),
                    120, 1275, 5100, 480);
    lblNote->setWordWrap(true);
    lblStatus = label(this, "lblStatus", QString(), 120, 1935, 2760, 255);
    cmdSave = button(this, "cmdSave", tr("&Save"), 3000, 1860, 1035, 375);
    cmdClose = button(this, "cmdClose", tr("&Close"), 4185, 1860, 1035, 375);
    cmdSave->setAccessibleName(tr("Save"));
    cmdClose->setAccessibleName(tr("Close"));
    cmdSave->setDefault(true);

    setTabOrder(txtHomePage, chkAllowPopUps);
    setTabOrder(chkAllowPopUps, chkUseSettings);
    setTabOrder(chkUseSettings, cmdSave);
    setTabOrder(cmdSave, cmdClose);
    connect(cmdSave, &QPushButton::clicked, this, &frmOptions::cmdSave_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmOptions::cmdClose_Click);
    connect(txtHomePage, &QLineEdit::returnPressed, this, &frmOptions::cmdSave_Click);
}

void frmOptions::Form_Load()
{
    // The record as a browser window would read it now.
    ReadSettingsRecord();
    txtHomePage->setText(shownHomePage(g_settingsRecord.HomePage));
    chkAllowPopUps->setChecked(g_settingsRecord.AllowPopUps == VbTrue);
    chkUseSettings->setChecked(g_settingsRecord.UseStoredSettings == VbTrue);
    setReadableText(lblStatus, QString());
    txtHomePage->setFocus();
}

void frmOptions::cmdSave_Click()
{
    setReadableText(lblStatus, QString());
    const QString home = txtHomePage->text();
    // Blanks alone would send every new browser window to an empty address.
    if (chkUseSettings->isChecked() && home.trimmed().isEmpty()) {
        MsgBox(tr("Type a home page, or clear \"Use these settings\"."), vbExclamation, Caption);
        txtHomePage->setFocus();
        return;
    }
    const QString error = RecordWriter::save(QString::fromLatin1(SettingsFileName), home,
                                             chkAllowPopUps->isChecked(),
                                             chkUseSettings->isChecked());
    if (!error.isEmpty()) {
        MsgBox(error, vbExclamation, Caption);
        txtHomePage->setFocus();
        return;
    }
    // The shared copy follows the file, as the next browser window's read will.
    ReadSettingsRecord();
    setReadableText(lblStatus, tr("Saved."));
}

void frmOptions::cmdClose_Click()
{
    if (QMdiSubWindow *sub = subWindow())
        sub->close();
    else
        close();
}
