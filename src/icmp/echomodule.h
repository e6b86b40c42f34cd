#pragma once
#include "icmpapi.h"
#include "messagesink.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The echo request shared by the ping and trace-route windows, the status texts and the
// per-module socket start-up pairs. Plain C++: messages go to a sink, which the windows
// turn into message boxes and velmaric-cli prints.

// The reply record the ping hands to the echo service: the reply header and 250 data bytes.
#pragma pack(push, 1)
struct EchoReplyRecord {
    ICMP_ECHO_REPLY Reply{};
    char Data[250]{};
};
#pragma pack(pop)
static_assert(sizeof(EchoReplyRecord) == 278, "the ping's reply record is 278 bytes");

// "<code>   [ <text> ]" for a signed status code.
std::string EchoStatusText(int32_t status);

// One echo to a dotted address carrying text, 500 ms time-out. -1 for text inet_addr
// rejects; 0 with nothing sent when no echo handle opens (handleOpened tells the two
// successes apart); otherwise the reply's Status.
int32_t SendEcho(const std::string &address, const std::string &text, EchoReplyRecord &record,
                 bool *handleOpened = nullptr);

// The six result texts of the ping window, in index order. data is empty when the
// record's data area starts with NUL: the box then keeps its text.
struct PingFieldTexts {
    std::string status;
    std::string address;
    std::string roundTripTime;
    std::string dataSize;
    std::optional<std::string> data;
    std::string dataPointer;
};
PingFieldTexts pingFieldTexts(int32_t status, const EchoReplyRecord &record);

// Shown instead of a meaningless "ip success" when no echo handle can be opened.
inline constexpr const char *EchoNotPermittedText =
    "ICMP echo is not permitted for this user: no ICMP socket could be opened.\n"
    "To allow it, let the user's group open ICMP datagram sockets with the sysctl "
    "net.ipv4.ping_group_range (for example: sysctl -w net.ipv4.ping_group_range=\"0 "
    "2147483647\"), or give the program the cap_net_raw capability "
    "(setcap cap_net_raw+ep <program>).";

// The ping window's module.
namespace Module1 {
inline constexpr const char *StartFailedText = "Windows Sockets for 32 bit Windows "
                                               "environments is not successfully responding.";
bool StartWinsock();
void StopWinsock(const MessageSink &show);
} // namespace Module1

// The trace-route window's module.
namespace Module2 {
inline constexpr const char *MessageTitle = "Orvane TraceRT Demo";
inline constexpr const char *StartFailedText = "Unable to initialize the Windows Sockets";
inline constexpr const char *NoHandleText = "Unable to Open an Icmp File Handle";
inline constexpr const char *CleanupFailedText = "Windows Sockets error occurred during Cleanup.";
bool StartWinsock();
void StopWinsock(const MessageSink &show);
} // namespace Module2
