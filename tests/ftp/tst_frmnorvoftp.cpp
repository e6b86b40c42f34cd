#include "frmnorvoftp.h"
#include "ftpprogress.h"
#include "ftpserver.h"
#include "localpanes.h"
#include "msgboxrecorder.h"
#include "tablerows.h"
#include "testcerts.h"
#include "trustedkeys.h"

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
//   connect (the fixture's server) | click BUTTON | call SLOT (also a disabled button's) |
//   sel PATH | none (no selection) | dbl PATH (double-click) | local NAME (the binary payload
//   into the local folder) | local NAME=TEXT | pick (the first local file) | set BOX=TEXT |
//   listed NAME (a made-up listing entry below the root) | yes (to the close question) |
//   cancel (Cancel in the progress box once it shows bytes) | close |
//   midway BUTTON (click it and go on once its progress box shows bytes) |
//   server ftpes or ftps (from here on the fixture's explicit TLS server with a self-signed
//   certificate, or its implicit TLS one with one from the test CA, same files)
// then the boxes shown (each "style|text" or a part of it), and what must hold as "what=value":
//   pane (local file names) | local:NAME, server:PATH (contents, "binary" for the payload) |
//   tree:PATH (children with their images) | image:PATH | enabled (buttons) |
//   handles (session, connection, in session) | boxes (server, user, password, proxy) |
//   wire (what the plain server's data connections received) | busy (a handler's steps wait)
static const char sessionTable[] = R"(
no session :: call cmdGet_Click; call cmdPut_Click; call TreeView1_DblClick
    :: 0|Not in session; 0|No in session!
nothing selected :: connect; none; call cmdGet_Click; call cmdPut_Click; call TreeView1_DblClick
    :: 0|Please select the item to GET!; 0|Please select a remote directory to PUT to!;
    0|no Selection to enumerate
connected :: connect :: :: enabled=cmdClosehOpen,cmdDisconnect,cmdGet,cmdPut; handles=111;
    tree:=/big.bin|leaf,/empty|closed,/odd|closed,/pub|closed,/readme.txt|leaf
disconnected :: connect; click cmdDisconnect :: :: enabled=cmdClosehOpen,cmdConnect; handles=100
session closed :: connect; click cmdClosehOpen :: :: enabled=cmdInternetOpen; handles=000
window closed :: connect; close :: :: handles=000
bad password :: set txtPassword=wrong; connect
    :: 0|InternetConnect Extd Err: 530 530 Authentication failed.; 4|InternetConnect Err: 12003
    :: handles=100
empty server :: set txtServer=; connect :: 0|Please enter a server name! :: handles=100
error, Yes closes all :: connect; set txtProxy=typed; sel /pub; yes; click cmdGet
    :: 0|FtpGetFile Extd Err: 550; 4|FtpGetFile Err: 12003
    :: handles=000; boxes=,,,; enabled=cmdInternetOpen
close :: connect; dbl /pub; dbl /pub :: :: image:/pub=closed; tree:/pub=
reopen :: connect; dbl /pub; dbl /pub; dbl /pub :: :: image:/pub=open;
    tree:/pub=/pub/inner.txt|leaf
empty :: connect; dbl /empty :: 0|This directory is empty! :: image:/empty=open; tree:/empty=
empty, closed again :: connect; dbl /empty; dbl /empty :: 0|This directory is empty!
    :: image:/empty=closed
file :: connect; dbl /readme.txt :: :: image:/readme.txt=leaf
root :: connect; dbl :: :: tree:=/big.bin|leaf,/empty|closed,/odd|closed,/pub|closed,/readme.txt|leaf
get a file in a folder :: connect; dbl /pub; sel /pub/inner.txt; click cmdGet
    :: :: pane=inner.txt; local:inner.txt=inner\n
get replaces a local file :: connect; local readme.txt=older and longer; sel /readme.txt;
    click cmdGet :: :: pane=readme.txt; local:readme.txt=the login directory's readme\n
get a folder :: connect; sel /pub; click cmdGet :: 0|FtpGetFile Extd Err: 550;
    4|FtpGetFile Err: 12003 :: pane=
get the root :: connect; sel; click cmdGet :: 0|Please enter the directory to CD;
    0|FtpGetFile Extd Err: 550; 4|FtpGetFile Err: 12003 :: pane=
