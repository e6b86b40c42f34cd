#include "frmnorvoftp.h"
#include "ftpprogress.h"
#include "ftpserver.h"
#include "localpanes.h"
#include "messagebox.h"
#include "remotepath.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

// The FTP window against a real pyftpdlib server on loopback whose login directory is not "/":
// every message box goes through the interceptor, every file is checked on both ends.
class tst_frmNorvoFTP : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void remoteDirectory_data();
    void remoteDirectory();
    void focusOrderAndNames();
    void guards_data();
    void guards();
    void sessionControls_data();
    void sessionControls();
    void connect_data();
    void connect();
    void treeAfterConnect();
    void openClose_data();
    void openClose();
    void get_data();
    void get();
    void errorOutYesClosesAll();
    void put_data();
    void put();
    void interruptedGet_data();
    void interruptedGet();
    void unreadableDriveFallsBack();
    void hostileNames_data();
    void hostileNames();

private:
    std::unique_ptr<frmNorvoFTP> window(bool connect = true, const FtpServerPeer *peer = nullptr);
    void doubleClick(frmNorvoFTP &w, const QString &key);
    QStringList children(frmNorvoFTP &w, const QString &key);
    QString S() const { return m_server->server(); }

    std::unique_ptr<FtpServerPeer> m_server;
    std::unique_ptr<QTemporaryDir> m_local;
    QString m_pane;         // File1's folder, inside m_local
    QStringList m_messages; // "style|text" of each box
    int m_answer = vbNo;
};

static const QString closeQuestion = QStringLiteral("\r\nClose Connection and Session?");

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

std::unique_ptr<frmNorvoFTP> tst_frmNorvoFTP::window(bool connect, const FtpServerPeer *peer)
{
    auto w = std::make_unique<frmNorvoFTP>();
    w->load();
    w->show();
    w->Dir1->setPath(m_pane);
    if (connect) {
        w->cmdInternetOpen->click();
        w->txtServer->setText((peer ? peer : m_server.get())->server());
        w->txtUser->setText(FtpServerPeer::user);
        w->txtPassword->setText(FtpServerPeer::password);
        w->cmdConnect->click();
    }
    return w;
}

void tst_frmNorvoFTP::doubleClick(frmNorvoFTP &w, const QString &key)
{
    QTreeWidgetItem *item = w.node(key);
    QVERIFY2(item, qPrintable(key));
    w.TreeView1->setCurrentItem(item);
    w.TreeView1->scrollToItem(item);
    QTest::mouseDClick(w.TreeView1->viewport(), Qt::LeftButton, {},
                       w.TreeView1->visualItemRect(item).center());
}

QStringList tst_frmNorvoFTP::children(frmNorvoFTP &w, const QString &key)
{
    QStringList texts;
    if (QTreeWidgetItem *item = w.node(key))
        for (int i = 0; i < item->childCount(); ++i)
            texts << item->child(i)->text(0) + QLatin1Char('|') +
                         frmNorvoFTP::imageKey(item->child(i));
    texts.sort();
    return texts;
}

void tst_frmNorvoFTP::remoteDirectory_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("directory");
    QTest::newRow("first level, login /") << "h:21/pub"
                                          << "/"
                                          << "/pub";
    QTest::newRow("directory part of a first-level file") << "h:21/"
                                                          << "/"
                                                          << "/";
    QTest::newRow("root") << "h:21"
                          << "/"
                          << "/";
    QTest::newRow("first level, login home") << "h:21/pub"
                                             << "/home/u"
                                             << "/home/u/pub";
    QTest::newRow("deeper, login home") << "h:21/pub/a b"
                                        << "/home/u/"
                                        << "/home/u/pub/a b";
    QTest::newRow("root, login home") << "h:21"
                                      << "/home/u"
                                      << "/home/u";
    QTest::newRow("server text later on") << "xh:21/pub"
                                          << "/"
                                          << "1/pub";
    QTest::newRow("server text absent") << "other/pub"
                                        << "/"
                                        << "other/pub";
}

void tst_frmNorvoFTP::remoteDirectory()
{
    QFETCH(QString, path);
    QFETCH(QString, login);
    QFETCH(QString, directory);
    QCOMPARE(RemotePath::directoryOf(path, QStringLiteral("h:21"), login), directory);
}

