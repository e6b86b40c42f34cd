#pragma once
#include "toolwindow.h"

#include <memory>

class Job;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

// Resolve IP Address: a host name in, its first IPv4 address as dotted text out.
class frmNorvoIP : public ToolWindow {
    Q_OBJECT
public:
    explicit frmNorvoIP(QWidget *parent = nullptr);
    ~frmNorvoIP() override;
    void createControls() override;
    void Form_Load() override;
    void Form_Unload() override;

    bool isLookingUp() const { return m_lookup != nullptr; }

    QLabel *Label1 = nullptr;
    QLineEdit *Text1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Text2 = nullptr;
    QFrame *Line1 = nullptr;
    QPushButton *Command1 = nullptr;

public Q_SLOTS:
    void Command1_Click();

Q_SIGNALS:
    // A press's look-up is over and Text2 shows its result.
    void lookupEnded();

private:
    void endLookup();

    std::unique_ptr<Job> m_lookup;
};
