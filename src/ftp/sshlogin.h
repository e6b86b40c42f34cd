#pragma once
// The two checks of an SSH connection before any file moves: the server's host key against the
// user's known_hosts, then our login. Used by SftpSession.

#include "sftpsession.h"

#include <libssh/libssh.h>

#include <functional>
#include <string>

// 0 when the key is known, or unknown and trusted by the calling thread's observer (then added
// to known_hosts); else ERROR_INTERNET_INVALID_CA (not trusted) or
// ERROR_INTERNET_SEC_INVALID_CERT (changed: both fingerprints), and refusal says why.
DWORD checkHostKey(ssh_session ssh, const SftpLogin &login, std::string &refusal);

// "SHA256:…" of a key, as ssh-keygen -l shows it.
std::string sshFingerprint(ssh_key key);

struct SshAuthResult {
    bool ok = false;
    std::string message; // what was tried and why it failed, libssh's reason last
};

// The password when one is given, else ssh-agent, then ~/.ssh/id_ed25519, id_ecdsa, id_rsa.
// A key's passphrase is asked through the calling thread's observer; pauseClock(true) runs
// while the user answers.
SshAuthResult authenticate(ssh_session ssh, const SftpLogin &login,
                           const std::function<void(bool)> &pauseClock);