void tst_frmNorvoFTP::focusOrderAndNames()
{
    auto w = window(false);
    w->SetSessionControls(true);
    w->fInSession = true;
    w->SetSessionControls(true);
    const QStringList order{
        "cmdInternetOpen", "txtProxy",      "cmdClosehOpen", "txtServer", "txtUser", "txtPassword",
        "cmdConnect",      "cmdDisconnect", "chkPassive",    "Drive1",    "Dir1",    "File1",
        "TreeView1",       "cmdGet",        "cmdPut",        "optBin",    "optAscii"};
    QStringList chain;
    for (QWidget *c = w->cmdInternetOpen; chain.size() < order.size(); c = c->nextInFocusChain())
        if (c->focusPolicy() & Qt::TabFocus && order.contains(c->objectName()))
            chain << c->objectName();
    QCOMPARE(chain, order);
    for (const QString &name : order)
        QVERIFY2(!w->findChild<QWidget *>(name)->accessibleName().isEmpty(), qPrintable(name));
    QCOMPARE(w->label4->buddy(), w->txtPassword);
    QCOMPARE(w->windowTitle(), QStringLiteral("F-T-P"));
    w->fInSession = false;
}

void tst_frmNorvoFTP::guards_data()
{
    QTest::addColumn<bool>("connect");
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("get, no session") << false << "cmdGet_Click" << QStringList{"0|Not in session"};
    QTest::newRow("put, no session") << false << "cmdPut_Click" << QStringList{};
    QTest::newRow("open, no session")
        << false << "TreeView1_DblClick" << QStringList{"0|No in session!"};
    QTest::newRow("get, nothing selected")
        << true << "cmdGet_Click" << QStringList{"0|Please select the item to GET!"};
    QTest::newRow("put, nothing selected")
        << true << "cmdPut_Click" << QStringList{"0|Please select a remote directory to PUT to!"};
    QTest::newRow("open, nothing selected")
        << true << "TreeView1_DblClick" << QStringList{"0|no Selection to enumerate"};
}

void tst_frmNorvoFTP::guards()
{
    QFETCH(bool, connect);
    QFETCH(QString, slot);
    QFETCH(QStringList, messages);
    auto w = window(connect);
    w->TreeView1->clearSelection();
    QVERIFY(QMetaObject::invokeMethod(w.get(), qPrintable(slot)));
    QCOMPARE(m_messages, messages);
}

void tst_frmNorvoFTP::sessionControls_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("enabled");
    const QStringList open{"txtServer",     "txtUser", "txtPassword", "chkPassive",
                           "cmdClosehOpen", "optBin",  "optAscii"};
    QTest::newRow("idle") << QStringList{} << QStringList{"cmdInternetOpen", "txtProxy"};
    QTest::newRow("session open") << QStringList{"cmdInternetOpen"}
                                  << open + QStringList{"cmdConnect"};
    QTest::newRow("connected") << QStringList{"cmdInternetOpen", "cmdConnect"}
                               << open + QStringList{"cmdDisconnect", "cmdGet", "cmdPut"};
    QTest::newRow("disconnected") << QStringList{"cmdInternetOpen", "cmdConnect", "cmdDisconnect"}
                                  << open + QStringList{"cmdConnect"};
    QTest::newRow("session closed") << QStringList{"cmdInternetOpen", "cmdConnect", "cmdClosehOpen"}
                                    << QStringList{"cmdInternetOpen", "txtProxy"};
}

void tst_frmNorvoFTP::sessionControls()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, enabled);
    auto w = window(false);
    w->txtServer->setText(S());
    w->txtUser->setText(FtpServerPeer::user);
    w->txtPassword->setText(FtpServerPeer::password);
    for (const QString &step : steps)
        w->findChild<QPushButton *>(step)->click();
    QStringList actual;
    for (const char *name :
         {"cmdInternetOpen", "cmdClosehOpen", "txtProxy", "txtServer", "txtUser", "txtPassword",
          "cmdConnect", "chkPassive", "cmdDisconnect", "optBin", "optAscii", "cmdGet", "cmdPut"})
        if (w->findChild<QWidget *>(name)->isEnabled())
            actual << name;
    enabled.sort();
    actual.sort();
    QCOMPARE(actual, enabled);
    QCOMPARE(m_messages, QStringList{});
    QCOMPARE(w->TreeView1->topLevelItemCount(), int(w->fInSession));
    QCOMPARE(w->txtPassword->displayText(),
             w->txtPassword->text().isEmpty() ? QString() : QString(6, '*'));
}

