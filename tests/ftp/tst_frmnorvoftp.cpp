#include "frmnorvoftp.h"
#include "ftpprogress.h"
#include "ftpserver.h"
#include "localpanes.h"
#include "messagebox.h"
#include "remotepath.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

// The FTP window against a real pyftpdlib server on loopback whose login directory is not "/":
// every message box goes through the interceptor, every file is checked on both ends.
//
// A user's session is written as steps separated by ";" (paths after the server text):
//   click BUTTON | call SLOT (also a disabled button's) | sel PATH | none (no selection) |
//   dbl PATH (double-click) | local NAME (the binary payload into the local folder) |
//   local NAME=TEXT | pick (the first local file) | set BOX=TEXT | listed NAME (a made-up
//   listing entry below the root) | yes (Yes to the close question) | close (the window)
// and what must hold afterwards as "what=value":
//   pane (local file names) | local:NAME, server:PATH (contents, "binary" for the payload) |
//   tree:PATH (children with their images) | image:PATH | enabled (buttons) |
//   handles (session, connection, in session) | boxes (server, user, password, proxy)
struct Session {
    bool connected; // the fixture's server, user and password filled in and connected first
    QString steps;
    QStringList messages = {}; // each the "style|text" of a box, or a part of it
    QStringList after = {};
};
Q_DECLARE_METATYPE(Session)

namespace {
const QByteArray binary("binary\r\n\0bytes\n", 15);
const QString saved = QStringLiteral("can't be saved in the local folder");
} // namespace

class tst_frmNorvoFTP : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void remoteDirectory_data();
    void remoteDirectory();
    void keyboardAndNames();
    void sessions_data();
    void sessions();
    void interruptedGet_data();
    void interruptedGet();

private:
    std::unique_ptr<frmNorvoFTP> window(const FtpServerPeer &peer, bool connect);
    QString what(frmNorvoFTP &w, const QString &key);
    QString S() const { return m_server->server(); }

    std::unique_ptr<FtpServerPeer> m_server;
    std::unique_ptr<QTemporaryDir> m_local;
    QString m_pane;         // File1's folder, inside m_local
    QStringList m_messages; // "style|text" of each box
    int m_answer = vbNo;
};

void tst_frmNorvoFTP::initTestCase()
{
    m_server = std::make_unique<FtpServerPeer>();
    REQUIRE_FTP_SERVER(*m_server);
    const QString home = FtpServerPeer::home;
    QVERIFY(m_server->writeFile(home + "/readme.txt", "the login directory's readme\n"));
    QVERIFY(m_server->writeFile(home + "/pub/inner.txt", "inner\n"));
    QVERIFY(QDir().mkpath(m_server->root(home + "/empty")));
    QVERIFY(m_server->writeFile(home + "/odd/back\\slash", "x"));
    QVERIFY(m_server->writeFile(home + "/odd/bell\a", "x"));
    QVERIFY(m_server->writeFile(home + "/odd/dos.txt", "one\r\ntwo\r\n"));
    // Same names at the server's "/": what the first level would wrongly address.
    QVERIFY(m_server->writeFile("/readme.txt", "the server root's readme\n"));
    QVERIFY(m_server->writeFile("/pub/inner.txt", "wrong inner\n"));
}

void tst_frmNorvoFTP::init()
{
    m_messages.clear();
    m_answer = vbNo;
    FtpProgress::setShowDelay(400);
    setMsgBoxHandler([this](const QString &text, int style, const QString &title) {
        m_messages << QString::number(style) + QLatin1Char('|') + text;
        if (title != applicationTitle())
            m_messages << QStringLiteral("title: ") + title;
        return style == vbYesNo ? m_answer : int(vbOK);
    });
    m_local = std::make_unique<QTemporaryDir>();
    m_pane = m_local->path() + QStringLiteral("/pane");
    QVERIFY(QDir().mkpath(m_pane));
}

// Puts leave nothing on the shared server.
void tst_frmNorvoFTP::cleanup()
{
    for (const char *folder : {"", "/empty", "/pub"})
        QFile::remove(m_server->root(FtpServerPeer::home + QString(folder) + "/sent.bin"));
}

