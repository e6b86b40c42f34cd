// SftpSession against a real OpenSSH sshd on loopback (tests/peers/sshserver.h).
#include "ftpserver.h"
#include "sftpsession.h"
#include "sshserver.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace {

// What the failed call left for the user to read: our sentence, or the server's SFTP status.
QString lastText()
{
    const FtpLastError e = FtpSaveLastError();
    return QString::fromStdString(e.detail + e.responseText);
}

QByteArray pattern(qsizetype size)
{
    QByteArray b(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        b[i] = char((i * 131 + i / 4099) & 0xff);
    return b;
}

} // namespace

class TestSftpSession : public QObject {
    Q_OBJECT

    SshServerPeer m_peer;
    QTemporaryDir m_client; // the user's home: .ssh/known_hosts and keys

    QString ssh(const QString &name = {}) const { return m_client.path() + "/.ssh/" + name; }

    SftpLogin sshLogin(bool withPassword = true) const
    {
        SftpLogin l;
        l.host = "127.0.0.1";
        l.port = m_peer.port();
        l.user = SshServerPeer::user;
        l.password = withPassword ? SshServerPeer::password : "";
        l.files.home = m_client.path().toStdString();
        l.timeouts = {20, 60, 20};
        return l;
    }
    void knowServer() { QVERIFY(writeFile(ssh("known_hosts"), m_peer.knownHostsLine())); }

private Q_SLOTS:
    void initTestCase()
    {
        REQUIRE_SSH_SERVER(m_peer);
        QVERIFY(QDir().mkpath(ssh()));
    }
    void init()
    {
        knowServer();
        for (const char *key : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
            QFile::remove(ssh(key));
            QFile::remove(ssh(key) + ".pub");
        }
    }

    // Password logins are covered by every other case, a refused one by tst_sftpcli.
    void login_data()
    {
        QTest::addColumn<QString>("keyType"); // "none": neither key nor password
        QTest::addColumn<QString>("passphrase");
        QTest::addColumn<DWORD>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("ed25519 key") << "ed25519" << "" << ERROR_SUCCESS << "";
        QTest::newRow("rsa key, SHA-2 signature") << "rsa" << "" << ERROR_SUCCESS << "";
        QTest::newRow("key with a passphrase, none asked")
            << "ed25519" << "pass phrase" << ERROR_INTERNET_LOGIN_FAILURE << "has a passphrase";
        QTest::newRow("no key at all")
            << "none" << "" << ERROR_INTERNET_LOGIN_FAILURE << "no key in ~/.ssh";
    }
    void login()
    {
        QFETCH(QString, keyType);
        QFETCH(QString, passphrase);
        QFETCH(DWORD, error);
        QFETCH(QString, message);
        if (keyType != "none") {
            const QString file = ssh("id_" + keyType);
            QVERIFY(SshServerPeer::keygen(keyType, file, passphrase));
            QVERIFY(m_peer.authorize(file));
        }
        SftpSession s(sshLogin(false));
        QCOMPARE(s.connect(), error);
        QVERIFY2(lastText().contains(message), qPrintable(lastText()));
        if (!error)
            QCOMPARE(QString::fromStdString(s.loginDirectory()), m_peer.home());
    }

