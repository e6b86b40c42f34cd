#pragma once
// tinyproxy on a free loopback port, with a configuration of its own in a temporary folder.
// It takes CONNECT from loopback to any port (no ConnectPort line): the FTP server's passive
// data ports are chosen at random.
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

class TinyproxyPeer {
public:
    TinyproxyPeer()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("tinyproxy"));
        if (program.isEmpty()) {
            m_missing = true;
            m_error = QStringLiteral("tinyproxy is not installed");
            return;
        }
        // The free port is found by binding port 0; another process may take it before
        // tinyproxy does, so try a few times.
        for (int attempt = 0; attempt < 5 && !m_port; ++attempt) {
            quint16 port;
            {
                QTcpServer probe;
                if (!probe.listen(QHostAddress::LocalHost))
                    continue;
                port = probe.serverPort();
            }
            QFile conf(m_dir.filePath(QStringLiteral("tinyproxy.conf")));
            if (!conf.open(QIODevice::WriteOnly | QIODevice::Truncate))
                break;
            conf.write(QStringLiteral(
                           "Port %1\nListen 127.0.0.1\nTimeout 60\nAllow 127.0.0.1\nMaxClients 20\n"
                           "LogFile \"%2\"\nLogLevel Warning\nPidFile \"%3\"\n")
                           .arg(port)
                           .arg(m_dir.filePath("tinyproxy.log"), m_dir.filePath("tinyproxy.pid"))
                           .toUtf8());
            conf.close();
            m_process.start(program, {"-d", "-c", conf.fileName()});
            m_process.waitForStarted(10000);
            const QDeadlineTimer deadline(10000);
            while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
                QTcpSocket s;
                s.connectToHost(QHostAddress::LocalHost, port);
                if (s.waitForConnected(500)) {
                    m_port = port;
                    break;
                }
                m_process.waitForFinished(50); // returns early only if tinyproxy gave up
            }
            if (!m_port)
                stop();
        }
        if (!m_port)
            m_error = QStringLiteral("tinyproxy did not start: ") +
                      QString::fromLocal8Bit(m_process.readAllStandardError());
    }
    ~TinyproxyPeer() { stop(); }
    TinyproxyPeer(const TinyproxyPeer &) = delete;
    TinyproxyPeer &operator=(const TinyproxyPeer &) = delete;

    bool missing() const { return m_missing; }
    QString error() const { return m_error; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

private:
    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
    }

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    bool m_missing = false;
    QString m_error;
};
