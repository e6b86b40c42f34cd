#include "frmnorvoftp.h"

#include "controls.h"
#include "ftpprogress.h"
#include "job.h"
#include "localpanes.h"
#include "messagebox.h"
#include "remotepath.h"
#include "twips.h"

#include <QCheckBox>
#include <QDir>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QCoreApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <QScopeGuard>

#include <utility>
#include <vector>

using namespace Controls;

namespace {

// Asked before anything secret is sent to a server whose identity did not verify.
bool trustQuestion(const ServerIdentity &id)
{
    const auto q = [](const std::string &s) { return QString::fromStdString(s); };
    QString text;
    if (id.kind == ServerIdentity::Kind::TlsCertificate)
        text = QStringLiteral("The certificate of %1 could not be verified: %2.\r\n"
                              "Subject: %3\r\nIssuer: %4\r\nValid: %5\r\n"
                              "SHA-256 fingerprint: %6\r\n")
                   .arg(q(id.hostPort), q(id.reason), q(id.subject), q(id.issuer), q(id.validity),
                        q(id.fingerprint));
    else
        text = QStringLiteral("The host key of %1 is not known: %2.\r\n"
                              "Key type: %3\r\nFingerprint: %4\r\n")
                   .arg(q(id.hostPort), q(id.reason), q(id.keyType), q(id.fingerprint));
    text += QStringLiteral("\r\nCompare the fingerprint with the one the server's owner gives "
                           "you. Trust this server and remember its key?");
    return MsgBox(text, vbYesNo) == vbYes;
}

// Handles of a window that is going, or of a connection no step is left to take: closed on a
// job of their own, so the window's thread never waits for a server's goodbye. The suite's end
// cancels it.
void closeInBackground(std::vector<HINTERNET> handles)
{
    std::erase(handles, HINTERNET(0));
    if (handles.empty())
        return;
    auto *job = new Job(QCoreApplication::instance());
    QObject::connect(job, &Job::finished, job, &QObject::deleteLater);
    job->start([handles](JobContext &context) {
        FtpCallObserver observer;
        const auto hook = context.onCancel([&observer] { observer.cancelled = true; });
        const FtpObserverScope watch(observer);
        for (const HINTERNET h : handles)
            InternetCloseHandle(h);
    });
}

QRadioButton *optionButton(QWidget *parent, const char *name, const QString &caption, double left,
                           double top, double width, double height)
{
    auto *b = new QRadioButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAccessibleName(caption);
    Twips::place(b, left, top, width, height);
    return b;
}

} // namespace

QSize frmNorvoFTP::sizeHint() const { return Twips::size(8460, 4125); }