    // A known server, an unknown one without known_hosts and the trusted first use are covered
    // by tst_sftpcli; here the trust question itself.
    void hostKey_data()
    {
        QTest::addColumn<QString>("knownHosts"); // "hashed", "other key", "empty"
        QTest::addColumn<int>("answer"); // to the trust question: -1 none installed, 0 no, 1 yes
        QTest::addColumn<DWORD>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("known, hashed entry") << "hashed" << -1 << ERROR_SUCCESS << "";
        QTest::newRow("unknown, refused")
            << "empty" << -1 << ERROR_INTERNET_INVALID_CA << "is not known";
        QTest::newRow("unknown, trusted") << "empty" << 1 << ERROR_SUCCESS << "";
        QTest::newRow("unknown, not trusted")
            << "empty" << 0 << ERROR_INTERNET_INVALID_CA << "is not known";
        QTest::newRow("changed, refused without a question")
            << "other key" << 1 << ERROR_INTERNET_SEC_INVALID_CERT << "has CHANGED";
    }
    void hostKey()
    {
        QFETCH(QString, knownHosts);
        QFETCH(int, answer);
        QFETCH(DWORD, error);
        QFETCH(QString, message);
        const QString file = ssh("known_hosts"), other = m_client.path() + "/other";
        QByteArray otherFingerprint;
        if (knownHosts == "empty") {
            QVERIFY(writeFile(file, {}));
        } else if (knownHosts == "hashed") {
            QProcess hash;
            hash.start("ssh-keygen", {"-q", "-H", "-f", file});
            QVERIFY(hash.waitForFinished() && hash.exitCode() == 0);
            QVERIFY(readFile(file).startsWith("|1|"));
        } else {
            QVERIFY(writeFile(file, m_peer.knownHostsLine(other)));
            QProcess print;
            print.start("ssh-keygen", {"-l", "-f", other + ".pub"});
            QVERIFY(print.waitForFinished());
            otherFingerprint = print.readAllStandardOutput().split(' ').value(1);
        }
        FtpCallObserver observer;
        int asked = 0;
        if (answer >= 0)
            observer.trust = [&](const ServerIdentity &key) {
                ++asked;
                [&] {
                    QCOMPARE(QString::fromStdString(key.hostPort),
                             QStringLiteral("127.0.0.1:%1").arg(m_peer.port()));
                    QVERIFY(key.kind == ServerIdentity::Kind::SshHostKey);
                    QVERIFY(key.fingerprint.rfind("SHA256:", 0) == 0);
                }();
                return answer == 1;
            };
        SftpSession s(sshLogin());
        {
            const FtpObserverScope scope(observer);
            QCOMPARE(s.connect(), error);
        }
        const QString text = lastText();
        QVERIFY2(text.contains(message), qPrintable(text));
        QCOMPARE(asked, int(answer >= 0 && knownHosts == "empty"));
        if (knownHosts == "other key") {
            QVERIFY2(text.contains(QString::fromUtf8(otherFingerprint)), qPrintable(text));
            QCOMPARE(text.count("SHA256:"), 2);
        }
        if (!error && knownHosts == "empty") { // added: known next time
            SftpSession again(sshLogin());
            QCOMPARE(again.connect(), ERROR_SUCCESS);
        }
    }

