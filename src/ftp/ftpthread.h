#pragma once
// The calling thread's state behind GetLastError, InternetGetLastResponseInfoA and the observer
// scope: what the transports read and set. Not part of the public functions.

#include "ftpreply.h"
#include "wininet.h"

namespace FtpThread {

// Sets the last error; false, so that "return fail(e);" reads as the failure it is.
bool fail(DWORD error);
void succeed();
const FtpReply &lastReply();
void setLastReply(FtpReply reply);
// Sets the detail FtpLastErrorDetail returns; every public call starts with none.
void setDetail(std::string detail);
// The observer installed on this thread, or null.
FtpCallObserver *observer();
bool cancelled();

} // namespace FtpThread

// ENOENT → 3, ENOSPC → 112, anything else → 5.
DWORD errnoToError(int err);
