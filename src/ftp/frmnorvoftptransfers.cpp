// The FTP window's transfers and local panes: Get, Put, the transfer type, drive and folder.
#include "frmnorvoftp.h"

#include "ftpprogress.h"
#include "localpanes.h"
#include "messagebox.h"
#include "remotepath.h"

#include <QLineEdit>
#include <QTreeWidget>

namespace {

QString showable(const QString &name)
{
    QString shown = name;
    for (QChar &c : shown)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    return shown;
}

} // namespace

void frmNorvoFTP::cmdGet_Click() { m_steps->run(getFile()); }

FtpSteps frmNorvoFTP::getFile()
{
    if (!fInSession) {
        MsgBox(QStringLiteral("Not in session"));
        co_return;
    }
    QTreeWidgetItem *item = m_tree->selectedNode();
    if (!item) {
        MsgBox(QStringLiteral("Please select the item to GET!"));
        co_return;
    }
    const RemotePath::Split split = RemotePath::splitAtLastSlash(item->text(0));
    // A listed name must land in the file pane's folder under that very name, or not at all.
    const QVariant listed = RemoteTree::listedName(item);
    QString problem = RemotePath::localNameProblem(split.name);
    if (problem.isEmpty() && listed.isValid() && listed.toString() != split.name)
        problem = RemotePath::localNameProblem(listed.toString());
    if (!problem.isEmpty()) {
        MsgBox(QStringLiteral("\"%1\" can't be saved in the local folder: %2.")
                   .arg(showable(listed.isValid() ? listed.toString() : split.name), problem));
        co_return;
    }
    co_await rcd(split.directory);

    const std::string remote = split.name.toStdString();
    const std::string local = (File1->path() + QLatin1Char('/') + split.name).toStdString();
    const HINTERNET connection = hConnect;
    const DWORD type = lTransferType;
    bool ok = false;
    co_await FtpProgress::call(this, QStringLiteral("Getting"), split.name, [&] {
        ok = FtpGetFileA(connection, remote.c_str(), local.c_str(), false, INTERNET_FLAG_RELOAD,
                         type, 0);
    });
    File1->refresh();
    if (!ok)
        co_await ErrorOut(GetLastError(), QStringLiteral("FtpGetFile"));
}

void frmNorvoFTP::cmdPut_Click() { m_steps->run(putFile()); }

FtpSteps frmNorvoFTP::putFile()
{
    if (!fInSession)
        co_return;
    QTreeWidgetItem *item = m_tree->selectedNode();
    if (!item || imageKey(item) == RemoteTree::leafKey) {
        MsgBox(QStringLiteral("Please select a remote directory to PUT to!"));
        co_return;
    }
    const QString fileName = File1->fileName();
    if (fileName.isEmpty()) {
        MsgBox(QStringLiteral("Please select a local file to put"));
        co_return;
    }
    const QString nodeText = item->text(0);
    const QString directory = nodeText.mid(txtServer->text().size());
    const std::string local = (File1->path() + QLatin1Char('/') + fileName).toStdString();
    // The root stands for the login directory.
    if (directory.isEmpty())
        co_await changeDirectory(RemotePath::joinLogin(m_loginDirectory, QString()));
    else
        co_await rcd(directory);

    const std::string remote = fileName.toStdString();
    const HINTERNET connection = hConnect;
    const DWORD type = lTransferType;
    bool ok = false;
    co_await FtpProgress::call(this, QStringLiteral("Putting"), fileName, [&] {
        ok = FtpPutFileA(connection, local.c_str(), remote.c_str(), type, 0);
    });
    if (!ok) {
        co_await ErrorOut(GetLastError(), QStringLiteral("FtpPutFile"));
        co_return;
    }
    // The node may have gone with the tree while the transfer ran.
    item = m_tree->node(nodeText);
    if (!item)
        co_return;
    m_tree->removeChildren(item);
    if (imageKey(item) == RemoteTree::closedKey)
        RemoteTree::setImageKey(item, RemoteTree::openKey);
    co_await ListRemoteDirectory(nodeText);
    AddTreeNodes(nodeText);
}

void frmNorvoFTP::optAscii_Click() { lTransferType = FTP_TRANSFER_TYPE_ASCII; }

void frmNorvoFTP::optBin_Click() { lTransferType = FTP_TRANSFER_TYPE_BINARY; }

void frmNorvoFTP::Drive1_Change()
{
    if (Dir1->setPath(Drive1->drive()).isEmpty())
        return;
    // An unreadable drive falls back to the root file system.
    Drive1->selectDrive(QStringLiteral("/"));
    Dir1->setPath(QStringLiteral("/"));
}

void frmNorvoFTP::Dir1_Change() { File1->setPath(Dir1->path()); }
