#include "sshlogin.h"

#include "ftpthread.h"

#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include <sys/stat.h>

namespace {

struct KeyDeleter {
    void operator()(ssh_key k) const { ssh_key_free(k); }
};
using KeyPtr = std::unique_ptr<std::remove_pointer_t<ssh_key>, KeyDeleter>;

std::string knownHostsName(const SftpLogin &login)
{
    return login.port == 22 ? login.host : "[" + login.host + "]:" + std::to_string(login.port);
}

std::string reason(ssh_session ssh)
{
    const char *e = ssh_get_error(ssh);
    return e && *e ? std::string(".\nlibssh: ") + e : std::string(".");
}

// Answers a password prompt of keyboard-interactive login, as servers using PAM ask for it.
int keyboardInteractive(ssh_session ssh, const std::string &password)
{
    int rc = ssh_userauth_kbdint(ssh, nullptr, nullptr);
    for (int round = 0; rc == SSH_AUTH_INFO && round < 8; ++round) {
        const int prompts = ssh_userauth_kbdint_getnprompts(ssh);
        for (int i = 0; i < prompts; ++i) {
            char echo = 0;
            ssh_userauth_kbdint_getprompt(ssh, unsigned(i), &echo);
            ssh_userauth_kbdint_setanswer(ssh, unsigned(i), echo ? "" : password.c_str());
        }
        rc = ssh_userauth_kbdint(ssh, nullptr, nullptr);
    }
    return rc;
}

struct PassphraseAsk {
    FtpCallObserver *observer;
    const std::function<void(bool)> *pauseClock;
    std::string file;
    bool asked = false;
    bool given = false;
};

int passphraseCallback(const char *, char *buffer, size_t length, int, int, void *user)
{
    auto *ask = static_cast<PassphraseAsk *>(user);
    ask->asked = true;
    if (!ask->observer || !ask->observer->passphrase || ask->given) // one answer per key
        return -1;
    (*ask->pauseClock)(true);
    std::string passphrase;
    const bool answered = ask->observer->passphrase(ask->file, passphrase);
    (*ask->pauseClock)(false);
    const bool fits = answered && passphrase.size() < length;
    if (fits) {
        std::memcpy(buffer, passphrase.c_str(), passphrase.size() + 1);
        ask->given = true;
    }
    std::fill(passphrase.begin(), passphrase.end(), '\0');
    return fits ? 0 : -1;
}

// The key known_hosts holds for server, that of the given type first: "type SHA256:…".
std::string recordedKey(const std::string &file, const std::string &server, const std::string &type)
{
    std::ifstream in(file);
    std::string line, found = "a key of another type";
    bool any = false;
    while (std::getline(in, line)) {
        ssh_knownhosts_entry *entry = nullptr;
        if (ssh_known_hosts_parse_line(server.c_str(), line.c_str(), &entry) == SSH_OK && entry &&
            entry->publickey) {
            const std::string entryType = ssh_key_type_to_char(ssh_key_type(entry->publickey));
            if (!any || entryType == type)
                found = entryType + " " + sshFingerprint(entry->publickey);
            any = true;
            if (entryType == type) {
                ssh_knownhosts_entry_free(entry);
                break;
            }
        }
        ssh_knownhosts_entry_free(entry);
    }
    return found;
}

} // namespace

std::string sshFingerprint(ssh_key key)
{
    unsigned char *hash = nullptr;
    size_t length = 0;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != SSH_OK)
        return "(no fingerprint)";
    char *text = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length);
    ssh_clean_pubkey_hash(&hash);
    std::string result = text ? text : "(no fingerprint)";
    ssh_string_free_char(text);
    return result;
}

DWORD checkHostKey(ssh_session ssh, const SftpLogin &login, std::string &refusal)
{
    const std::string server = knownHostsName(login);
    ssh_key raw = nullptr;
    if (ssh_get_server_publickey(ssh, &raw) != SSH_OK) {
        refusal = "The server " + server + " showed no host key" + reason(ssh);
        return ERROR_INTERNET_INVALID_CA;
    }
    const KeyPtr key(raw);
    ServerIdentity shown;
    shown.kind = ServerIdentity::Kind::SshHostKey;
    shown.hostPort = (login.host.find(':') != std::string::npos ? "[" + login.host + "]"
                                                                : login.host) +
                     ":" + std::to_string(login.port);
    shown.reason = "not in ~/.ssh/known_hosts";
    shown.keyType = ssh_key_type_to_char(ssh_key_type(key.get()));
    shown.fingerprint = sshFingerprint(key.get());
    const std::string knownHosts = "~/.ssh/known_hosts";
    switch (ssh_session_is_known_server(ssh)) {
    case SSH_KNOWN_HOSTS_OK: return ERROR_SUCCESS;
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER: {
        const std::string was = recordedKey(login.files.home + "/.ssh/known_hosts", server,
                                            shown.keyType);
        refusal = "The SSH host key of " + server + " has CHANGED. " + knownHosts + " holds " +
                  was + ", the server now shows " + shown.keyType + " " + shown.fingerprint +
                  ". The connection is refused: someone may be intercepting it. If the "
                  "server's key was replaced on purpose, remove the old one with "
                  "ssh-keygen -R '" +
                  server + "'.";
        return ERROR_INTERNET_SEC_INVALID_CERT;
    }
    case SSH_KNOWN_HOSTS_UNKNOWN:
    case SSH_KNOWN_HOSTS_NOT_FOUND: // no known_hosts file: nothing is known yet
        break;
    default:
        refusal = "The SSH host key of " + server + " could not be checked against " + knownHosts +
                  reason(ssh);
        return ERROR_INTERNET_INVALID_CA;
    }
    FtpCallObserver *observer = FtpThread::observer();
    if (!observer || !observer->trust || !observer->trust(shown)) {
        refusal = "The SSH host key of " + server + " is not known: " + shown.keyType + " " +
                  shown.fingerprint + " is not in " + knownHosts + ". The connection is refused.";
        return ERROR_INTERNET_INVALID_CA;
    }
    if (ssh_session_update_known_hosts(ssh) != SSH_OK) {
        refusal = "The SSH host key of " + server + " could not be added to " + knownHosts +
                  reason(ssh);
        return ERROR_INTERNET_INVALID_CA;
    }
    return ERROR_SUCCESS;
}