void tst_frmNorvoFTP::connect_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("good password") << S() << "secret" << QStringList{};
    // The reply text is the server's line as sent, its number included.
    QTest::newRow("bad password")
        << S() << "wrong"
        << QStringList{"0|InternetConnect Extd Err: 530 530 Authentication failed.",
                       "4|InternetConnect Err: 12003" + closeQuestion};
    QTest::newRow("empty server") << ""
                                  << "secret" << QStringList{"0|Please enter a server name!"};
}

void tst_frmNorvoFTP::connect()
{
    QFETCH(QString, server);
    QFETCH(QString, password);
    QFETCH(QStringList, messages);
    auto w = window(false);
    w->cmdInternetOpen->click();
    w->txtServer->setText(server);
    w->txtUser->setText(FtpServerPeer::user);
    w->txtPassword->setText(password);
    w->cmdConnect->click();
    QCOMPARE(m_messages, messages);
    QCOMPARE(w->fInSession, messages.isEmpty());
    QCOMPARE(w->hConnect != 0, messages.isEmpty());
}

void tst_frmNorvoFTP::treeAfterConnect()
{
    auto w = window();
    QCOMPARE(m_messages, QStringList{});
    QCOMPARE(w->TreeView1->topLevelItemCount(), 1);
    QCOMPARE(w->TreeView1->topLevelItem(0)->text(0), S());
    QCOMPARE(frmNorvoFTP::imageKey(w->TreeView1->topLevelItem(0)), QString());
    QCOMPARE(children(*w, S()), (QStringList{S() + "/empty|closed", S() + "/odd|closed",
                                             S() + "/pub|closed", S() + "/readme.txt|leaf"}));
    // Closing the window closes the connection and the session.
    QVERIFY(w->close());
    QVERIFY(!w->hOpen && !w->hConnect && !w->fInSession);
    QCOMPARE(w->TreeView1->topLevelItemCount(), 0);
}

void tst_frmNorvoFTP::openClose_data()
{
    QTest::addColumn<QStringList>("clicks"); // paths after the server text
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QStringList>("children");
    QTest::addColumn<QStringList>("messages");
    const QStringList inner{"/pub/inner.txt|leaf"};
    QTest::newRow("open") << QStringList{"/pub"} << "/pub"
                          << "open" << inner << QStringList{};
    QTest::newRow("close") << QStringList{"/pub", "/pub"} << "/pub"
                           << "closed" << QStringList{} << QStringList{};
    QTest::newRow("reopen") << QStringList{"/pub", "/pub", "/pub"} << "/pub"
                            << "open" << inner << QStringList{};
    QTest::newRow("empty") << QStringList{"/empty"} << "/empty"
                           << "open" << QStringList{} << QStringList{"0|This directory is empty!"};
    QTest::newRow("empty, closed again")
        << QStringList{"/empty", "/empty"} << "/empty"
        << "closed" << QStringList{} << QStringList{"0|This directory is empty!"};
    QTest::newRow("file") << QStringList{"/readme.txt"} << "/readme.txt"
                          << "leaf" << QStringList{} << QStringList{};
    QTest::newRow("root") << QStringList{""} << ""
                          << ""
                          << QStringList{"/empty|closed", "/odd|closed", "/pub|closed",
                                         "/readme.txt|leaf"}
                          << QStringList{};
}

void tst_frmNorvoFTP::openClose()
{
    QFETCH(QStringList, clicks);
    QFETCH(QString, node);
    QFETCH(QString, image);
    QFETCH(QStringList, children);
    QFETCH(QStringList, messages);
    auto w = window();
    for (const QString &click : clicks)
        doubleClick(*w, S() + click);
    QCOMPARE(m_messages, messages);
    QCOMPARE(frmNorvoFTP::imageKey(w->node(S() + node)), image);
    for (QString &child : children)
        child.prepend(S());
    QCOMPARE(this->children(*w, S() + node), children);
}

