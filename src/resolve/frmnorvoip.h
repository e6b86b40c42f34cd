#pragma once
#include "lookupwindow.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// Resolve IP Address: a host name in, its first IPv4 address as dotted text out.
class frmNorvoIP : public LookupWindow {
    Q_OBJECT
public:
    explicit frmNorvoIP(QWidget *parent = nullptr);
    ~frmNorvoIP() override;
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