void frmNorvoFTP::createControls()
{
    setWindowTitle(QStringLiteral("F-T-P"));
    resize(Twips::size(8460, 4125));
    // The platform's grey text colour, the window's background in the design.
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(128, 128, 128));
    setPalette(pal);
    setAutoFillBackground(true);

    cmdInternetOpen = button(this, QStringLiteral("cmdInternetOpen"),
                             QStringLiteral("Start Session"), 135, 60, 1935, 315);
    cmdClosehOpen = button(this, QStringLiteral("cmdClosehOpen"), QStringLiteral("Close Session"),
                           2175, 60, 1935, 315);
    Label1 = label(this, QStringLiteral("Label1"), QStringLiteral(" Proxy :"), 5970, 60, 705, 255);
    txtProxy = textBox(this, QStringLiteral("txtProxy"), Label1, 6765, 45, 1095, 285);

    Line1 = new QFrame(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setFrameShape(QFrame::NoFrame);
    QPalette red = Line1->palette();
    red.setColor(QPalette::Window, QColor(255, 0, 0));
    Line1->setPalette(red);
    Line1->setAutoFillBackground(true);
    Line1->setGeometry(Twips::toPixelsX(195), Twips::toPixelsY(420),
                       Twips::toPixelsX(8220) - Twips::toPixelsX(195), 1);

    Label2 = label(this, QStringLiteral("Label2"), QStringLiteral("FTP Server:"), 120, 525, 1335,
                   255);
    txtServer = textBox(this, QStringLiteral("txtServer"), Label2, 1005, 480, 1455, 270);
    Label3 = label(this, QStringLiteral("Label3"), QStringLiteral("User Name:"), 2685, 480, 975,
                   255);
    txtUser = textBox(this, QStringLiteral("txtUser"), Label3, 3555, 465, 1095, 270);
    label4 = label(this, QStringLiteral("label4"), QStringLiteral("Password:"), 4740, 480, 855,
                   255);
    txtPassword = textBox(this, QStringLiteral("txtPassword"), label4, 5520, 465, 1095, 270);
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
    // The boxes sit above their labels in the design, so the labels must not hide them.
    txtServer->raise();
    txtUser->raise();
    txtPassword->raise();

    cmdConnect = button(this, QStringLiteral("cmdConnect"), QStringLiteral("Connect"), 135, 810,
                        1230, 345);
    chkPassive = new QCheckBox(QStringLiteral("Passive FTP syntax"), this);
    chkPassive->setObjectName(QStringLiteral("chkPassive"));
    chkPassive->setAccessibleName(chkPassive->text());
    Twips::place(chkPassive, 2265, 855, 2175, 255);
    cmdDisconnect = button(this, QStringLiteral("cmdDisconnect"), QStringLiteral("Disconnect"),
                           5625, 780, 1035, 345);

    TreeView1 = new QTreeWidget(this);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setAccessibleName(QStringLiteral("Remote directories and files"));
    TreeView1->setHeaderHidden(true);
    TreeView1->setColumnCount(1);
    TreeView1->setUniformRowHeights(true);
    TreeView1->setExpandsOnDoubleClick(false);
    TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    TreeView1->header()->setStretchLastSection(false);
    Twips::place(TreeView1, 180, 1245, 3015, 2655);
    TreeView1->viewport()->installEventFilter(this);
    TreeView1->installEventFilter(this);
    m_tree = std::make_unique<RemoteTree>(TreeView1);

    optBin = optionButton(this, "optBin", QStringLiteral("Binary"), 3420, 1245, 855, 375);
    optAscii = optionButton(this, "optAscii", QStringLiteral("Ascii"), 3420, 1725, 1095, 195);
    cmdGet = button(this, QStringLiteral("cmdGet"), QStringLiteral("--->Get--->"), 3300, 1965, 975,
                    495);
    cmdGet->setAccessibleName(QStringLiteral("Get"));
    cmdPut = button(this, QStringLiteral("cmdPut"), QStringLiteral("<---Put<---"), 3300, 2445, 975,
                    495);
    cmdPut->setAccessibleName(QStringLiteral("Put"));

    Drive1 = new LocalPanes::DriveListBox(this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->setAccessibleName(QStringLiteral("Local drive"));
    Twips::place(Drive1, 4860, 1245, 3495, 315);
    Dir1 = new LocalPanes::DirListBox(this);
    Dir1->setObjectName(QStringLiteral("Dir1"));
    // Dot folders and files are uploaded too.
    Dir1->setShowHidden(true);
    Dir1->setAccessibleName(QStringLiteral("Local folder"));
    Twips::place(Dir1, 4860, 1725, 1695, 2115);
    File1 = new LocalPanes::FileListBox(this);
    File1->setObjectName(QStringLiteral("File1"));
    File1->setShowHidden(true);
    File1->setAccessibleName(QStringLiteral("Local files"));
    Twips::place(File1, 6780, 1725, 1575, 1845);

    const QList<QWidget *> order{
        cmdInternetOpen, txtProxy,      cmdClosehOpen, txtServer, txtUser, txtPassword,
        cmdConnect,      cmdDisconnect, chkPassive,    Drive1,    Dir1,    File1,
        TreeView1,       cmdGet,        cmdPut,        optBin,    optAscii};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(cmdInternetOpen, &QPushButton::clicked, this, &frmNorvoFTP::cmdInternetOpen_Click);
    connect(cmdClosehOpen, &QPushButton::clicked, this, &frmNorvoFTP::cmdClosehOpen_Click);
    connect(cmdConnect, &QPushButton::clicked, this, &frmNorvoFTP::cmdConnect_Click);
    connect(cmdDisconnect, &QPushButton::clicked, this, &frmNorvoFTP::cmdDisconnect_Click);
    connect(cmdGet, &QPushButton::clicked, this, &frmNorvoFTP::cmdGet_Click);
    connect(cmdPut, &QPushButton::clicked, this, &frmNorvoFTP::cmdPut_Click);
    connect(optAscii, &QRadioButton::clicked, this, &frmNorvoFTP::optAscii_Click);
    connect(optBin, &QRadioButton::clicked, this, &frmNorvoFTP::optBin_Click);
    connect(Drive1, &LocalPanes::DriveListBox::driveChanged, this, &frmNorvoFTP::Drive1_Change);
    connect(Dir1, &LocalPanes::DirListBox::pathChanged, this, &frmNorvoFTP::Dir1_Change);
    connect(m_steps.get(), &FtpStepsRunner::finished, this, &frmNorvoFTP::handlerFinished,
            Qt::UniqueConnection);
}

void frmNorvoFTP::Form_Load()
{
    fInSession = false;
    hOpen = 0;
    hConnect = 0;
    chkPassive->setChecked(true);
    optBin->setChecked(true);
    lTransferType = FTP_TRANSFER_TYPE_BINARY;
    SetSessionControls(false);

    // The local panes start at the process's current folder.
    const QString here = QDir::currentPath();
    Drive1->selectDrive(LocalPanes::DriveListBox::driveOf(here));
    if (!Dir1->setPath(here).isEmpty())
        Drive1_Change();
    cmdInternetOpen->setFocus();
}

// Close Session, without waiting: a call under way is cancelled and joined, the handles are
// closed in the background.
void frmNorvoFTP::Form_Unload()
{
    m_steps->stop();
    closeInBackground({std::exchange(hConnect, 0), std::exchange(hOpen, 0)});
    endSession();
}

bool frmNorvoFTP::eventFilter(QObject *watched, QEvent *event)
{
    if (TreeView1 && watched == TreeView1->viewport() &&
        event->type() == QEvent::MouseButtonDblClick) {
        TreeView1_DblClick();
        return true;
    }
    // Enter opens or closes the selected node as a double-click does.
    if (TreeView1 && watched == TreeView1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            TreeView1_DblClick();
            return true;
        }
    }
    return ToolWindow::eventFilter(watched, event);
}

