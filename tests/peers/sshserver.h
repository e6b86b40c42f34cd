#pragma once
// An OpenSSH sshd on loopback with its own config, host key, account and files, all in a
// temporary folder; the machine's own sshd and /etc/ssh are never touched.
//
// The account "velmaric" (uid 0, home <dir>/home, password "secret") exists only for this sshd:
// sshd runs in a private mount namespace where copies of /etc/passwd and /etc/shadow carrying
// the account are bind-mounted over the real ones, and a tmpfs on /run gives it the privilege
// separation folder /run/sshd. A password login with UsePAM no needs a real shadow entry, and
// this way none is added to the machine. sshd is also the first process of a PID namespace, so
// killing it ends every session process with it (a session process otherwise outlives a killed
// listener). Needs root, which the tests check first. The REQUIRE macro needs skip.h.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include <unistd.h>

class SshServerPeer {
public:
    static constexpr const char *user = "velmaric";
    static constexpr const char *password = "secret";

    SshServerPeer()
    {
        if (::geteuid() != 0) {
            m_problem = "sshd with its own account needs root";
            return;
        }
        QDir().mkpath(home());
        QDir().mkpath(path("etc"));
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        if (!keygen("ed25519", path("hostkey")) || !writeAccount())
            return;
        for (int attempt = 0; attempt < 5 && !m_port; ++attempt)
            start();
        if (!m_port && m_problem.isEmpty())
            m_problem = "sshd did not start: " + QString::fromLocal8Bit(m_log);
    }
    ~SshServerPeer() { kill(); }

    bool started() const { return m_port; }
    QString problem() const { return m_problem; }
    quint16 port() const { return m_port; }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString path(const QString &name) const { return m_dir.path() + "/" + name; }
    QString home(const QString &name = {}) const
    {
        return m_dir.path() + "/home" + (name.isEmpty() ? QString() : "/" + name);
    }
    // The line ssh would add to known_hosts for this server; with keyFile, a line for a new key
    // made there instead, as if the server's key had changed.
    QByteArray knownHostsLine(const QString &keyFile = {}) const
    {
        if (!keyFile.isEmpty() && !keygen("ed25519", keyFile))
            return {};
        return QStringLiteral("[127.0.0.1]:%1 ").arg(m_port).toUtf8() +
               publicKey(keyFile.isEmpty() ? path("hostkey") : keyFile).trimmed() + "\n";
    }
    // Lets the key pair at privateKey log in.
    bool authorize(const QString &privateKey) const
    {
        QFile f(path("etc/authorized_keys"));
        return f.open(QIODevice::Append) && f.write(publicKey(privateKey)) > 0;
    }
    // Ends sshd and every session at once (SIGKILL), as a crash would.
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(10000);
    }

    // A new key pair at file (and file.pub); type "ed25519", "rsa" or "ecdsa".
    static bool keygen(const QString &type, const QString &file,
                       const QString &passphrase = QString())
    {
        QFile::remove(file);
        QFile::remove(file + ".pub");
        QProcess p;
        p.start("ssh-keygen", {"-q", "-t", type, "-N", passphrase, "-C", "test", "-f", file});
        return p.waitForFinished(60000) && p.exitCode() == 0;
    }
    static QByteArray publicKey(const QString &privateKey)
    {
        QFile f(privateKey + ".pub");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    bool writeAccount()
    {
        QProcess hash;
        hash.start("openssl", {"passwd", "-6", password});
        if (!hash.waitForFinished(30000) || hash.exitCode() != 0) {
            m_problem = "openssl passwd failed";
            return false;
        }
        QFile passwdIn("/etc/passwd"), shadowIn("/etc/shadow");
        QFile passwdOut(path("etc/passwd")), shadowOut(path("etc/shadow"));
        if (!passwdIn.open(QIODevice::ReadOnly) || !shadowIn.open(QIODevice::ReadOnly) ||
            !passwdOut.open(QIODevice::WriteOnly) || !shadowOut.open(QIODevice::WriteOnly)) {
            m_problem = "cannot copy the account files";
            return false;
        }
        passwdOut.write(passwdIn.readAll() + user + ":x:0:0:Velmaric test:" + home().toUtf8() +
                        ":/bin/sh\n");
        shadowOut.write(shadowIn.readAll() + user + ":" + hash.readAllStandardOutput().trimmed() +
                        ":19000:0:99999:7:::\n");
        QFile(path("etc/authorized_keys")).open(QIODevice::WriteOnly);
        return true;
    }

    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    void start()
    {
        const quint16 port = freePort();
        QFile config(path("etc/sshd_config"));
        config.open(QIODevice::WriteOnly);
        config.write(QStringLiteral("Port %1\n"
                                    "ListenAddress 127.0.0.1\n"
                                    "HostKey %2\n"
                                    "PidFile none\n"
                                    "UsePAM no\n"
                                    "PermitRootLogin yes\n"
                                    "AllowUsers %3\n"
                                    "PasswordAuthentication yes\n"
                                    "KbdInteractiveAuthentication no\n"
                                    "AuthorizedKeysFile %4\n"
                                    "StrictModes no\n"
                                    "Subsystem sftp internal-sftp\n"
                                    "LogLevel VERBOSE\n")
                         .arg(port)
                         .arg(path("hostkey"), user, path("etc/authorized_keys"))
                         .toUtf8());
        config.close();
        const QString script = "mount -t tmpfs -o mode=755 velmaric-sshd /run && "
                               "mkdir -m 755 /run/sshd && "
                               "mount --bind \"$1/etc/passwd\" /etc/passwd && "
                               "mount --bind \"$1/etc/shadow\" /etc/shadow && "
                               "exec /usr/sbin/sshd -f \"$1/etc/sshd_config\" -D -e";
        m_process.start("unshare", {"--mount", "--propagation", "private", "--pid", "--fork",
                                    "--kill-child", "/bin/sh", "-c", script, "sh", m_dir.path()});
        const QByteArray ready =
            QStringLiteral("Server listening on 127.0.0.1 port %1.").arg(port).toUtf8();
        m_log.clear();
        while (m_process.state() != QProcess::NotRunning && !m_log.contains(ready) &&
               m_process.waitForReadyRead(30000))
            m_log += m_process.readAll();
        if (m_log.contains(ready))
            m_port = port;
        else
            kill();
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_log;
    QString m_problem;
    quint16 m_port = 0;
};

#define REQUIRE_SSH_SERVER(peer) \
    do { \
        if (!(peer).started() && ::geteuid() != 0) \
            VELMARIC_SKIP(qPrintable((peer).problem())); \
        QVERIFY2((peer).started(), qPrintable((peer).problem())); \
    } while (0)