get binary :: connect; dbl /odd; sel /odd/dos.txt; click cmdGet :: :: local:dos.txt=one\r\ntwo\r\n
get ascii :: connect; click optAscii; dbl /odd; sel /odd/dos.txt; click cmdGet
    :: :: local:dos.txt=one\ntwo\n
put into a closed folder :: connect; local sent.bin; sel /readme.txt; click cmdPut; sel /empty;
    click cmdPut; pick; click cmdPut :: 0|Please select a remote directory to PUT to!;
    0|Please select a local file to put :: server:/empty/sent.bin=binary; image:/empty=open;
    tree:/empty=/empty/sent.bin|leaf
put into an open folder :: connect; local sent.bin; dbl /pub; sel /pub; pick; click cmdPut
    :: :: server:/pub/sent.bin=binary; image:/pub=open;
    tree:/pub=/pub/inner.txt|leaf,/pub/sent.bin|leaf
put into the root :: connect; local sent.bin; sel; pick; click cmdPut :: :: server:/sent.bin=binary;
    tree:=/big.bin|leaf,/empty|closed,/odd|closed,/pub|closed,/readme.txt|leaf,/sent.bin|leaf
listed backslash, bell :: connect; dbl /odd; sel /odd/back\slash; click cmdGet; sel /odd/bell\a;
    click cmdGet :: can't be saved; can't be saved :: pane=
cancelled get :: connect; local big.bin=keep me; cancel; sel /big.bin; click cmdGet
    :: 4|FtpGetFile Err: 12017 :: pane=big.bin; local:big.bin=keep me
closed during a get :: connect; local big.bin=keep me; sel /big.bin; midway cmdGet; close
    :: :: busy=0; handles=000; pane=big.bin; local:big.bin=keep me
put ascii: CR LF on the wire :: connect; click optAscii; local t.txt=a\r\nb\nc; sel; pick;
    click cmdPut :: :: wire=a\r\nb\r\nc
ftpes, trust Yes :: server ftpes; yes; connect; dbl /pub; sel /pub/inner.txt; click cmdGet
    :: 4|The certificate of 127.0.0.1: :: local:inner.txt=inner\n; handles=111; pinned=1
ftpes, trust No :: server ftpes; connect :: 4|The certificate of 127.0.0.1:;
    0|InternetConnect: The certificate of; 4|InternetConnect Err: 12045 :: handles=100; pinned=0
ftps, verified :: server ftps; local sent.bin; connect; sel; pick; click cmdPut
    :: :: server:/sent.bin=binary; tree:=/big.bin|leaf,/empty|closed,/odd|closed,/pub|closed,\
    /readme.txt|leaf,/sent.bin|leaf; pinned=0
)";

namespace {
const QByteArray binary("binary\r\n\0bytes\n", 15);
} // namespace

class tst_frmNorvoFTP : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void keyboardAndNames();
    void sessions_data();
    void sessions();

private:
    std::unique_ptr<frmNorvoFTP> window();
    QString what(frmNorvoFTP &w, const QString &key);
    QString S() const { return m_scheme + m_current->server(); }

    TestCertificates m_certs;
    QTemporaryDir m_wire; // also holds the trusted keys
    std::unique_ptr<FtpServerPeer> m_server;
    std::unique_ptr<FtpServerPeer> m_explicit; // self-signed
    std::unique_ptr<FtpServerPeer> m_implicit; // from the test CA
    FtpServerPeer *m_current = nullptr;
    QString m_scheme; // "" for the plain server
    std::unique_ptr<QTemporaryDir> m_local;
    QString m_pane; // File1's folder, inside m_local
    MsgBoxRecorder m_boxes;
};

