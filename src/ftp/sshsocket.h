#pragma once
// The TCP connection an SSH session runs on, opened by us (libssh takes it over) so that the
// connect time-out and cancel hold from the first packet, and so that it can go through a proxy:
// SOCKS5 ("socks5://" resolves the server here, "socks5h://" lets the proxy resolve it) or an
// HTTP proxy's CONNECT tunnel ("http://", or a bare "host:port").

#include "wininet.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

struct SshSocketResult {
    int fd = -1;     // connected, blocking; the caller owns it
    DWORD error = 0; // 12007 name, 12029 refused or unreachable, 12002 time-out, 12017 cancelled
    std::string message;
};

SshSocketResult openSshSocket(const std::string &host, std::uint16_t port, const std::string &proxy,
                              std::chrono::steady_clock::time_point deadline,
                              const std::atomic<bool> *cancelled);