void tst_frmNorvoFTP::get_data()
{
    QTest::addColumn<QString>("node");         // path after the server text
    QTest::addColumn<QByteArray>("existing");  // local file before, null for none
    QTest::addColumn<QStringList>("messages"); // prefixes
    QTest::addColumn<QString>("localName");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("ascii");
    const QStringList failed{"0|FtpGetFile Extd Err: 550 ",
                             "4|FtpGetFile Err: 12003" + closeQuestion};
    QTest::newRow("first-level file")
        << "/readme.txt" << QByteArray() << QStringList{} << "readme.txt"
        << QByteArray("the login directory's readme\n") << false;
    QTest::newRow("file in a folder") << "/pub/inner.txt" << QByteArray() << QStringList{}
                                      << "inner.txt" << QByteArray("inner\n") << false;
    QTest::newRow("replaces a local file")
        << "/readme.txt" << QByteArray("older and longer local text") << QStringList{}
        << "readme.txt" << QByteArray("the login directory's readme\n") << false;
    QTest::newRow("folder node") << "/pub" << QByteArray() << failed << "pub" << QByteArray()
                                 << false;
    QTest::newRow("root") << "" << QByteArray()
                          << QStringList{"0|Please enter the directory to CD"} + failed << S()
                          << QByteArray() << false;
    QTest::newRow("binary") << "/odd/dos.txt" << QByteArray() << QStringList{} << "dos.txt"
                            << QByteArray("one\r\ntwo\r\n") << false;
    QTest::newRow("ascii") << "/odd/dos.txt" << QByteArray() << QStringList{} << "dos.txt"
                           << QByteArray("one\ntwo\n") << true;
}

void tst_frmNorvoFTP::get()
{
    QFETCH(QString, node);
    QFETCH(QByteArray, existing);
    QFETCH(QStringList, messages);
    QFETCH(QString, localName);
    QFETCH(QByteArray, content);
    QFETCH(bool, ascii);
    auto w = window();
    (ascii ? w->optAscii : w->optBin)->click();
    if (node.count('/') > 1)
        doubleClick(*w, S() + node.section('/', 0, 1));
    QFile local(m_pane + '/' + localName);
    if (!existing.isNull()) {
        QVERIFY(local.open(QIODevice::WriteOnly));
        local.write(existing);
        local.close();
        w->File1->refresh();
    }
    w->TreeView1->setCurrentItem(w->node(S() + node));
    w->cmdGet->click();
    QCOMPARE(m_messages.size(), messages.size());
    for (int i = 0; i < messages.size(); ++i)
        QVERIFY2(m_messages[i].startsWith(messages[i]), qPrintable(m_messages[i]));
    QCOMPARE(QDir(m_pane).entryList(QDir::Files),
             content.isNull() ? QStringList{} : QStringList{localName});
    QCOMPARE(w->File1->count(), content.isNull() ? 0 : 1);
    if (!content.isNull()) {
        QVERIFY(local.open(QIODevice::ReadOnly));
        QCOMPARE(local.readAll(), content);
    }
}

void tst_frmNorvoFTP::errorOutYesClosesAll()
{
    auto w = window();
    w->txtProxy->setText("typed while connected");
    w->TreeView1->setCurrentItem(w->node(S() + "/pub"));
    m_answer = vbYes;
    w->cmdGet->click();
    QCOMPARE(m_messages.size(), 2);
    QVERIFY(!w->hOpen && !w->hConnect && !w->fInSession);
    QCOMPARE(w->TreeView1->topLevelItemCount(), 0);
    for (QLineEdit *box : {w->txtServer, w->txtUser, w->txtPassword, w->txtProxy})
        QCOMPARE(box->text(), QString());
    QVERIFY(w->cmdInternetOpen->isEnabled() && !w->cmdConnect->isEnabled());
}

void tst_frmNorvoFTP::put_data()
{
    QTest::addColumn<QString>("node"); // path after the server text
    QTest::addColumn<bool>("openFirst");
    QTest::addColumn<QString>("serverPath");
    QTest::addColumn<QStringList>("children");
    const QString name = QStringLiteral("/sent file.bin");
    QTest::newRow("closed folder")
        << "/empty" << false << "/empty" << QStringList{"/empty" + name + "|leaf"};
    QTest::newRow("open folder") << "/pub" << true << "/pub"
                                 << QStringList{"/pub/inner.txt|leaf", "/pub" + name + "|leaf"};
    QTest::newRow("root") << "" << false << ""
                          << QStringList{"/empty|closed", "/odd|closed", "/pub|closed",
                                         "/readme.txt|leaf", name + "|leaf"};
}