void tst_frmNorvoFTP::initTestCase()
{
    // Data stops after 64 KiB, so a get of big.bin waits until the user cancels.
    m_server = std::make_unique<FtpServerPeer>(
        QStringList{"--stall-after", "65536", "--wire", m_wire.path()});
    QVERIFY2(m_certs.made(), "openssl could not make the test certificates");
    setTrustedKeysPath(m_wire.filePath("known_hosts").toStdString());
    FtpSetCertificateAuthorities(m_certs.pem("ca").toUtf8().constData());
    m_explicit = std::make_unique<FtpServerPeer>(QStringList{
        "--tls", "explicit", "--cert", m_certs.pem("self"), "--key", m_certs.key("self")});
    m_implicit = std::make_unique<FtpServerPeer>(QStringList{
        "--tls", "implicit", "--cert", m_certs.pem("server"), "--key", m_certs.key("server")});
    const QString home = FtpServerPeer::home;
    for (FtpServerPeer *server : {m_server.get(), m_explicit.get(), m_implicit.get()}) {
        REQUIRE_FTP_SERVER(*server);
        QVERIFY(server->writeFile(home + "/readme.txt", "the login directory's readme\n"));
        QVERIFY(server->writeFile(home + "/big.bin", QByteArray(1 << 20, 'b')));
        QVERIFY(server->writeFile(home + "/pub/inner.txt", "inner\n"));
        QVERIFY(QDir().mkpath(server->root(home + "/empty")));
        QVERIFY(server->writeFile(home + "/odd/back\\slash", "x"));
        QVERIFY(server->writeFile(home + "/odd/bell\a", "x"));
        QVERIFY(server->writeFile(home + "/odd/dos.txt", "one\r\ntwo\r\n"));
        // Same names at the server's "/": what the first level would wrongly address.
        QVERIFY(server->writeFile("/readme.txt", "the server root's readme\n"));
        QVERIFY(server->writeFile("/pub/inner.txt", "wrong inner\n"));
    }
}

void tst_frmNorvoFTP::init()
{
    m_boxes.reset();
    m_current = m_server.get();
    m_scheme.clear();
    QFile::remove(QString::fromStdString(trustedKeysPath()));
    QFile::remove(m_wire.filePath("in"));
    FtpProgress::setShowDelay(400);
    m_local = std::make_unique<QTemporaryDir>();
    m_pane = m_local->path() + QStringLiteral("/pane");
    QVERIFY(QDir().mkpath(m_pane));
}

// Puts leave nothing on the shared server.
void tst_frmNorvoFTP::cleanup()
{
    for (FtpServerPeer *server : {m_server.get(), m_explicit.get(), m_implicit.get()})
        for (const char *folder : {"", "/empty", "/pub"})
            QFile::remove(server->root(FtpServerPeer::home + QString(folder) + "/sent.bin"));
}

// A window on the local folder with the fixture's server, user and password typed in.
std::unique_ptr<frmNorvoFTP> tst_frmNorvoFTP::window()
{
    auto w = std::make_unique<frmNorvoFTP>();
    w->load();
    w->show();
    w->Dir1->setPath(m_pane);
    w->txtServer->setText(S());
    w->txtUser->setText(FtpServerPeer::user);
    w->txtPassword->setText(FtpServerPeer::password);
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
        return contents(m_current->readFile(FtpServerPeer::home + arg));
    if (key == "wire")
        return QString::fromUtf8(readFile(m_wire.filePath("in")));
    if (key == "pinned")
        return QString::number(bool(findPinnedKey(m_current->server().toStdString())));
    if (key.startsWith("image:"))
        return w.node(S() + arg) ? frmNorvoFTP::imageKey(w.node(S() + arg)) : "(no node)";
    if (key == "busy")
        return QString::number(w.isBusy());
    if (key == "handles")
        return QStringLiteral("%1%2%3").arg(w.hOpen != 0).arg(w.hConnect != 0).arg(w.fInSession);
    QStringList out;
    if (key == "pane")
        out = QDir(m_pane).entryList(QDir::Files | QDir::Hidden);
    const QTreeWidgetItem *node = key.startsWith("tree:") ? w.node(S() + arg) : nullptr;
    for (int i = 0; node && i < node->childCount(); ++i)
        out << node->child(i)->text(0).mid(S().size()) + '|' +
                   frmNorvoFTP::imageKey(node->child(i));
    for (auto *b : w.findChildren<QPushButton *>())
        if (key == "enabled" && b->isEnabled())
            out << b->objectName();
    for (auto *box : {w.txtServer, w.txtUser, w.txtPassword, w.txtProxy})
        if (key == "boxes")
            out << box->text();
    out.sort();
    return out.join(',');
}

// Names for assistive technology; an unreadable drive falls back.
void tst_frmNorvoFTP::keyboardAndNames()
{
    auto w = window();
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
    QTest::addColumn<QStringList>("row");
    for (const QStringList &row : tableRows(sessionTable))
        QTest::newRow(qPrintable(row[0])) << row;
    // Entry names a hostile listing could carry: none may leave the local folder.
    for (const QString &name :
         QStringList{"..", ".", "../../x", "..\\x", "a\nb", QString(300, 'n')})
        QTest::newRow(qPrintable("made-up " + QString(name).replace('\n', "LF").left(9)))
            << QStringList{"", "connect; listed " + name + "; sel /" + name + "; click cmdGet",
                           "can't be saved", "pane="};
}

