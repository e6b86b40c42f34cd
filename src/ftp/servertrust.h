#pragma once
// The question put to the user when a server's identity can't be verified: a TLS certificate
// that does not verify, or an SSH host key not in known_hosts. The transports ask through the
// calling thread's FtpCallObserver (its trust member); no answer means no.

#include <functional>
#include <string>

struct ServerIdentity {
    enum class Kind { TlsCertificate, SshHostKey };
    Kind kind = Kind::TlsCertificate;
    std::string hostPort; // "host:port" as the trust store keys it
    std::string reason;   // why it did not verify ("self-signed certificate", "unknown key")
    std::string subject;  // TLS: the certificate's subject, issuer and validity
    std::string issuer;
    std::string validity;    // "notBefore … until notAfter"
    std::string keyType;     // SSH: "ssh-ed25519" …
    std::string fingerprint; // TLS: SHA-256 as "AA:BB:…"; SSH: "SHA256:…" (base64, no padding)
};

// The window's question or the command line's --trust-new; true trusts and remembers the key.
// Called on the thread that runs the connect; it may block while the user decides.
using TrustQuestion = std::function<bool(const ServerIdentity &identity)>;
