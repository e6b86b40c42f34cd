#pragma once
#include "toolwindow.h"

#include <memory>
#include <string>

class Job;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

// Trace Route: ICMP echoes of rising TTL to a host, one line for every node that answers.
class frmNorvoRoute : public ToolWindow {
    Q_OBJECT
public:
    explicit frmNorvoRoute(QWidget *parent = nullptr);
    ~frmNorvoRoute() override;
    void createControls() override;
    void Form_Load() override;
    void Form_Unload() override;

    bool isTracing() const { return m_trace != nullptr; }

    // The host names offered in Combo1.
    static QStringList presetHosts();

    QLabel *Label1 = nullptr;
    QComboBox *Combo1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *Text1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *cmdStop = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *Text2 = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *Text3 = nullptr;
    QFrame *Line1 = nullptr;
    QCheckBox *Check1 = nullptr;
    QListWidget *List1 = nullptr;
    QPlainTextEdit *Text4 = nullptr;

public Q_SLOTS:
    void Command1_Click();
    void cmdStop_Click();

Q_SIGNALS:
    // The trace is over (done, stopped, failed or its window closed).
    void traceEnded();

private:
    void TraceRT();
    void endTrace();
    void appendOutput(const std::string &text);

    std::unique_ptr<Job> m_trace; // while a trace runs
};