void tst_frmNorvoFTP::sessions()
{
    QFETCH(QStringList, row);
    const QRegularExpression separator(";\\s*");
    const QStringList messages = row.value(2).split(separator, Qt::SkipEmptyParts);
    auto w = window();
    QTimer watch;
    bool cancelled = false;
    const QString steps = QString(row.value(1))
                              .replace(QRegularExpression("\\bconnect\\b"),
                                       "click cmdInternetOpen; click cmdConnect");
    for (const QString &step : steps.split(';', Qt::SkipEmptyParts)) {
        const QString verb = step.trimmed().section(' ', 0, 0),
                      arg = step.trimmed().section(' ', 1);
        const QString name = arg.section('=', 0, 0), text = arg.section('=', 1);
        QTreeWidgetItem *item = w->node(S() + arg);
        if (verb == "click") {
            w->findChild<QAbstractButton *>(arg)->click();
        } else if (verb == "call") {
            QVERIFY(QMetaObject::invokeMethod(w.get(), qPrintable(arg)));
        } else if (verb == "midway") {
            FtpProgress::setShowDelay(0);
            w->findChild<QAbstractButton *>(arg)->click();
            QTRY_VERIFY(w->findChild<FtpProgressDialog *>() &&
                        !w->findChild<FtpProgressDialog *>()->lblBytes->text().isEmpty());
            continue;
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
        } else if (verb == "cancel") {
            FtpProgress::setShowDelay(0);
            QObject::connect(&watch, &QTimer::timeout, this, [&] {
                auto *box = w->findChild<FtpProgressDialog *>();
                if (box && box->isVisible() && box->windowTitle() == "Getting" &&
                    !box->lblBytes->text().isEmpty() && !std::exchange(cancelled, true)) {
                    box->cmdCancel->click();
                    for (const QLabel *l : box->findChildren<QLabel *>()) // changing texts
                        QCOMPARE(l->accessibleName(), l->text());
                }
            });
            watch.start(20);
        } else if (verb == "server") {
            m_current = arg == "ftpes" ? m_explicit.get() : m_implicit.get();
            m_scheme = arg + "://";
            w->txtServer->setText(S());
        } else if (verb == "yes") {
            m_boxes.answer = vbYes;
        } else {
            QCOMPARE(verb, QStringLiteral("close"));
            QElapsedTimer closing;
            closing.start();
            QVERIFY(w->close());
            QVERIFY2(closing.elapsed() < 1000, qPrintable(QString::number(closing.elapsed())));
            QVERIFY(!w->findChild<FtpProgressDialog *>());
        }
        // The handler's later steps run once its calls have ended.
        if (w->isBusy()) {
            QSignalSpy finished(w.get(), &frmNorvoFTP::handlerFinished);
            QVERIFY(finished.wait(30000));
        }
    }
    QCOMPARE(m_boxes.boxes.size(), messages.size());
    for (int i = 0; i < messages.size(); ++i) {
        const MsgBoxRecorder::Box &box = m_boxes.boxes[i];
        const QString shown = QString::number(box.style) + u'|' + box.text;
        QVERIFY2(shown.contains(messages[i]), qPrintable(shown));
        QVERIFY2(!shown.contains('\a') && !QString(shown).remove("\r\n").contains('\n'),
                 qPrintable(shown));
    }
    for (const QString &fact : row.value(3).split(separator, Qt::SkipEmptyParts))
        QCOMPARE(fact.section('=', 0, 0) + '=' + what(*w, fact.section('=', 0, 0)), fact);
    // Always: the local list shows the folder, nothing lands beside it, the tree is the session.
    QCOMPARE(w->File1->count(), QDir(m_pane).entryList(QDir::Files | QDir::Hidden).size());
    QCOMPARE(
        QDir(m_local->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"pane"});
    QCOMPARE(w->TreeView1->topLevelItemCount(), int(w->fInSession));
}

QTEST_MAIN(tst_frmNorvoFTP)
#include "tst_frmnorvoftp.moc"
