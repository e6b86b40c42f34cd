#pragma once
#include <QFile>
#include <QProcess>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

// A chain of network namespaces built by netns-chain.sh (root only): source, routers, target.
// Named per process; deleted by the destructor, or by the script's reaper should the test
// process die first.
class NetnsChain {
public:
    // hostsFile, when given, becomes the source's /etc/hosts under `ip netns exec`.
    explicit NetnsChain(int routers, const QString &hostsFile = {})
        : m_prefix(QStringLiteral("vt%1").arg(getpid()))
    {
        QStringList args{"up", m_prefix, QString::number(routers), "--owner",
                         QString::number(getpid())};
        if (!hostsFile.isEmpty())
            args << "--hosts" << hostsFile;
        QByteArray err;
        if (const int status = run(NETNS_CHAIN_SCRIPT, args, nullptr, &err))
            m_error =
                QStringLiteral("netns-chain.sh up failed (%1): %2").arg(status).arg(QString(err));
    }
    ~NetnsChain() { run(NETNS_CHAIN_SCRIPT, {"down", m_prefix}); }

    QString error() const { return m_error; }
    QString source() const { return router(0); }
    QString router(int k) const { return m_prefix + '-' + QString::number(k); }

    // Runs a program inside a namespace: its exit status, -1 when it did not finish.
    int exec(const QString &ns, const QStringList &command, QByteArray *out = nullptr,
             QByteArray *err = nullptr) const
    {
        return run("ip", QStringList{"netns", "exec", ns} + command, out, err);
    }
    // Replaces a namespace's nft ruleset (empty: no rules).
    bool nft(const QString &ns, const QString &ruleset) const
    {
        QFile file(ns + ".nft"); // in the test's private working directory
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        file.write("flush ruleset\n" + ruleset.toUtf8() + "\n");
        file.close();
        return exec(ns, {"nft", "-f", file.fileName()}) == 0;
    }

private:
    static int run(const QString &program, const QStringList &args, QByteArray *out = nullptr,
                   QByteArray *err = nullptr)
    {
        QProcess p;
        p.start(program, args);
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        if (out)
            *out = p.readAllStandardOutput();
        if (err)
            *err = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    QString m_prefix;
    QString m_error;
};

// Moves the calling thread into a named network namespace for good: sockets it opens live
// there, programs it starts begin there.
inline bool enterNetns(const QString &ns)
{
    const int fd = ::open(QByteArray("/run/netns/" + ns.toLocal8Bit()).constData(),
                          O_RDONLY | O_CLOEXEC);
    const bool entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0)
        ::close(fd);
    return entered;
}
