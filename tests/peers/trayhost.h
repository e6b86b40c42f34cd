#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

// An X display of the test's own (Xvfb), started before the application connects to it, so a
// tray host can come and go there without touching any other test's display.
class PrivateDisplay {
public:
    PrivateDisplay()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            m_error = QStringLiteral("pipe failed");
            return;
        }
        // Clear of descriptor 3, where the child wants the write end.
        const int writeEnd = ::fcntl(fds[1], F_DUPFD_CLOEXEC, 10);
        ::close(fds[1]);
        fds[1] = writeEnd;
        // Xvfb picks a free display and writes its number to descriptor 3.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        char *argv[] = {const_cast<char *>("Xvfb"),
                        const_cast<char *>("-displayfd"),
                        const_cast<char *>("3"),
                        const_cast<char *>("-screen"),
                        const_cast<char *>("0"),
                        const_cast<char *>("1280x1024x24"),
                        const_cast<char *>("-nolisten"),
                        const_cast<char *>("tcp"),
                        nullptr};
        if (posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, argv, environ) != 0) {
            m_pid = -1;
            m_error = QStringLiteral("Xvfb is not installed");
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        QByteArray number;
        const QDeadlineTimer deadline(20000);
        while (m_pid > 0 && !number.endsWith('\n') && !deadline.hasExpired()) {
            pollfd p{fds[0], POLLIN, 0};
            if (::poll(&p, 1, int(deadline.remainingTime())) <= 0)
                break;
            char c;
            if (::read(fds[0], &c, 1) != 1)
                break;
            number += c;
        }
        ::close(fds[0]);
        if (m_pid > 0 && !number.endsWith('\n'))
            m_error = QStringLiteral("Xvfb did not start");
        m_name = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    }

    ~PrivateDisplay()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    PrivateDisplay(const PrivateDisplay &) = delete;
    PrivateDisplay &operator=(const PrivateDisplay &) = delete;

    QString error() const { return m_error; }
    QString name() const { return m_name; }

private:
    pid_t m_pid = -1;
    QString m_name;
    QString m_error;
};

// A notification area (trayer) on a display; icons embed in it by XEmbed.
class TrayHost {
public:
    explicit TrayHost(const QString &display)
    {
        if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty()) {
            m_error = QStringLiteral("trayer is not installed");
            return;
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        m_trayer.setProcessEnvironment(env);
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
