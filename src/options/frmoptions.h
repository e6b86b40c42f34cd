#pragma once
#include "toolwindow.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Options: edits the settings record in norvo.ini (home page, pop-up option, whether the two
// are in force). Browser windows opened after Save use the new home page; the pop-up option
// is read at the next start.
class frmOptions : public ToolWindow {
    Q_OBJECT
public:
    using ToolWindow::ToolWindow;
    void createControls() override;
    void Form_Load() override;

    QLabel *Label1 = nullptr;
    QLineEdit *txtHomePage = nullptr;
    QCheckBox *chkAllowPopUps = nullptr;
    QCheckBox *chkUseSettings = nullptr;
    QLabel *lblNote = nullptr;
    QLabel *lblStatus = nullptr;
    QPushButton *cmdSave = nullptr;
    QPushButton *cmdClose = nullptr;

public Q_SLOTS:
    void cmdSave_Click();
    void cmdClose_Click();
};
