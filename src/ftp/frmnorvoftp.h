#pragma once
#include "ftpsteps.h"
#include "remotetree.h"
#include "toolwindow.h"
#include "wininet.h"

#include <QList>
#include <QStringList>

#include <memory>

namespace LocalPanes {
class DirListBox;
class DriveListBox;
class FileListBox;
} // namespace LocalPanes
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

// F-T-P: a session (optionally through a proxy), one connection to a server, its directories
// as a tree grown on demand, and single-file Get and Put between the tree and a local folder.
//
// A handler's steps after a call that waits on the network go on when the call has ended (see
// ftpsteps.h); meanwhile the progress box keeps the user from starting another handler, and a
// handler started before it shows is ignored.
class frmNorvoFTP : public ToolWindow {
    Q_OBJECT
public:
    using ToolWindow::ToolWindow;
    void createControls() override;
    void Form_Load() override;
    void Form_Unload() override;
    bool isSizable() const override { return true; }
    // The designed client area, which the frame takes when it first shows the window.
    QSize sizeHint() const override;

    FtpSteps ErrorOut(DWORD dError, const QString &szCallFunction);
    void SetSessionControls(bool flag);
    void ClearSessionFields();
    void ClearListing();
    FtpSteps rcd(const QString &path);
    FtpSteps ListRemoteDirectory(const QString &path);
    void AddTreeNodes(const QString &path);

    // True from a handler's start until its last step has run.
    bool isBusy() const { return m_steps->isRunning(); }

    // The node with that key, or null.
    QTreeWidgetItem *node(const QString &key) const { return m_tree ? m_tree->node(key) : nullptr; }
    static QString imageKey(const QTreeWidgetItem *item) { return RemoteTree::imageKey(item); }

    HINTERNET hOpen = 0;
    HINTERNET hConnect = 0;
    bool fInSession = false;
    DWORD lTransferType = FTP_TRANSFER_TYPE_BINARY;
    QStringList colEntryNames;
    QList<DWORD> colEntryAttributes;

    QPushButton *cmdInternetOpen = nullptr;
    QPushButton *cmdClosehOpen = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *txtProxy = nullptr;
    QFrame *Line1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *txtServer = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *txtUser = nullptr;
    QLabel *label4 = nullptr;
    QLineEdit *txtPassword = nullptr;
    QPushButton *cmdConnect = nullptr;
    QCheckBox *chkPassive = nullptr;
    QPushButton *cmdDisconnect = nullptr;
    QTreeWidget *TreeView1 = nullptr;
    QRadioButton *optBin = nullptr;
    QRadioButton *optAscii = nullptr;
    QPushButton *cmdGet = nullptr;
    QPushButton *cmdPut = nullptr;
    LocalPanes::DriveListBox *Drive1 = nullptr;
    LocalPanes::DirListBox *Dir1 = nullptr;
    LocalPanes::FileListBox *File1 = nullptr;

public Q_SLOTS:
    void cmdInternetOpen_Click();
    void cmdClosehOpen_Click();
    void cmdConnect_Click();
    void cmdDisconnect_Click();
    void TreeView1_DblClick();
    void cmdGet_Click();
    void cmdPut_Click();
    void optAscii_Click();
    void optBin_Click();
    void Drive1_Change();
    void Dir1_Change();

Q_SIGNALS:
    // A handler's last step has run (not after the window closed while it waited).
    void handlerFinished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The handlers' steps.
    FtpSteps startSession();
    FtpSteps connectToServer();
    FtpSteps closeConnection();
    FtpSteps openOrCloseSelected();
    FtpSteps getFile();
    FtpSteps putFile();

    // Makes a remote directory current (the last step of rcd).
    FtpSteps changeDirectory(const QString &directory);
    // Closes a handle that is not 0.
    FtpSteps closeHandle(HINTERNET handle);
    // Closes both handles and empties the tree and the boxes: Close Session, and Yes in ErrorOut.
    FtpSteps closeConnectionAndSession();
    // What Close Session does after closing the handles.
    void endSession();

    std::unique_ptr<RemoteTree> m_tree;
    // The directory the server logged us into; the tree's root stands for it.
    QString m_loginDirectory;
    // Last: its steps, and the call they wait for, go before anything they use.
    std::unique_ptr<FtpStepsRunner> m_steps = std::make_unique<FtpStepsRunner>();
};
