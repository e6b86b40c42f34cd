#include "pingsession.h"

#include "icmp6packet.h"
#include "icmppacket.h"
#include "probesocket.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

void PingTally::addRoundTrip(long us)
{
    if (received + duplicates == 0 || us < minUs)
        minUs = us;
    maxUs = std::max(maxUs, us);
    sumUs += us;
    sumSquaresUs += (long long)us * us;
}

namespace {
std::string format(const char *pattern, auto... values)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, pattern, values...);
    return buffer;
}

std::string millisecondsText(long us)
{
    // As ping prints a round trip: three significant decimals at most.
    if (us >= 100000 - 50)
        return format("%ld", (us + 500) / 1000);
    if (us >= 10000 - 5)
        return format("%ld.%01ld", (us + 50) / 1000, ((us + 50) % 1000) / 100);
    if (us >= 1000)
        return format("%ld.%02ld", (us + 5) / 1000, ((us + 5) % 1000) / 10);
    return format("%ld.%03ld", us / 1000, us % 1000);
}

long long integerSquareRoot(long long value)
{
    if (value <= 0)
        return 0;
    long long root = (long long)std::sqrt(double(value));
    while (root * root > value)
        --root;
    while ((root + 1) * (root + 1) <= value)
        ++root;
    return root;
}
} // namespace

std::string pingReplyLine(size_t bytes, const std::string &from, unsigned sequence, int ttl,
                          long roundTripUs, bool duplicate)
{
    std::string line = format("%zu bytes from %s: icmp_seq=%u", bytes, from.c_str(), sequence);
    if (ttl >= 0)
        line += format(" ttl=%d", ttl);
    line += " time=" + millisecondsText(roundTripUs) + " ms";
    if (duplicate)
        line += " (DUP!)";
    return line;
}

std::string pingErrorLine(const std::string &from, unsigned sequence, const std::string &text)
{
    return format("From %s icmp_seq=%u ", from.c_str(), sequence) + text;
}

std::string pingErrorText(int family, uint8_t type, uint8_t code, uint32_t mtu)
{
    if (family == AF_INET6) {
        switch (type) {
        case icmp6::TypeDestinationUnreachable: {
            static const char *reasons[] = {"No route",
                                            "Administratively prohibited",
                                            "Beyond scope of source address",
                                            "Address unreachable",
                                            "Port unreachable",
                                            "Source address failed ingress/egress policy",
                                            "Reject route to destination"};
            return std::string("Destination unreachable: ") +
                   (code < std::size(reasons) ? reasons[code] : "Unknown code");
        }
        case icmp6::TypePacketTooBig: return format("Packet too big: mtu=%u", mtu);
        case icmp6::TypeTimeExceeded:
            return code == 1 ? "Time exceeded: Defragmentation failure"
                             : "Time exceeded: Hop limit";
        case icmp6::TypeParameterProblem: return "Parameter problem";
        default: return format("Unknown ICMPv6 type %u", unsigned(type));
        }
    }
    switch (type) {
    case icmp::TypeDestinationUnreachable: {
        static const char *reasons[] = {"Destination Net Unreachable",
                                        "Destination Host Unreachable",
                                        "Destination Protocol Unreachable",
                                        "Destination Port Unreachable",
                                        "Frag needed and DF set",
                                        "Source Route Failed",
                                        "Destination Net Unknown",
                                        "Destination Host Unknown",
                                        "Source Host Isolated",
                                        "Destination Net Prohibited",
                                        "Destination Host Prohibited",
                                        "Destination Net Unreachable for Type of Service",
                                        "Destination Host Unreachable for Type of Service",
                                        "Packet filtered",
                                        "Precedence Violation",
                                        "Precedence Cutoff"};
        return code < std::size(reasons) ? reasons[code]
                                         : format("Dest Unreachable, Bad Code: %u", unsigned(code));
    }
    case icmp::TypeSourceQuench: return "Source Quench";
    case icmp::TypeTimeExceeded:
        return code == 1 ? "Frag reassembly time exceeded" : "Time to live exceeded";
    case icmp::TypeParameterProblem: return "Parameter problem";
    default: return format("Bad ICMP type: %u", unsigned(type));
    }
}

std::string pingHeader(const std::string &host, const InetAddress &address, size_t dataBytes)
{
    const std::string text = address.text();
    if (address.family == AF_INET6)
        return format("PING %s(%s) %zu data bytes", host.c_str(), text.c_str(), dataBytes);
    return format("PING %s (%s) %zu(%zu) bytes of data.", host.c_str(), text.c_str(), dataBytes,
                  dataBytes + 28);
}

