#pragma once
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

// Takes CAP_NET_RAW out of the calling thread's effective set for the scope, so a root
// test can see what an ordinary user sees; the permitted set keeps it for the way back.
class WithoutRawCapability {
public:
    WithoutRawCapability()
    {
        if (syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[CAP_NET_RAW / 32].effective &= ~(1u << (CAP_NET_RAW % 32));
        m_dropped = syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~WithoutRawCapability()
    {
        if (m_dropped)
            syscall(SYS_capset, &m_header, m_saved);
    }
    WithoutRawCapability(const WithoutRawCapability &) = delete;
    WithoutRawCapability &operator=(const WithoutRawCapability &) = delete;
    bool isDropped() const { return m_dropped; }

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_dropped = false;
};
