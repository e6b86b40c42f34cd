#pragma once
// The two checks of an SSH connection before any file moves: the server's host key against the
// user's known_hosts, then our login. Used by SftpSession.

#include "sftpsession.h"

#include <libssh/libssh.h>

#include <functional>
#include <string>

// 0 when the key is known (or newly trusted and added); else ERROR_INTERNET_SEC_INVALID_CERT
// with reply.text saying why: unknown and not trusted, or changed (both fingerprints).
DWORD checkHostKey(ssh_session ssh, const SftpLogin &login, const SftpQuestions &questions,
                   SftpReply &reply);

// "SHA256:…" of a key, as ssh-keygen -l shows it.
std::string sshFingerprint(ssh_key key);

struct SshAuthResult {
    bool ok = false;
    std::string message; // what was tried and why it failed, libssh's reason last
};

// The password when one is given, else ssh-agent, then ~/.ssh/id_ed25519, id_ecdsa, id_rsa.
// pauseClock(true) runs while the user is asked for a passphrase.
SshAuthResult authenticate(ssh_session ssh, const SftpLogin &login, const SftpQuestions &questions,
                           const std::function<void(bool)> &pauseClock);
