#pragma once
#include "uniquefd.h"

#include <QProcess>

#include <utility>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

// A chain of network namespaces built by netns-chain.sh (root only): source, routers, target.
// Named per process; deleted by the destructor, or by the script's reaper should the test
// process die first.
class NetnsChain {
public:
    // hosts, when given, is the source's /etc/hosts under `ip netns exec`.
    explicit NetnsChain(int routers, const QByteArray &hosts = {})
    {
        QStringList args{"up", m_prefix, QString::number(routers)};
        if (!hosts.isEmpty())
            args << "--hosts"
                 << "/dev/stdin";
        QByteArray err;
        if (run(NETNS_CHAIN_SCRIPT, args, nullptr, &err, hosts) != 0)
            m_error = "netns-chain.sh up failed: " + QString::fromLocal8Bit(err);
    }
    ~NetnsChain() { run(NETNS_CHAIN_SCRIPT, {"down", m_prefix}); }

    QString error() const { return m_error; }
    QString source() const { return router(0); }
    QString router(int k) const { return m_prefix + '-' + QString::number(k); }

    // Runs a program inside a namespace: its exit status, -1 when it did not finish.
    int exec(const QString &ns, const QStringList &command, QByteArray *out = nullptr,
             QByteArray *err = nullptr, const QByteArray &input = {}) const
    {
        return run("ip", QStringList{"netns", "exec", ns} + command, out, err, input);
    }
    // Replaces a namespace's nft ruleset (empty: no rules).
    bool nft(const QString &ns, const QString &ruleset) const
    {
        return exec(ns, {"nft", "-f", "-"}, nullptr, nullptr,
                    "flush ruleset\n" + ruleset.toUtf8()) == 0;
    }
    // nft() with rules that clearRules() takes away again.
    bool rule(const QString &ns, const QString &ruleset)
    {
        m_ruled << ns;
        return nft(ns, ruleset);
    }
    bool clearRules()
    {
        bool ok = true;
        for (const QString &ns : std::exchange(m_ruled, {}))
            ok = nft(ns, QString()) && ok;
        return ok;
    }
    // Root opens an ICMP datagram socket in the source where its group range allows it, else a
    // raw one; a new namespace's range is "1 0".
    bool useSocketKind(const QString &kind) const
    {
        const QString range = kind == "raw" ? "1\t0" : "0\t2147483647";
        return exec(source(), {"sysctl", "-qw", "net.ipv4.ping_group_range=" + range}) == 0;
    }

private:
    static int run(const QString &program, const QStringList &args, QByteArray *out = nullptr,
                   QByteArray *err = nullptr, const QByteArray &input = {})
    {
        QProcess p;
        p.start(program, args);
        p.write(input);
        p.closeWriteChannel();
        if (!p.waitForFinished(60000))
            return -1; // killed by ~QProcess
        if (out)
            *out = p.readAllStandardOutput();
        if (err)
            *err = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }

    const QString m_prefix = QStringLiteral("vt%1").arg(getpid());
    QString m_error;
    QStringList m_ruled;
};

// Moves the calling thread into a named network namespace for good: sockets it opens live
// there, programs it starts begin there.
inline bool enterNetns(const QString &ns)
{
    const UniqueFd fd(::open(qPrintable("/run/netns/" + ns), O_RDONLY | O_CLOEXEC));
    return fd && ::setns(fd.get(), CLONE_NEWNET) == 0;
}
