#pragma once
#include <sys/resource.h>

#include <csignal>

// A full disk for as long as it lives: writes that would take a file of this process past
// `bytes` fail with "File too large" (the signal the kernel would send is ignored).
class FullDisk {
public:
    explicit FullDisk(rlim_t bytes = 1)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_saved);
        const rlimit limit{bytes, m_saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FullDisk() { setrlimit(RLIMIT_FSIZE, &m_saved); }
    FullDisk(const FullDisk &) = delete;
    FullDisk &operator=(const FullDisk &) = delete;

private:
    rlimit m_saved{};
};