std::unique_ptr<frmNorvoFTP> tst_frmNorvoFTP::window(const FtpServerPeer &peer, bool connect)
{
    auto w = std::make_unique<frmNorvoFTP>();
    w->load();
    w->show();
    w->Dir1->setPath(m_pane);
    w->txtServer->setText(peer.server());
    w->txtUser->setText(FtpServerPeer::user);
    w->txtPassword->setText(FtpServerPeer::password);
    if (connect) {
        w->cmdInternetOpen->click();
        w->cmdConnect->click();
    }
    return w;
}

QString tst_frmNorvoFTP::what(frmNorvoFTP &w, const QString &key)
{
    const QString arg = key.section(':', 1);
    const auto contents = [](const QByteArray &b) {
        return b == binary ? QStringLiteral("binary") : QString::fromUtf8(b);
    };
    if (key.startsWith("local:"))
        return contents(readFile(m_pane + '/' + arg));
    if (key.startsWith("server:"))
        return contents(m_server->readFile(FtpServerPeer::home + arg));
    if (key.startsWith("image:"))
        return frmNorvoFTP::imageKey(w.node(S() + arg));
    if (key == "handles")
        return QStringLiteral("%1%2%3").arg(w.hOpen != 0).arg(w.hConnect != 0).arg(w.fInSession);
    QStringList out;
    if (key == "pane")
        out = QDir(m_pane).entryList(QDir::Files | QDir::Hidden);
    const QTreeWidgetItem *node = key.startsWith("tree:") ? w.node(S() + arg) : nullptr;
    for (int i = 0; node && i < node->childCount(); ++i)
        out << node->child(i)->text(0).mid(S().size()) + '|' +
                   frmNorvoFTP::imageKey(node->child(i));
    for (auto *b :
         {w.cmdInternetOpen, w.cmdClosehOpen, w.cmdConnect, w.cmdDisconnect, w.cmdGet, w.cmdPut})
        if (key == "enabled" && b->isEnabled())
            out << b->objectName();
    for (auto *box : {w.txtServer, w.txtUser, w.txtPassword, w.txtProxy})
        if (key == "boxes")
            out << box->text();
    out.sort();
    return out.join(',');
}

void tst_frmNorvoFTP::remoteDirectory_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("directory");
    QTest::newRow("first level, login /") << "h:21/pub"
                                          << "/"
                                          << "/pub";
    QTest::newRow("root, login /") << "h:21"
                                   << "/"
                                   << "/";
    QTest::newRow("deeper, login home") << "h:21/pub/a b"
                                        << "/home/u/"
                                        << "/home/u/pub/a b";
}

void tst_frmNorvoFTP::remoteDirectory()
{
    QFETCH(QString, path);
    QFETCH(QString, login);
    QFETCH(QString, directory);
    QCOMPARE(RemotePath::directoryOf(path, QStringLiteral("h:21"), login), directory);
}

// Tab order and names for the keyboard and assistive technology; an unreadable drive falls back.
void tst_frmNorvoFTP::keyboardAndNames()
{
    auto w = window(*m_server, true);
    const QStringList order{
        "cmdInternetOpen", "txtProxy",      "cmdClosehOpen", "txtServer", "txtUser", "txtPassword",
        "cmdConnect",      "cmdDisconnect", "chkPassive",    "Drive1",    "Dir1",    "File1",
        "TreeView1",       "cmdGet",        "cmdPut",        "optBin",    "optAscii"};
    QStringList chain;
    for (QWidget *c = w->cmdInternetOpen; chain.size() < order.size(); c = c->nextInFocusChain())
        if (c->focusPolicy() & Qt::TabFocus && order.contains(c->objectName()))
            chain << c->objectName();
    QCOMPARE(chain, order);
    for (QWidget *c : w->findChildren<QWidget *>())
        QVERIFY2(!(c->focusPolicy() & Qt::TabFocus) || !c->accessibleName().isEmpty(),
                 qPrintable(c->objectName()));
    for (QLabel *label : w->findChildren<QLabel *>())
        QVERIFY2(label->buddy(), qPrintable(label->text()));
    QCOMPARE(w->txtPassword->echoMode(), QLineEdit::Password);
    w->Drive1->setDrive(m_local->path() + "/not-mounted");
    QCOMPARE(QStringList({w->Drive1->drive(), w->Dir1->path(), w->File1->path()}),
             QStringList({"/", "/", "/"}));
}