void tst_frmNorvoFTP::put()
{
    QFETCH(QString, node);
    QFETCH(bool, openFirst);
    QFETCH(QString, serverPath);
    QFETCH(QStringList, children);
    const QString home = FtpServerPeer::home;
    const QByteArray bytes("binary\r\n\0bytes\n", 15);
    QFile file(m_pane + "/sent file.bin");
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    auto w = window();
    if (openFirst)
        doubleClick(*w, S() + node);
    // Put needs a folder node and a local file.
    w->TreeView1->setCurrentItem(w->node(S() + "/readme.txt"));
    w->cmdPut->click();
    w->TreeView1->setCurrentItem(w->node(S() + node));
    w->cmdPut->click();
    w->File1->setCurrentRow(0);
    w->cmdPut->click();
    QCOMPARE(m_messages, (QStringList{"0|Please select a remote directory to PUT to!",
                                      "0|Please select a local file to put"}));
    QCOMPARE(m_server->readFile(home + serverPath + "/sent file.bin"), bytes);
    QVERIFY(QFile::remove(m_server->root(home + serverPath + "/sent file.bin")));
    for (QString &child : children)
        child.prepend(S());
    QCOMPARE(this->children(*w, S() + node), children);
    if (!node.isEmpty())
        QCOMPARE(frmNorvoFTP::imageKey(w->node(S() + node)), QStringLiteral("open"));
}

void tst_frmNorvoFTP::interruptedGet_data()
{
    QTest::addColumn<bool>("killServer"); // else the user presses Cancel
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("cancelled") << false << QStringList{"4|FtpGetFile Err: 12017" + closeQuestion};
    QTest::newRow("server killed")
        << true << QStringList{"4|FtpGetFile Err: 12030" + closeQuestion};
}

void tst_frmNorvoFTP::interruptedGet()
{
    QFETCH(bool, killServer);
    QFETCH(QStringList, messages);
    // The server stops sending after 64 KiB, so the transfer waits until it is interrupted.
    FtpServerPeer stalling({"--stall-after", "65536"});
    REQUIRE_FTP_SERVER(stalling);
    QVERIFY(
        stalling.writeFile(QString(FtpServerPeer::home) + "/big.bin", QByteArray(1 << 20, 'b')));
    QFile existing(m_pane + "/big.bin");
    QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("keep me") == 7);
    existing.close();
    auto w = window(true, &stalling);
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
    QCOMPARE(m_messages, messages);
    QCOMPARE(QDir(m_pane).entryList(QDir::Files | QDir::Hidden), QStringList{"big.bin"});
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("keep me"));
}

void tst_frmNorvoFTP::unreadableDriveFallsBack()
{
    auto w = window(false);
    w->Drive1->setDrive(m_local->path() + "/not-mounted");
    QCOMPARE(w->Drive1->drive(), QStringLiteral("/"));
    QCOMPARE(w->Dir1->path(), QStringLiteral("/"));
    QCOMPARE(w->File1->path(), QStringLiteral("/"));
}

void tst_frmNorvoFTP::hostileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("listed"); // from the server's odd folder, else a made-up listing
    QTest::newRow("parent") << ".." << false;
    QTest::newRow("itself") << "." << false;
    QTest::newRow("slash") << "../../escape" << false;
    QTest::newRow("backslash, made up") << "..\\escape" << false;
    QTest::newRow("300 characters") << QString(300, 'n') << false;
    QTest::newRow("control character") << "line\nbreak" << false;
    QTest::newRow("backslash") << "back\\slash" << true;
    QTest::newRow("bell") << "bell\a" << true;
}

void tst_frmNorvoFTP::hostileNames()
{
    QFETCH(QString, name);
    QFETCH(bool, listed);
    auto w = window();
    QString parent = S();
    if (listed) {
        parent += "/odd";
        doubleClick(*w, parent);
    } else {
        w->colEntryNames = {name};
        w->colEntryAttributes = {FILE_ATTRIBUTE_NORMAL};
        w->AddTreeNodes(S());
    }
    QTreeWidgetItem *item = w->node(parent + '/' + name);
    QVERIFY(item);
    w->TreeView1->setCurrentItem(item);
    w->cmdGet->click();
    QCOMPARE(m_messages.size(), 1);
    QVERIFY2(m_messages[0].contains("can't be saved in the local folder"),
             qPrintable(m_messages[0]));
    QVERIFY(!m_messages[0].contains('\n') && !m_messages[0].contains('\a'));
    QCOMPARE(
        QDir(m_local->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{"pane"});
    QCOMPARE(QDir(m_pane).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{});
}

QTEST_MAIN(tst_frmNorvoFTP)
#include "tst_frmnorvoftp.moc"
