#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

// A chain of network namespaces built by netns-chain.sh: source, routers, target.
// Uniquely named per process and object; deleted by the destructor, and by the script's
// reaper when the test process dies without running it.
class NetnsChain {
public:
    // Why chains cannot be built here (not root, no ip command); empty when they can.
    static QString unavailableReason();

    // hostsFile, when given, becomes the source namespace's /etc/hosts under `ip netns exec`.
    explicit NetnsChain(int routers, const QString &hostsFile = {});
    ~NetnsChain();
    NetnsChain(const NetnsChain &) = delete;
    NetnsChain &operator=(const NetnsChain &) = delete;

    bool isUp() const { return m_up; }
    QString error() const { return m_error; }

    QString prefix() const { return m_prefix; }
    QString source() const { return node(0); }
    QString target() const { return node(m_routers + 1); }
    QString router(int k) const { return node(k); }
    QString node(int i) const { return m_prefix + QLatin1Char('-') + QString::number(i); }
    QString targetAddress() const;
    // The address hop k (1 = first router) answers from.
    QString hopAddress(int k) const;

    // Runs a program inside a namespace; returns its exit status (-1 when it did not finish).
    int exec(const QString &ns, const QStringList &command, QByteArray *out = nullptr,
             QByteArray *err = nullptr, int timeoutMs = 60000) const;
    // Loads an nft ruleset into a namespace (replacing what the previous call loaded).
    bool nft(const QString &ns, const QString &ruleset) const;
    bool sysctl(const QString &ns, const QString &key, const QString &value) const;

private:
    int m_routers;
    QString m_prefix;
    bool m_up = false;
    QString m_error;
};

// Puts the calling thread into a named network namespace for the scope: sockets it opens
// meanwhile live there.
class NetnsScope {
public:
    explicit NetnsScope(const QString &ns);
    ~NetnsScope();
    NetnsScope(const NetnsScope &) = delete;
    NetnsScope &operator=(const NetnsScope &) = delete;
    bool isEntered() const { return m_entered; }

private:
    int m_home = -1;
    bool m_entered = false;
};