void tst_frmNorvoFTP::sessions_data()
{
    QTest::addColumn<Session>("s");
    const QString question = "\r\nClose Connection and Session?";
    const QStringList folder{"0|FtpGetFile Extd Err: 550 ", "4|FtpGetFile Err: 12003" + question};
    const QString root = "tree:=/empty|closed,/odd|closed,/pub|closed,/readme.txt|leaf";
    // Guards against clicks out of turn.
    QTest::newRow("get, no session") << Session{false, "call cmdGet_Click", {"0|Not in session"}};
    QTest::newRow("put, no session") << Session{false, "call cmdPut_Click"};
    QTest::newRow("open, no session")
        << Session{false, "call TreeView1_DblClick", {"0|No in session!"}};
    QTest::newRow("get, nothing selected")
        << Session{true, "none;call cmdGet_Click", {"0|Please select the item to GET!"}};
    QTest::newRow("put, nothing selected") << Session{
        true, "none;call cmdPut_Click", {"0|Please select a remote directory to PUT to!"}};
    QTest::newRow("open, nothing selected")
        << Session{true, "none;call TreeView1_DblClick", {"0|no Selection to enumerate"}};
    // Session and connection.
    QTest::newRow("idle") << Session{false, "", {}, {"enabled=cmdInternetOpen", "handles=000"}};
    QTest::newRow("session open") << Session{
        false, "click cmdInternetOpen", {}, {"enabled=cmdClosehOpen,cmdConnect", "handles=100"}};
    QTest::newRow("connected") << Session{
        true, "", {}, {"enabled=cmdClosehOpen,cmdDisconnect,cmdGet,cmdPut", "handles=111", root}};
    QTest::newRow("disconnected") << Session{
        true, "click cmdDisconnect", {}, {"enabled=cmdClosehOpen,cmdConnect", "handles=100"}};
    QTest::newRow("session closed")
        << Session{true, "click cmdClosehOpen", {}, {"enabled=cmdInternetOpen", "handles=000"}};
    QTest::newRow("window closed") << Session{true, "close", {}, {"handles=000"}};
    // The reply text is the server's line as sent, its number included.
    QTest::newRow("bad password") << Session{
        false,
        "set txtPassword=wrong;click cmdInternetOpen;click cmdConnect",
        {"0|InternetConnect Extd Err: 530 530 Authentication failed.",
         "4|InternetConnect Err: 12003" + question},
        {"handles=100"}};
    QTest::newRow("empty server") << Session{
        false,
        "set txtServer=;click cmdInternetOpen;click cmdConnect",
        {"0|Please enter a server name!"},
        {"handles=100"}};
    QTest::newRow("error, Yes closes all")
        << Session{true,
                   "set txtProxy=typed while connected;sel /pub;yes;click cmdGet",
                   folder,
                   {"handles=000", "boxes=,,,", "enabled=cmdInternetOpen"}};
    // The tree.
    QTest::newRow("open") << Session{
        true, "dbl /pub", {}, {"image:/pub=open", "tree:/pub=/pub/inner.txt|leaf"}};
    QTest::newRow("close") << Session{
        true, "dbl /pub;dbl /pub", {}, {"image:/pub=closed", "tree:/pub="}};
    QTest::newRow("reopen") << Session{true,
                                       "dbl /pub;dbl /pub;dbl /pub",
                                       {},
                                       {"image:/pub=open", "tree:/pub=/pub/inner.txt|leaf"}};
    QTest::newRow("empty") << Session{
        true, "dbl /empty", {"0|This directory is empty!"}, {"image:/empty=open", "tree:/empty="}};
    QTest::newRow("empty, closed again") << Session{
        true, "dbl /empty;dbl /empty", {"0|This directory is empty!"}, {"image:/empty=closed"}};
    QTest::newRow("file") << Session{true, "dbl /readme.txt", {}, {"image:/readme.txt=leaf"}};
    QTest::newRow("root") << Session{true, "dbl ", {}, {root}};
    // Get.
    const QString readme = "local:readme.txt=the login directory's readme\n";
    QTest::newRow("get a first-level file")
        << Session{true, "sel /readme.txt;click cmdGet", {}, {"pane=readme.txt", readme}};
    QTest::newRow("get a file in a folder")
        << Session{true,
                   "dbl /pub;sel /pub/inner.txt;click cmdGet",
                   {},
                   {"pane=inner.txt", "local:inner.txt=inner\n"}};
    QTest::newRow("get replaces a local file")
        << Session{true,
                   "local readme.txt=older and longer local text;sel /readme.txt;click cmdGet",
                   {},
                   {"pane=readme.txt", readme}};
    QTest::newRow("get a folder") << Session{true, "sel /pub;click cmdGet", folder, {"pane="}};
    QTest::newRow("get the root") << Session{true,
                                             "sel ;click cmdGet",
                                             QStringList{"0|Please enter the directory to CD"} +
                                                 folder,
                                             {"pane="}};
    QTest::newRow("get binary") << Session{
        true, "dbl /odd;sel /odd/dos.txt;click cmdGet", {}, {"local:dos.txt=one\r\ntwo\r\n"}};
    QTest::newRow("get ascii") << Session{true,
                                          "click optAscii;dbl /odd;sel /odd/dos.txt;click cmdGet",
                                          {},
                                          {"local:dos.txt=one\ntwo\n"}};
    // Put needs a folder node and a local file.
    QTest::newRow("put into a closed folder") << Session{
        true,
        "local sent.bin;sel /readme.txt;click cmdPut;sel /empty;click cmdPut;pick;"
        "click cmdPut",
        {"0|Please select a remote directory to PUT to!", "0|Please select a local file to put"},
        {"server:/empty/sent.bin=binary", "image:/empty=open", "tree:/empty=/empty/sent.bin|leaf"}};
    QTest::newRow("put into an open folder")
        << Session{true,
                   "local sent.bin;dbl /pub;sel /pub;pick;click cmdPut",
                   {},
                   {"server:/pub/sent.bin=binary", "image:/pub=open",
                    "tree:/pub=/pub/inner.txt|leaf,/pub/sent.bin|leaf"}};
    QTest::newRow("put into the root")
        << Session{true,
                   "local sent.bin;sel ;pick;click cmdPut",
                   {},
                   {"server:/sent.bin=binary", root + ",/sent.bin|leaf"}};
    // Names that must never become local paths, listed by the server or made up.
    for (const QString &name :
         QStringList{"..", ".", "../../escape", "..\\escape", "line\nbreak", QString(300, 'n')})
        QTest::newRow(qPrintable("made-up " + QString(name).replace('\n', "\\n").left(20)))
            << Session{
                   true, "listed " + name + ";sel /" + name + ";click cmdGet", {saved}, {"pane="}};
    for (const QString &name : QStringList{"back\\slash", "bell\a"})
        QTest::newRow(qPrintable("listed " + name))
            << Session{true, "dbl /odd;sel /odd/" + name + ";click cmdGet", {saved}, {"pane="}};
}

