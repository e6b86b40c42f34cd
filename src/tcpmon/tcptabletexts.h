#pragma once
#include <QString>

#include <cstdint>

// The text functions of the TCP table window.

// A copy of a NUL-terminated ANSI text in platform storage, made at once.
QString GetStrFromPtrA(const char *lpszA);
// The dotted text of an IPv4 address in network byte order, through inet_ntoa.
QString GetInetStrFromPtr(uint32_t Address);
// The "State Description" text of a state code; empty outside the table.
QString TcpStateDescription(uint32_t code);
