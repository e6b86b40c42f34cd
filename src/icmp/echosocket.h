#pragma once
#include "icmppacket.h"
#include "uniquefd.h"

#include <chrono>
#include <cstdint>
#include <sys/types.h>
#include <memory>
#include <optional>
#include <span>
#include <vector>

// One ICMP socket for echo requests: a datagram ICMP socket where net.ipv4.ping_group_range
// lets this process open one, otherwise a raw ICMP socket (root or cap_net_raw).
struct msghdr;
struct sockaddr_in;

class EchoSocket {
public:
    enum class Kind { Datagram, Raw };

    // The datagram kind first, then the raw kind; null when neither may be opened.
    static std::unique_ptr<EchoSocket> open();
    static std::unique_ptr<EchoSocket> open(Kind kind);

    Kind kind() const { return m_kind; }
    uint16_t identifier() const { return m_identifier; }
    uint16_t nextSequence() { return ++m_sequence; }
    // The next request carries last + 1 (wrapping to 0 after 65535).
    void setLastSequence(uint16_t last) { m_sequence = last; }

    // Sends one echo request. ttl 0 keeps the system's default. Returns 0 when it left, or
    // the status for a request the system refused (no route, too big ...).
    int32_t send(uint32_t destination, std::span<const uint8_t> data, int ttl, uint16_t sequence);

    // Waits at most timeoutMs for one ICMP message and returns it; empty on time-out.
    // Messages that parse to nothing are skipped without waiting further.
    struct Received {
        icmp::Message message;
        std::vector<uint8_t> bytes; // message.data points in here
        // When the kernel took the message in, so that round trips do not grow while the
        // caller was busy elsewhere.
        std::chrono::steady_clock::time_point arrived;
    };
    std::optional<Received> receive(int timeoutMs);

    // The status for a send error number (ENETUNREACH ...).
    static int32_t statusForErrno(int error);

private:
    EchoSocket(int fd, Kind kind);
    std::optional<Received> receiveError();
    // One recvmsg into r.bytes with the message name and control data; stamps r.arrived.
    ssize_t receiveMessage(Received &r, sockaddr_in &name, char *control, size_t controlSize,
                           int flags, msghdr &msg);

    UniqueFd m_fd;
    Kind m_kind;
    uint16_t m_identifier = 0;
    uint16_t m_sequence = 0;
    int m_ttl = 0;
};
