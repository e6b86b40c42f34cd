#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QString>

// A notification area (trayer) on the test's display; icons embed in it by XEmbed.
class TrayHost {
public:
    TrayHost()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty()) {
            m_error = QStringLiteral("trayer is not installed");
            return;
        }
        m_trayer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_trayer.start(QStringLiteral("trayer"),
                       {"--edge", "top", "--align", "right", "--widthtype", "request", "--height",
                        "32", "--SetDockType", "true"});
        if (!m_trayer.waitForStarted(10000))
            m_error = QStringLiteral("trayer did not start");
    }

    ~TrayHost()
    {
        m_trayer.terminate();
        if (!m_trayer.waitForFinished(5000))
            m_trayer.kill();
    }

    TrayHost(const TrayHost &) = delete;
    TrayHost &operator=(const TrayHost &) = delete;

    QString error() const { return m_error; }

private:
    QProcess m_trayer;
    QString m_error;
};
