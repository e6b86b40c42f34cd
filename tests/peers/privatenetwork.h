#pragma once
#include "uniquefd.h"

#include <QProcess>

#include <fcntl.h>
#include <sched.h>

// Moves the calling thread into a new network namespace with loopback up, and back when it
// goes. Sockets opened and programs started meanwhile live there, with the kernel's defaults
// (no ICMP datagram sockets: ping_group_range "1 0") and a quiet TCP table. Needs root.
class PrivateNetwork {
public:
    PrivateNetwork() : m_home(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC))
    {
        m_unshared = m_home.valid() && ::unshare(CLONE_NEWNET) == 0;
        m_entered = m_unshared &&
                    QProcess::execute(QStringLiteral("ip"), {"link", "set", "lo", "up"}) == 0;
    }
    ~PrivateNetwork()
    {
        if (m_unshared)
            ::setns(m_home.get(), CLONE_NEWNET);
    }

    bool entered() const { return m_entered; }

private:
    UniqueFd m_home;
    bool m_unshared = false;
    bool m_entered = false;
};