void frmNorvoFTP::SetSessionControls(bool flag)
{
    for (QWidget *w : std::initializer_list<QWidget *>{txtServer, txtUser, txtPassword, chkPassive,
                                                       cmdClosehOpen, optBin, optAscii})
        w->setEnabled(flag);
    cmdConnect->setEnabled(flag && !fInSession);
    cmdDisconnect->setEnabled(flag && fInSession);
    cmdGet->setEnabled(flag && fInSession);
    cmdPut->setEnabled(flag && fInSession);
    cmdInternetOpen->setEnabled(!flag);
    txtProxy->setEnabled(!flag);
}

void frmNorvoFTP::ClearSessionFields()
{
    txtServer->clear();
    txtUser->clear();
    txtPassword->clear();
    txtProxy->clear();
    ClearListing();
}

void frmNorvoFTP::ClearListing()
{
    colEntryNames.clear();
    colEntryAttributes.clear();
}

FtpSteps frmNorvoFTP::closeHandle(HINTERNET handle)
{
    // Closing a connection says goodbye to the server, which may be slow to answer.
    if (handle)
        co_await FtpProgress::call(this, QStringLiteral("Closing the connection"), QString(),
                                   [handle] { InternetCloseHandle(handle); });
}

FtpSteps frmNorvoFTP::closeConnectionAndSession()
{
    co_await closeHandle(std::exchange(hConnect, 0));
    co_await closeHandle(std::exchange(hOpen, 0));
    endSession();
}

