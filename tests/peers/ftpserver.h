#pragma once
// A pyftpdlib server on loopback (ftpserver.py beside this file), with its own temporary root.
// The test target defines FTPSERVER_SCRIPT as the script's path.
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

class FtpServerPeer {
public:
    static constexpr const char *user = "velmaric";
    static constexpr const char *password = "secret";
    static constexpr const char *home = "/home/velmaric"; // login directory below the root

    // extraArgs: ftpserver.py switches, e.g. {"--no-mlsd"} or {"--stall-after", "65536"}.
    explicit FtpServerPeer(const QStringList &extraArgs = {})
    {
        if (!m_root.isValid()) {
            m_error = QStringLiteral("no temporary folder");
            return;
        }
        QDir().mkpath(root(home));
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        QStringList{QStringLiteral(FTPSERVER_SCRIPT), "--root", m_root.path(),
                                    "--home", home, "--user", user, "--password", password} +
                            extraArgs);
        const QDeadlineTimer deadline(30000);
        while (m_port == 0 && !deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
            if (!m_process.canReadLine() &&
                !m_process.waitForReadyRead(int(deadline.remainingTime())))
                continue;
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("PORT "))
                m_port = line.mid(5).toUShort();
        }
        if (m_port == 0) {
            m_process.waitForFinished(1000);
            m_missing = m_process.state() == QProcess::NotRunning && m_process.exitCode() == 77;
            m_error = m_missing ? QStringLiteral("python3-pyftpdlib is not installed")
                                : QStringLiteral("ftpserver.py did not start");
        }
    }
    ~FtpServerPeer() { kill(); }
    FtpServerPeer(const FtpServerPeer &) = delete;
    FtpServerPeer &operator=(const FtpServerPeer &) = delete;

    QString error() const { return m_error; }
    bool missing() const { return m_missing; }
    quint16 port() const { return m_port; }
    QString server() const
    {
        return QStringLiteral("127.0.0.1:%1").arg(m_port);
    } // for InternetConnectA
    // A path on disk for a server path ("/home/velmaric/a.txt").
    QString root(const QString &serverPath = {}) const { return m_root.path() + serverPath; }

    bool writeFile(const QString &serverPath, const QByteArray &bytes) const
    {
        QDir().mkpath(QFileInfo(root(serverPath)).path());
        QFile f(root(serverPath));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    }
    QByteArray readFile(const QString &serverPath) const
    {
        QFile f(root(serverPath));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Ends the server at once (SIGKILL), as a crash or a pulled cable would.
    void kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

private:
    QTemporaryDir m_root;
    QProcess m_process;
    quint16 m_port = 0;
    bool m_missing = false;
    QString m_error;
};

#define REQUIRE_FTP_SERVER(peer) \
    do { \
        if ((peer).missing()) \
            QSKIP(qPrintable((peer).error())); \
        QVERIFY2((peer).error().isEmpty(), qPrintable((peer).error())); \
    } while (false)