void tst_frmNorvoFTP::sessions()
{
    QFETCH(Session, s);
    auto w = window(*m_server, s.connected);
    QCOMPARE(m_messages, QStringList{});
    for (const QString &step : s.steps.split(';', Qt::SkipEmptyParts)) {
        const QString verb = step.section(' ', 0, 0), arg = step.section(' ', 1);
        const QString name = arg.section('=', 0, 0), text = arg.section('=', 1);
        QTreeWidgetItem *item = w->node(S() + arg);
        if (verb == "click") {
            w->findChild<QAbstractButton *>(arg)->click();
        } else if (verb == "call") {
            QVERIFY(QMetaObject::invokeMethod(w.get(), qPrintable(arg)));
        } else if (verb == "none") {
            w->TreeView1->clearSelection();
        } else if (verb == "sel" || verb == "dbl") {
            QVERIFY2(item, qPrintable(step));
            w->TreeView1->setCurrentItem(item);
            w->TreeView1->scrollToItem(item);
            if (verb == "dbl")
                QTest::mouseDClick(w->TreeView1->viewport(), Qt::LeftButton, {},
                                   w->TreeView1->visualItemRect(item).center());
        } else if (verb == "local") {
            QVERIFY(writeFile(m_pane + '/' + name, arg.contains('=') ? text.toUtf8() : binary));
            w->File1->refresh();
        } else if (verb == "pick") {
            w->File1->setCurrentRow(0);
        } else if (verb == "set") {
            w->findChild<QLineEdit *>(name)->setText(text);
        } else if (verb == "listed") {
            w->colEntryNames = {arg};
            w->colEntryAttributes = {FILE_ATTRIBUTE_NORMAL};
            w->AddTreeNodes(S());
        } else if (verb == "yes") {
            m_answer = vbYes;
        } else {
            QCOMPARE(verb, QStringLiteral("close"));
            QVERIFY(w->close());
        }
    }
    QCOMPARE(m_messages.size(), s.messages.size());
    for (int i = 0; i < m_messages.size(); ++i) {
        QVERIFY2(m_messages[i].contains(s.messages[i]), qPrintable(m_messages[i]));
        QVERIFY2(!m_messages[i].contains('\a') &&
                     !QString(m_messages[i]).remove("\r\n").contains('\n'),
                 qPrintable(m_messages[i]));
    }
    for (const QString &fact : s.after)
        QCOMPARE(fact.section('=', 0, 0) + '=' + what(*w, fact.section('=', 0, 0)), fact);
    // Always: the local list shows the folder, nothing lands beside it, the tree is the session.
    QCOMPARE(w->File1->count(), QDir(m_pane).entryList(QDir::Files | QDir::Hidden).size());
    QCOMPARE(
        QDir(m_local->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"pane"});
    QCOMPARE(w->TreeView1->topLevelItemCount(), int(w->fInSession));
}

