#pragma once
// The TLS servers the user chose to trust although their certificates do not verify: one line
// per server in $XDG_CONFIG_HOME/velmaric/known_hosts (default ~/.config/velmaric), "host:port",
// the public key's pin in libcurl's form ("sha256//" and base64) and, for showing, the
// certificate's SHA-256 fingerprint. The file is replaced atomically, never edited in place.

#include <optional>
#include <string>

struct PinnedKey {
    std::string pin;         // "sha256//…"
    std::string fingerprint; // "AA:BB:…", may be empty in a line written by hand
};

// The file's path, taken from the environment when the process started; tests point it at a
// file of their own.
std::string trustedKeysPath();
void setTrustedKeysPath(const std::string &path);
std::optional<PinnedKey> findPinnedKey(const std::string &hostPort);
// Adds the server, or replaces its line; false (errno set) when the file can't be written.
bool savePinnedKey(const std::string &hostPort, const PinnedKey &key);