void frmNorvoFTP::endSession()
{
    if (fInSession)
        m_tree->removeNode(txtServer->text());
    fInSession = false;
    ClearSessionFields();
    SetSessionControls(false);
}

FtpSteps frmNorvoFTP::ErrorOut(DWORD dError, const QString &szCallFunction)
{
    if (dError == ERROR_INTERNET_EXTENDED_ERROR) {
        DWORD number = 0, length = 0;
        InternetGetLastResponseInfoA(&number, nullptr, &length);
        std::string text(length + 1, '\0');
        DWORD size = length + 1;
        InternetGetLastResponseInfoA(&number, text.data(), &size);
        MsgBox(szCallFunction + QStringLiteral(" Extd Err: ") + QString::number(number) +
               QLatin1Char(' ') + QString::fromUtf8(text.c_str()));
    }
    // What the number alone does not say: a refused certificate, a failed handshake …
    if (const std::string detail = FtpLastErrorDetail(); !detail.empty())
        MsgBox(szCallFunction + QStringLiteral(": ") +
               QString::fromStdString(detail).replace(QLatin1Char('\n'), QStringLiteral("\r\n")));
    const int answer = MsgBox(szCallFunction + QStringLiteral(" Err: ") + QString::number(dError) +
                                  QStringLiteral("\r\nClose Connection and Session?"),
                              vbYesNo);
    if (answer == vbYes)
        co_await closeConnectionAndSession();
}

void frmNorvoFTP::cmdInternetOpen_Click() { m_steps->run(startSession()); }

FtpSteps frmNorvoFTP::startSession()
{
    const std::string proxy = txtProxy->text().toStdString();
    if (!proxy.empty())
        hOpen = InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), nullptr, 0);
    else
        hOpen = InternetOpenA("vb wininet", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!hOpen)
        co_await ErrorOut(GetLastError(), QStringLiteral("InternetOpen"));
    SetSessionControls(true);
}

void frmNorvoFTP::cmdClosehOpen_Click() { m_steps->run(closeConnectionAndSession()); }

void frmNorvoFTP::cmdConnect_Click() { m_steps->run(connectToServer()); }

FtpSteps frmNorvoFTP::connectToServer()
{
    if (fInSession || !hOpen)
        co_return;
    const QString server = txtServer->text();
    if (server.isEmpty()) {
        MsgBox(QStringLiteral("Please enter a server name!"));
        co_return;
    }
    const DWORD flags = chkPassive->isChecked() ? INTERNET_FLAG_PASSIVE : 0;
    const std::string host = server.toStdString(), user = txtUser->text().toStdString();
    std::string password = txtPassword->text().toStdString();
    const HINTERNET session = hOpen;
    HINTERNET connection = 0;
    std::string login;
    // Steps dropped during the call (the window closed) must not leak the connection it made.
    const auto leftOver = qScopeGuard([&connection] { closeInBackground({connection}); });
    co_await FtpProgress::call(
        this, QStringLiteral("Connecting to ") + server, QString(),
        [&] {
            connection = InternetConnectA(session, host.c_str(), 0, user.c_str(), password.c_str(),
                                          INTERNET_SERVICE_FTP, flags, 0);
            if (connection)
                login = FtpLoginDirectory(connection);
        },
        trustQuestion);
    std::fill(password.begin(), password.end(), '\0');
    hConnect = std::exchange(connection, 0);
    if (hConnect) {
        m_loginDirectory = QString::fromStdString(login);
        fInSession = true;
        SetSessionControls(hOpen != 0);
        AddTreeNodes(server);
        co_await ListRemoteDirectory(QString());
        if (!colEntryNames.isEmpty())
            AddTreeNodes(server);
    } else {
        fInSession = false;
        co_await ErrorOut(GetLastError(), QStringLiteral("InternetConnect"));
    }
}

void frmNorvoFTP::cmdDisconnect_Click() { m_steps->run(closeConnection()); }

FtpSteps frmNorvoFTP::closeConnection()
{
    co_await closeHandle(std::exchange(hConnect, 0));
    ClearListing();
    m_tree->removeNode(txtServer->text());
    fInSession = false;
    SetSessionControls(true);
}