void tst_frmNorvoFTP::interruptedGet_data()
{
    QTest::addColumn<bool>("killServer"); // else the user presses Cancel
    QTest::addColumn<QString>("message");
    const QString question = "\r\nClose Connection and Session?";
    QTest::newRow("cancelled") << false << "4|FtpGetFile Err: 12017" + question;
    QTest::newRow("server killed") << true << "4|FtpGetFile Err: 12030" + question;
}

void tst_frmNorvoFTP::interruptedGet()
{
    QFETCH(bool, killServer);
    QFETCH(QString, message);
    // The server stops sending after 64 KiB, so the transfer waits until it is interrupted.
    FtpServerPeer stalling({"--stall-after", "65536"});
    REQUIRE_FTP_SERVER(stalling);
    QVERIFY(
        stalling.writeFile(QString(FtpServerPeer::home) + "/big.bin", QByteArray(1 << 20, 'b')));
    QVERIFY(writeFile(m_pane + "/big.bin", "keep me"));
    auto w = window(stalling, true);
    QCOMPARE(m_messages, QStringList{});
    FtpProgress::setShowDelay(0);
    bool interrupted = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, this, [&] {
        auto *box = w->findChild<FtpProgressDialog *>();
        if (interrupted || !box || !box->isVisible() || box->windowTitle() != "Getting" ||
            box->lblBytes->text().isEmpty())
            return;
        interrupted = true;
        if (killServer)
            stalling.kill();
        else
            box->cmdCancel->click();
    });
    watch.start(20);
    w->TreeView1->setCurrentItem(w->node(stalling.server() + "/big.bin"));
    w->cmdGet->click();
    QVERIFY(interrupted);
    QCOMPARE(m_messages, QStringList{message});
    QCOMPARE(QDir(m_pane).entryList(QDir::Files | QDir::Hidden), QStringList{"big.bin"});
    QCOMPARE(readFile(m_pane + "/big.bin"), QByteArray("keep me"));
}

QTEST_MAIN(tst_frmNorvoFTP)
#include "tst_frmnorvoftp.moc"
