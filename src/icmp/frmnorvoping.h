#pragma once
#include "toolwindow.h"

#include <array>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// Ping: one ICMP echo carrying a text to a dotted address, and the six fields of its reply.
class frmNorvoPing : public ToolWindow {
    Q_OBJECT
public:
    using ToolWindow::ToolWindow;
    void createControls() override;

    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QPushButton *Command1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Text2 = nullptr;
    QFrame *Line1 = nullptr;
    std::array<QLabel *, 6> Label3{};
    std::array<QLineEdit *, 6> Text4{};

public Q_SLOTS:
    void Command1_Click();
};