FtpSteps frmNorvoFTP::changeDirectory(const QString &directory)
{
    const std::string dir = directory.toStdString();
    const HINTERNET connection = hConnect;
    bool ok = false;
    co_await FtpProgress::call(this, QStringLiteral("Changing to ") + directory, QString(),
                               [&] { ok = FtpSetCurrentDirectoryA(connection, dir.c_str()); });
    if (!ok)
        co_await ErrorOut(GetLastError(), QStringLiteral("rcd"));
}

FtpSteps frmNorvoFTP::rcd(const QString &path)
{
    if (path.isEmpty()) {
        MsgBox(QStringLiteral("Please enter the directory to CD"));
        co_return;
    }
    co_await changeDirectory(RemotePath::directoryOf(path, txtServer->text(), m_loginDirectory));
}

FtpSteps frmNorvoFTP::ListRemoteDirectory(const QString &path)
{
    ClearListing();
    if (!path.isEmpty())
        co_await rcd(path);

    struct Listing {
        std::vector<std::pair<std::string, DWORD>> entries;
        bool found = false;
        DWORD firstError = 0, nextError = 0;
    } listing;
    const HINTERNET connection = hConnect;
    QString action = QStringLiteral("Listing the login directory");
    if (!path.isEmpty())
        action = QStringLiteral("Listing ") + path;
    co_await FtpProgress::call(this, action, QString(), [&] {
            WIN32_FIND_DATA record;
            const HINTERNET find = FtpFindFirstFileA(connection, "*.*", &record, 0, 0);
            if (!find) {
                listing.firstError = GetLastError();
                return;
            }
            listing.found = true;
            do
                listing.entries.emplace_back(std::move(record.cFileName), record.dwFileAttributes);
            while (InternetFindNextFileA(find, &record));
            listing.nextError = GetLastError();
            // Closing the find handle must not hide the reply that ended the listing.
            const FtpLastError ending = FtpSaveLastError();
            InternetCloseHandle(find);
            FtpRestoreLastError(ending);
        });

    if (!listing.found) {
        if (listing.firstError == ERROR_NO_MORE_FILES)
            MsgBox(QStringLiteral("This directory is empty!"));
        else
            co_await ErrorOut(listing.firstError, QStringLiteral("FtpFindFirstFile"));
        co_return;
    }
    colEntryNames.reserve(qsizetype(listing.entries.size()));
    colEntryAttributes.reserve(qsizetype(listing.entries.size()));
    for (const auto &[name, attributes] : listing.entries) {
        colEntryNames.append(QString::fromStdString(name));
        colEntryAttributes.append(attributes);
    }
    if (listing.nextError != ERROR_NO_MORE_FILES)
        co_await ErrorOut(listing.nextError, QStringLiteral("InternetFindNextFile"));
}

void frmNorvoFTP::AddTreeNodes(const QString &path)
{
    if (path == txtServer->text() && colEntryNames.isEmpty())
        m_tree->addRoot(path);
    else
        m_tree->addEntries(path, colEntryNames, colEntryAttributes);
}

void frmNorvoFTP::TreeView1_DblClick() { m_steps->run(openOrCloseSelected()); }

FtpSteps frmNorvoFTP::openOrCloseSelected()
{
    if (!fInSession) {
        MsgBox(QStringLiteral("No in session!"));
        co_return;
    }
    QTreeWidgetItem *item = m_tree->selectedNode();
    if (!item) {
        MsgBox(QStringLiteral("no Selection to enumerate"));
        co_return;
    }
    const QString image = imageKey(item);
    if (image == RemoteTree::closedKey) {
        RemoteTree::setImageKey(item, RemoteTree::openKey);
        const QString path = item->text(0);
        co_await ListRemoteDirectory(path);
        AddTreeNodes(path);
    } else if (image == RemoteTree::openKey) {
        RemoteTree::setImageKey(item, RemoteTree::closedKey);
        m_tree->removeChildren(item);
    }
}