SshAuthResult authenticate(ssh_session ssh, const SftpLogin &login,
                           const std::function<void(bool)> &pauseClock)
{
    SshAuthResult result;
    char *user = nullptr;
    ssh_options_get(ssh, SSH_OPTIONS_USER, &user);
    const std::string who = std::string(user ? user : "?") + " at " + knownHostsName(login);
    ssh_string_free_char(user);

    int rc = ssh_userauth_none(ssh, nullptr);
    if (rc == SSH_AUTH_SUCCESS)
        return result.ok = true, result;
    const int methods = ssh_userauth_list(ssh, nullptr);
    const auto failed = [&](const std::string &why) {
        result.message = "SSH login as " + who + " failed: " + why + reason(ssh);
        return result;
    };
    if (rc == SSH_AUTH_ERROR)
        return failed("the server ended the login");

    if (!login.password.empty()) {
        if (methods & SSH_AUTH_METHOD_PASSWORD)
            rc = ssh_userauth_password(ssh, nullptr, login.password.c_str());
        else if (methods & SSH_AUTH_METHOD_INTERACTIVE)
            rc = keyboardInteractive(ssh, login.password);
        else
            return failed("the server takes no password, only keys");
        if (rc == SSH_AUTH_SUCCESS)
            return result.ok = true, result;
        return failed("the server refused the user name or password");
    }
    if (!(methods & SSH_AUTH_METHOD_PUBLICKEY))
        return failed("no password given, and the server takes no keys");

    std::vector<std::string> tried;
    if (!login.files.agentSocket.empty()) {
        ssh_options_set(ssh, SSH_OPTIONS_IDENTITY_AGENT, login.files.agentSocket.c_str());
        if (ssh_userauth_agent(ssh, nullptr) == SSH_AUTH_SUCCESS)
            return result.ok = true, result;
        tried.push_back("ssh-agent");
    }
    for (const char *name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
        const std::string file = login.files.home + "/.ssh/" + name;
        const std::string shown = std::string("~/.ssh/") + name;
        struct stat st;
        if (::stat(file.c_str(), &st) != 0)
            continue;
        // Ask the server about the public half first: no passphrase is asked for a key it
        // would refuse anyway.
        ssh_key pub = nullptr;
        if (ssh_pki_import_pubkey_file((file + ".pub").c_str(), &pub) == SSH_OK) {
            const KeyPtr owned(pub);
            if (ssh_userauth_try_publickey(ssh, nullptr, pub) != SSH_AUTH_SUCCESS) {
                tried.push_back(shown + " (not accepted)");
                continue;
            }
        }
        FtpCallObserver *observer = FtpThread::observer();
        PassphraseAsk ask{observer, &pauseClock, file};
        ssh_key priv = nullptr;
        if (ssh_pki_import_privkey_file(file.c_str(), nullptr, passphraseCallback, &ask, &priv) !=
            SSH_OK) {
            tried.push_back(shown + (!ask.asked ? " (unreadable)"
                                     : !(observer && observer->passphrase)
                                         ? " (has a passphrase; none is asked "
                                           "for here, use ssh-agent)"
                                     : ask.given ? " (wrong passphrase)"
                                                 : " (no passphrase given)"));
            continue;
        }
        const KeyPtr owned(priv);
        if (ssh_userauth_publickey(ssh, nullptr, priv) == SSH_AUTH_SUCCESS)
            return result.ok = true, result;
        tried.push_back(shown + " (not accepted)");
        if (!ssh_is_connected(ssh))
            break;
    }
    if (tried.empty())
        return failed("no password given, no ssh-agent, and no key in ~/.ssh (id_ed25519, "
                      "id_ecdsa, id_rsa)");
    std::string list;
    for (const auto &t : tried)
        list += (list.empty() ? "" : ", ") + t;
    return failed("no password given; tried " + list);
}
