#pragma once
#include "hostlookup.h"
#include "messagesink.h"
#include "winsock.h"

#include <string>

// The host-name window's code module: its own socket start-up and clean-up pair and the
// reverse look-up. Plain C++; messages go to a sink so the window shows them in message
// boxes and velmaric-cli prints them.
namespace Module3 {

inline constexpr const char *SocketsFailedText = "Sockets failed to initialize.";
inline constexpr const char *InvalidIPText = "String passed is an invalid IP.";
inline constexpr const char *LookupFailedText = "Call to gethostbyaddr failed.";

// True when the socket layer started (version 1.1).
bool StartWinsock();
// Cleans up; a failure shows CleanupFailedText with the exclamation style.
void StopWinsock(const MessageSink &show);

// The host name registered for a dotted IPv4 address; empty text on every failure, with
// the message for that failure shown first.
std::string IPTextToHostName(const std::string &ipText, const MessageSink &show);

} // namespace Module3
