#pragma once
#include <chrono>
#include <cstdint>
#include <span>
#include <sys/types.h>

struct msghdr;
struct sockaddr;

// The system calls both echo sockets (IPv4 and ICMPv6) make the same way.
namespace icmpio {

// The identifier the kernel gave a datagram ICMP socket once bound (its "port"); -1 on failure.
int bindIdentifier(int fd, int family);

// The revents of fd once readable within timeoutMs (negative: none), 0 on time-out.
short waitReadable(int fd, int timeoutMs);

// Sends one packet: 0 when it left whole, or the IP status of the refusal.
int32_t sendPacket(int fd, std::span<const uint8_t> packet, const sockaddr *to, unsigned length);

// One recvmsg into buffer with the message name and control data. msg keeps the name and
// control data for reading afterwards; its payload pointer is cleared.
ssize_t receiveMessage(int fd, std::span<uint8_t> buffer, void *name, unsigned nameSize,
                       char *control, size_t controlSize, int flags, msghdr &msg);

// When the kernel took a message in (SO_TIMESTAMPNS), on the steady clock.
std::chrono::steady_clock::time_point arrivalTime(msghdr &msg);

} // namespace icmpio
