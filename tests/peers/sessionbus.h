#pragma once

#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

// A private D-Bus session bus: its own dbus-daemon, stopped with the fixture, so tests never
// touch the desktop's bus and can run side by side.
class PrivateSessionBus {
public:
    PrivateSessionBus()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
            m_error = QStringLiteral("dbus-daemon is not installed");
            return;
        }
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        const QDeadlineTimer deadline(10000);
        while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(int(deadline.remainingTime()))) {}
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        if (m_address.isEmpty())
            m_error = "dbus-daemon gave no address: " + m_daemon.readAllStandardError();
    }

    ~PrivateSessionBus()
    {
        for (const QString &name : std::as_const(m_connections))
            QDBusConnection::disconnectFromBus(name);
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000))
            m_daemon.kill();
    }

    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    // Empty when the bus runs; else why it does not.
    QString error() const { return m_error; }

    // A connection of its own to this bus; `name` must be unique in the process.
    QDBusConnection connect(const QString &name)
    {
        m_connections << name;
        return QDBusConnection::connectToBus(m_address, name);
    }

private:
    QProcess m_daemon;
    QString m_address;
    QString m_error;
    QStringList m_connections;
};
