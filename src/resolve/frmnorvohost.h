#pragma once
#include "lookupwindow.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// Resolve Host Name: a dotted IPv4 address in, the host name of its reverse look-up out.
class frmNorvoHost : public LookupWindow {
    Q_OBJECT
public:
    explicit frmNorvoHost(QWidget *parent = nullptr);
    ~frmNorvoHost() override;
    void createControls() override;
    void Form_Load() override;

    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Text2 = nullptr;
    QFrame *Line1 = nullptr;
    QPushButton *Command1 = nullptr;

public Q_SLOTS:
    void Command1_Click();
};
