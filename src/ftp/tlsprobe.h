#pragma once
// Fetches a server's TLS certificate on a connection of its own that carries nothing but the
// TLS handshake (after "AUTH TLS" for explicit TLS): no user name, no password. Used to show a
// certificate that did not verify, or a pinned server's new one.

#include "remotesession.h"
#include "servertrust.h"

// 0 with identity (reason, subject, issuer, validity, SHA-256 fingerprint) and pin (the public
// key in libcurl's "sha256//…" form) filled, else a WinINet error number (12003 when the server
// refuses AUTH TLS, its reply then the thread's last).
DWORD probeServerCertificate(const RemoteLogin &login, ServerIdentity &identity, std::string &pin);
