#pragma once
// A pyftpdlib server on loopback (ftpserver.py beside this file) with its own temporary root,
// and tinyproxy beside it when asked. The test target defines FTPSERVER_SCRIPT as the script.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

class FtpServerPeer {
public:
    static constexpr const char *user = "velmaric";
    static constexpr const char *password = "secret";
    static constexpr const char *home = "/home/velmaric"; // login directory below the root

    // extraArgs: ftpserver.py switches, e.g. {"--no-mlsd"}; withProxy starts tinyproxy too.
    explicit FtpServerPeer(const QStringList &extraArgs = {}, bool withProxy = false)
    {
        const QStringList proxy{"--proxy", m_dir.path()};
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start("/usr/bin/python3",
                        QStringList{FTPSERVER_SCRIPT, "--root", root(), "--home", home, "--user",
                                    user, "--password", password} +
                            extraArgs + (withProxy ? proxy : QStringList{}));
        while (!m_port && (m_process.canReadLine() || m_process.waitForReadyRead(30000))) {
            const QList<QByteArray> words = m_process.readLine().trimmed().split(' ');
            if (words[0] == "PORT" || words[0] == "PROXY")
                (words[0] == "PORT" ? m_port : m_proxyPort) = words.value(1).toUShort();
        }
    }
    ~FtpServerPeer() { kill(); }

    bool started() const { return m_port; }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString proxy() const { return QStringLiteral("127.0.0.1:%1").arg(m_proxyPort); }
    // A path on disk for a server path ("/home/velmaric/a.txt").
    QString root(const QString &serverPath = {}) const
    {
        return m_dir.path() + "/root" + serverPath;
    }
    bool writeFile(const QString &serverPath, const QByteArray &bytes) const
    {
        return ::writeFile(root(serverPath), bytes);
    }
    QByteArray readFile(const QString &serverPath) const { return ::readFile(root(serverPath)); }

    // Ends the server at once (SIGKILL), as a crash or a pulled cable would.
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(10000);
    }

private:
    QTemporaryDir m_dir; // the root, and tinyproxy's files
    QProcess m_process;
    quint16 m_port = 0;
    quint16 m_proxyPort = 0;
};

#define REQUIRE_FTP_SERVER(peer) QVERIFY2((peer).started(), "ftpserver.py did not start")
