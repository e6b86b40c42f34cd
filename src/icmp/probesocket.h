#pragma once
#include "inetaddress.h"
#include "uniquefd.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class EchoSocket;
struct msghdr;

// Echo requests and their answers for either address family: the IPv4 echo socket, or an
// ICMPv6 socket (datagram where net.ipv4.ping_group_range lets this process open one, raw
// otherwise), behind one interface for the command-line ping and trace report.
class ProbeSocket {
public:
    enum class Kind { Datagram, Raw };

    // Null when neither kind may be opened.
    static std::unique_ptr<ProbeSocket> open(int family);
    ~ProbeSocket();

    int family() const { return m_family; }
    Kind kind() const { return m_kind; }
    uint16_t identifier() const;

    // Sends one echo request; hopLimit 0 keeps the system's default. 0 when it left, or the
    // IP status of the refusal.
    int32_t send(const InetAddress &destination, std::span<const uint8_t> data, int hopLimit,
                 uint16_t sequence);
    // The error number of the last refused send.
    int sendError() const { return m_sendError; }

    // One answer to a request of this socket: an echo reply, or an ICMP error about one.
    struct Received {
        bool reply = false;
        int32_t status = 0; // IP status: 0 for a reply
        uint8_t type = 0;   // of the message's own family
        uint8_t code = 0;
        uint32_t mtu = 0; // "packet too big"
        uint16_t sequence = 0;
        InetAddress source;
        InetAddress quotedDestination; // errors
        int hopLimit = -1;             // TTL or hop limit of a reply; -1 when unknown
        std::vector<uint8_t> data;     // reply data
        std::chrono::steady_clock::time_point arrived;
    };
    // Waits at most timeoutMs for one answer carrying this socket's identifier; empty on
    // time-out and for messages that are not such answers.
    std::optional<Received> receive(int timeoutMs);

private:
    ProbeSocket() = default;
    int32_t sendOnce(const InetAddress &destination, std::span<const uint8_t> data, int hopLimit,
                     uint16_t sequence);
    std::optional<Received> receive6(int timeoutMs);
    std::optional<Received> receiveError6();

    int m_family = 0;
    Kind m_kind = Kind::Raw;
    std::unique_ptr<EchoSocket> m_echo; // IPv4
    UniqueFd m_fd;                      // IPv6
    uint16_t m_identifier = 0;
    int m_hopLimit = 0;
    int m_sendError = 0;
};