    void listAndTransfer()
    {
        QVERIFY(QDir().mkpath(m_peer.home("sub dir")));
        const QByteArray data = pattern(3 * 1024 * 1024 + 12345);
        QVERIFY(writeFile(m_peer.home("data.bin"), data) && writeFile(m_peer.home("empty"), {}));
        SftpSession s(sshLogin());
        QCOMPARE(s.connect(), ERROR_SUCCESS);
        const std::string home = s.loginDirectory();

        std::vector<FtpListEntry> entries;
        QCOMPARE(s.list(home, entries), ERROR_SUCCESS);
        QMap<QString, bool> seen;
        for (const auto &e : entries)
            seen[QString::fromStdString(e.name)] = e.directory;
        QVERIFY(seen.contains("data.bin") && !seen["data.bin"]);
        QVERIFY(seen.contains("sub dir") && seen["sub dir"]);
        QVERIFY(!seen.contains(".") && !seen.contains(".."));

        QTemporaryDir local;
        for (const char *name : {"data.bin", "empty"}) {
            const QString target = local.filePath(name);
            const int fd = ::open(QFile::encodeName(target), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            QCOMPARE(s.get(home + "/" + name, fd, false), ERROR_SUCCESS);
            ::close(fd);
            QVERIFY(readFile(target) == readFile(m_peer.home(name)));
        }

        const int in = ::open(QFile::encodeName(local.filePath("data.bin")), O_RDONLY);
        QCOMPARE(s.put(in, quint64(data.size()), home + "/sub dir/up.bin", false), ERROR_SUCCESS);
        ::close(in);
        QVERIFY(readFile(m_peer.home("sub dir/up.bin")) == data);

        std::string current;
        QCOMPARE(s.changeDirectory(home + "/sub dir/../sub dir", current), ERROR_SUCCESS);
        QCOMPARE(QString::fromStdString(current), m_peer.home("sub dir"));
        QCOMPARE(s.changeDirectory(home + "/data.bin", current), ERROR_INTERNET_EXTENDED_ERROR);
        QCOMPARE(s.makeDirectory(home + "/made"), ERROR_SUCCESS);
        QCOMPARE(s.rename(home + "/sub dir/up.bin", home + "/made/moved"), ERROR_SUCCESS);
        QVERIFY(QFile::exists(m_peer.home("made/moved")));
        QCOMPARE(s.deleteFile(home + "/made/moved"), ERROR_SUCCESS);
        QCOMPARE(s.removeDirectory(home + "/made"), ERROR_SUCCESS);
        QVERIFY(!QFile::exists(m_peer.home("made")));

        const int fd = ::open(QFile::encodeName(local.filePath("x")), O_WRONLY | O_CREAT, 0644);
        QCOMPARE(s.get(home + "/missing", fd, false), ERROR_INTERNET_EXTENDED_ERROR);
        ::close(fd);
        QCOMPARE(FtpSaveLastError().responseNumber, DWORD(2)); // SSH_FX_NO_SUCH_FILE
        QVERIFY(lastText().contains("No such file"));
    }

    // Cancel ends a transfer at once; the next call works on a new connection.
    void cancel_data()
    {
        QTest::addColumn<bool>("upload");
        QTest::newRow("get") << false;
        QTest::newRow("put") << true;
    }
    void cancel()
    {
        QFETCH(bool, upload);
        const QByteArray data = pattern(32 * 1024 * 1024);
        QTemporaryDir local;
        QVERIFY(writeFile(m_peer.home("big"), data) && writeFile(local.filePath("big"), data));
        SftpSession s(sshLogin());
        QCOMPARE(s.connect(), ERROR_SUCCESS);
        FtpCallObserver observer;
        std::uint64_t last = 0;
        observer.progress = [&](std::uint64_t done, std::uint64_t) {
            last = done;
            observer.cancelled = true;
        };
        std::optional<FtpObserverScope> scope(std::in_place, observer);
        const int fd = upload ? ::open(QFile::encodeName(local.filePath("big")), O_RDONLY)
                              : ::open(QFile::encodeName(local.filePath("got")), O_WRONLY | O_CREAT,
                                       0644);
        const DWORD error = upload
                                ? s.put(fd, quint64(data.size()), s.loginDirectory() + "/up", false)
                                : s.get(s.loginDirectory() + "/big", fd, false);
        ::close(fd);
        QCOMPARE(error, ERROR_INTERNET_OPERATION_CANCELLED);
        QVERIFY(last < quint64(data.size()));
        scope.reset();
        std::vector<FtpListEntry> entries;
        QCOMPARE(s.list(s.loginDirectory(), entries), ERROR_SUCCESS);
    }

    // A peer that takes the connection but never speaks SSH: the connect time-out ends it.
    void silentServer()
    {
        QTcpServer silent; // never accepts: the kernel completes the handshake all the same
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        SftpLogin l = sshLogin();
        l.port = silent.serverPort();
        l.timeouts.connectSeconds = 0.5;
        SftpSession s(l);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(s.connect(), ERROR_INTERNET_TIMEOUT);
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
    }

    // Through an HTTP proxy's CONNECT tunnel (tinyproxy, started beside an FTP peer) and
    // through SOCKS5, the server's name resolved here or by the proxy (socks5relay.py).
    void proxy_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::newRow("http") << "http";
        QTest::newRow("socks5") << "socks5";
        QTest::newRow("socks5h") << "socks5h";
    }
    void proxy()
    {
        QFETCH(QString, scheme);
        std::optional<FtpServerPeer> ftp;
        QProcess socks;
        const auto line = [&socks] {
            while (!socks.canReadLine() && socks.waitForReadyRead(10000))
                ;
            return socks.readLine().trimmed();
        };
        QString address;
        if (scheme == "http") {
            ftp.emplace(QStringList{}, true);
            REQUIRE_FTP_SERVER(*ftp);
            address = ftp->proxy();
        } else {
            socks.start("/usr/bin/python3", {SOCKS5RELAY_SCRIPT});
            address = "127.0.0.1:" + line().split(' ').value(1);
        }
        SftpLogin l = sshLogin();
        l.proxy = (scheme + "://" + address).toStdString();
        SftpSession s(l);
        QCOMPARE(s.connect(), ERROR_SUCCESS);
        std::vector<FtpListEntry> entries;
        QCOMPARE(s.list(s.loginDirectory(), entries), ERROR_SUCCESS);
        if (scheme != "http") { // the tunnel went through the proxy
            QCOMPARE(line(), "CONNECT 127.0.0.1 " + QByteArray::number(m_peer.port()));
        }
        socks.kill();
        socks.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestSftpSession)
#include "tst_sftpsession.moc"
