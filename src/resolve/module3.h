#pragma once
#include "hostlookup.h"
#include "messagesink.h"
#include "winsock.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// The host-name window's code module: its own socket start-up and clean-up pair and the
// reverse look-up. Plain C++; messages go to a sink so the window shows them in message
// boxes and velmaric-cli prints them.
namespace Module3 {

inline constexpr const char *SocketsFailedText = "Sockets failed to initialize.";
inline constexpr const char *InvalidIPText = "String passed is an invalid IP.";
inline constexpr const char *LookupFailedText = "Call to gethostbyaddr failed.";

// The socket calls the module makes. The default is the real socket layer; tests replace
// single calls to reach failures the platform never reports.
struct SocketLayer {
    std::function<int(uint16_t)> startup = winsock::WSAStartup;
    std::function<int()> cleanup = winsock::WSACleanup;
    std::function<std::optional<winsock::HostEntry>(uint32_t)> hostByAddress =
        winsock::gethostbyaddr;
};

// True when the socket layer started (version 1.1).
bool StartWinsock(const SocketLayer &layer = {});
// Cleans up; a failure shows CleanupFailedText with the exclamation style.
void StopWinsock(const MessageSink &show, const SocketLayer &layer = {});

// The host name registered for a dotted IPv4 address; empty text on every failure, with
// the message for that failure shown first.
std::string IPTextToHostName(const std::string &ipText, const MessageSink &show,
                             const SocketLayer &layer = {});

} // namespace Module3
