#pragma once
#include "inetaddress.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The counting ping of the command line: echo after echo at an interval, one line per answer
// and a closing summary, with the texts and the arithmetic of iputils ping.

struct PingOptions {
    long count = 0; // 0: until stopped
    long intervalUs = 1000000;
    long waitUs = 10000000; // for the last answer when none has come yet
    std::vector<uint8_t> data;
};

// Round trips and counts, kept as ping keeps them: whole microseconds.
struct PingTally {
    long transmitted = 0;
    long received = 0;
    long duplicates = 0;
    long errors = 0;
    long long sumUs = 0;
    long long sumSquaresUs = 0;
    long minUs = 0;
    long maxUs = 0;
    void addRoundTrip(long us);
};

// "64 bytes from ::1: icmp_seq=1 ttl=64 time=0.045 ms[ (DUP!)]"
std::string pingReplyLine(size_t bytes, const std::string &from, unsigned sequence, int ttl,
                          long roundTripUs, bool duplicate);
// "From fd99:1::2 icmp_seq=3 Time exceeded: Hop limit"
std::string pingErrorLine(const std::string &from, unsigned sequence, const std::string &text);
// What an ICMP (family AF_INET) or ICMPv6 error says, as ping words it.
std::string pingErrorText(int family, uint8_t type, uint8_t code, uint32_t mtu);
// "PING host (addr) 56(84) bytes of data." or "PING host(addr) 56 data bytes"
std::string pingHeader(const std::string &host, const InetAddress &address, size_t dataBytes);
// The statistics block: "--- host ping statistics ---", the counts line and, when anything
// answered, the rtt line.
std::string pingSummary(const std::string &host, const PingTally &tally, long elapsedMs);

// Runs the echoes and writes every line through print. stop is polled between echoes (and
// set from a signal handler by the caller). Returns ping's exit status: 0 when any reply came,
// 1 when none did, 2 when no ICMP socket could be opened.
int runPing(const std::string &host, const InetAddress &address, const PingOptions &options,
            const std::atomic<bool> &stop, const std::function<void(const std::string &)> &print);
