// The FTP window on an sftp:// server (tests/peers/sshserver.h): the session steps of the plain
// FTP window tests, logging in with the password typed, or with a key whose passphrase the
// window asks for; an unknown host key put to the trust box, answered Yes and No.
#include "frmnorvoftp.h"
#include "ftpprogress.h"
#include "ftpserver.h"
#include "localpanes.h"
#include "messagebox.h"
#include "sftpsession.h"
#include "skip.h"
#include "sshserver.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

class tst_frmNorvoFTPSftp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void session_data();
    void session();

private:
    QString children(frmNorvoFTP &w, const QString &path) const;

    SshServerPeer m_peer;
    QTemporaryDir m_home; // the user's .ssh
    QString m_server;
};

void tst_frmNorvoFTPSftp::initTestCase()
{
    REQUIRE_SSH_SERVER(m_peer);
    m_server = "sftp://" + m_peer.server();
    QVERIFY(writeFile(m_peer.home("readme.txt"), "readme\n"));
    QVERIFY(writeFile(m_peer.home("pub/inner.txt"), "inner\n"));
    QVERIFY(writeFile(m_home.filePath(".ssh/known_hosts"), m_peer.knownHostsLine()));
    QVERIFY(SshServerPeer::keygen("ed25519", m_home.filePath(".ssh/id_ed25519"), "pass phrase"));
    QVERIFY(m_peer.authorize(m_home.filePath(".ssh/id_ed25519")));
    SftpSetUserFiles({m_home.path().toStdString(), {}});
}

namespace {
// Clicks and waits until the handler's last step has run.
void click(frmNorvoFTP &w, QAbstractButton *button)
{
    button->click();
    if (w.isBusy()) {
        QSignalSpy finished(&w, &frmNorvoFTP::handlerFinished);
        QVERIFY(finished.wait(30000));
    }
}

void doubleClick(frmNorvoFTP &w, QTreeWidgetItem *item)
{
    QTest::mouseDClick(w.TreeView1->viewport(), Qt::LeftButton, {},
                       w.TreeView1->visualItemRect(item).center());
    if (w.isBusy()) {
        QSignalSpy finished(&w, &frmNorvoFTP::handlerFinished);
        QVERIFY(finished.wait(30000));
    }
}
} // namespace

QString tst_frmNorvoFTPSftp::children(frmNorvoFTP &w, const QString &path) const
{
    QStringList out;
    const QTreeWidgetItem *node = w.node(m_server + path);
    for (int i = 0; node && i < node->childCount(); ++i)
        out << node->child(i)->text(0).mid(m_server.size()) + '|' +
                   frmNorvoFTP::imageKey(node->child(i));
    out.sort();
    return out.join(',');
}

void tst_frmNorvoFTPSftp::session_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("asked");       // passphrase questions
    QTest::addColumn<int>("trustAnswer"); // to the host key question; 0: the key is known
    QTest::addColumn<QStringList>("boxes");
    QTest::newRow("password") << SshServerPeer::password << 0 << 0 << QStringList();
    QTest::newRow("key, passphrase asked") << "" << 1 << 0 << QStringList();
    const QString question = "4|The host key of 127.0.0.1:%1 is not known: not in "
                             "~/.ssh/known_hosts.\r\nKey type: ssh-ed25519\r\nFingerprint: SHA256:";
    QTest::newRow("unknown host key, trusted")
        << SshServerPeer::password << 0 << int(vbYes) << QStringList{question};
    QTest::newRow("unknown host key, not trusted")
        << SshServerPeer::password << 0 << int(vbNo)
        << QStringList{question,
                       "0|InternetConnect: The SSH host key of [127.0.0.1]:%1 is not known",
                       "4|InternetConnect Err: 12045"};
}

void tst_frmNorvoFTPSftp::session()
{
    QFETCH(QString, password);
    QFETCH(int, asked);
    QFETCH(int, trustAnswer);
    QFETCH(QStringList, boxes);
    QStringList messages;
    setMsgBoxHandler([&](const QString &text, int style, const QString &) {
        messages << QString::number(style) + '|' + text;
        return style == vbYesNo && messages.size() == 1 && trustAnswer ? trustAnswer : int(vbNo);
    });
    const QString knownHosts = m_home.filePath(".ssh/known_hosts");
    QVERIFY(writeFile(knownHosts, trustAnswer ? QByteArray() : m_peer.knownHostsLine()));
    int questions = 0;
    FtpProgress::setPassphraseHandler([&](const QString &keyFile) -> std::optional<QString> {
        ++questions;
        [&] { QCOMPARE(keyFile, m_home.filePath(".ssh/id_ed25519")); }();
        return QStringLiteral("pass phrase");
    });
    QTemporaryDir pane;
    QVERIFY(writeFile(pane.filePath("sent.bin"), QByteArray("sent\0bytes\n", 11)));
    QFile::remove(m_peer.home("pub/sent.bin"));

    frmNorvoFTP w;
    w.load();
    w.show();
    w.Dir1->setPath(pane.path());
    w.txtServer->setText(m_server);
    w.txtUser->setText(SshServerPeer::user);
    w.txtPassword->setText(password);
    click(w, w.cmdInternetOpen);
    click(w, w.cmdConnect);
    QCOMPARE(messages.size(), boxes.size());
    for (int i = 0; i < boxes.size(); ++i)
        QVERIFY2(messages[i].startsWith(boxes[i].arg(m_peer.port())), qPrintable(messages[i]));
    QCOMPARE(questions, asked);
    QCOMPARE(w.fInSession, trustAnswer != vbNo);
    QCOMPARE(readFile(knownHosts).contains("[127.0.0.1]:"), trustAnswer != vbNo);
    if (!w.fInSession)
        return;
    messages.clear();
    QCOMPARE(children(w, {}), QStringLiteral("/pub|closed,/readme.txt|leaf"));

    QTreeWidgetItem *pub = w.node(m_server + "/pub");
    w.TreeView1->setCurrentItem(pub);
    doubleClick(w, pub);
    QCOMPARE(children(w, "/pub"), QStringLiteral("/pub/inner.txt|leaf"));
    w.TreeView1->setCurrentItem(w.node(m_server + "/pub/inner.txt"));
    click(w, w.cmdGet);
    QCOMPARE(readFile(pane.filePath("inner.txt")), QByteArray("inner\n"));

    w.TreeView1->setCurrentItem(w.node(m_server + "/pub"));
    w.File1->setCurrentRow(w.File1->row(w.File1->findItems("sent.bin", Qt::MatchExactly).value(0)));
    click(w, w.cmdPut);
    QCOMPARE(readFile(m_peer.home("pub/sent.bin")), QByteArray("sent\0bytes\n", 11));
    QCOMPARE(children(w, "/pub"), QStringLiteral("/pub/inner.txt|leaf,/pub/sent.bin|leaf"));
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));

    click(w, w.cmdDisconnect);
    QCOMPARE(w.TreeView1->topLevelItemCount(), 0);
}

QTEST_MAIN(tst_frmNorvoFTPSftp)
#include "tst_frmnorvoftp_sftp.moc"