std::string pingSummary(const std::string &host, const PingTally &t, long elapsedMs)
{
    std::string text = "\n--- " + host + " ping statistics ---\n";
    text += format("%ld packets transmitted, %ld received", t.transmitted, t.received);
    if (t.duplicates)
        text += format(", +%ld duplicates", t.duplicates);
    if (t.errors)
        text += format(", +%ld errors", t.errors);
    if (t.transmitted) {
        const double loss = double(t.transmitted - t.received) * 100.0 / double(t.transmitted);
        text += format(", %g%% packet loss, time %ldms", float(loss), elapsedMs);
    }
    text += '\n';
    if (t.received + t.duplicates > 0) {
        // Integer arithmetic over microseconds, as ping does it.
        const long long n = t.received + t.duplicates;
        const long long average = t.sumUs / n;
        const long long variance = t.sumUs < INT_MAX
                                       ? (t.sumSquaresUs - (t.sumUs * t.sumUs) / n) / n
                                       : t.sumSquaresUs / n - average * average;
        const long long deviation = integerSquareRoot(variance);
        text += format("rtt min/avg/max/mdev = %ld.%03ld/%lld.%03lld/%ld.%03ld/%lld.%03lld ms\n",
                       t.minUs / 1000, t.minUs % 1000, average / 1000, average % 1000,
                       t.maxUs / 1000, t.maxUs % 1000, deviation / 1000, deviation % 1000);
    }
    return text;
}

int runPing(const std::string &host, const InetAddress &address, const PingOptions &options,
            const std::atomic<bool> &stop, const std::function<void(const std::string &)> &print)
{
    using Clock = std::chrono::steady_clock;
    using std::chrono::microseconds;
    auto socket = ProbeSocket::open(address.family);
    if (!socket)
        return 2;
    print(pingHeader(host, address, options.data.size()));

    PingTally tally;
    std::map<uint16_t, Clock::time_point> sent; // by sequence, until answered or wrapped
    std::map<uint16_t, bool> answered;
    const auto start = Clock::now();
    auto nextSend = start;
    Clock::time_point lastSend = start;
    Clock::time_point end = Clock::time_point::max();
    auto more = [&] { return options.count == 0 || tally.transmitted < options.count; };
    for (;;) {
        auto now = Clock::now();
        if (stop.load() || now >= end)
            break;
        if (more() && now >= nextSend) {
            const auto sequence = uint16_t(tally.transmitted + 1);
            sent[sequence] = now;
            answered.erase(sequence);
            ++tally.transmitted;
            lastSend = now;
            if (socket->send(address, options.data, 0, sequence) != 0) {
                ++tally.errors;
                print(format("Cannot send icmp_seq=%u: %s", unsigned(sequence),
                             std::strerror(socket->sendError())));
            }
            nextSend += microseconds(options.intervalUs);
            if (nextSend < now)
                nextSend = now;
            // Replies already in are taken between echoes, however short the interval.
        }
        if (!more()) {
            if (tally.received + tally.errors >= options.count)
                break;
            // After the last echo: twice the slowest round trip (at least one interval) once
            // anything answered, the whole wait otherwise.
            const long waitUs = tally.received ? std::max(2 * tally.maxUs, options.intervalUs)
                                               : options.waitUs;
            end = lastSend + microseconds(waitUs);
        }
        const auto wake = more() ? nextSend : end;
        const long long waitMs = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
        // Short waits so that a stop request is seen soon.
        auto got = socket->receive(int(std::clamp<long long>(waitMs, 0, 100)));
        if (!got)
            continue;
        auto it = sent.find(got->sequence);
        if (it == sent.end())
            continue;
        if (!got->reply) {
            if (got->quotedDestination != address)
                continue;
            ++tally.errors;
            print(pingErrorLine(got->source.text(), got->sequence,
                                pingErrorText(address.family, got->type, got->code, got->mtu)));
            continue;
        }
        if (got->data != options.data)
            continue;
        const long us = long(std::chrono::duration_cast<microseconds>(
                                 std::max(got->arrived - it->second, Clock::duration::zero()))
                                 .count());
        const bool duplicate = answered[got->sequence];
        tally.addRoundTrip(us);
        if (duplicate)
            ++tally.duplicates;
        else
            ++tally.received;
        answered[got->sequence] = true;
        print(pingReplyLine(got->data.size() + 8, got->source.text(), got->sequence, got->hopLimit,
                            us, duplicate));
    }
    const long elapsedMs =
        long(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count() +
             500) /
        1000;
    print(pingSummary(host, tally, elapsedMs));
    return tally.received ? 0 : 1;
}
