#pragma once
// One SFTP connection over libssh: the server's host key checked against the user's own
// ~/.ssh/known_hosts before anything secret is sent, then a login with the password given, else
// with ssh-agent and the user's keys (id_ed25519, id_ecdsa, id_rsa, in that order).
//
// libssh rather than libcurl: Debian 12's libcurl carries SFTP on libssh2 1.10, which signs RSA
// keys with SHA-1 ("ssh-rsa") only, and OpenSSH since 8.8 refuses those signatures. libssh 0.10
// signs with rsa-sha2-256/512.
//
// Every operation runs on the calling thread and returns 0 or an error number of wininet.h;
// after a failure lastReply() holds the text to show (the server's SFTP status, a refused host
// key, an authentication failure, each with libssh's reason). Cancel and the time-outs end a
// call that waits inside libssh by shutting the socket down; the next call connects anew.

#include "ftplisting.h"
#include "wininet.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The server's host key as the user is asked about it.
struct SshHostKey {
    std::string server;      // as known_hosts names it: "host" or "[host]:port"
    std::string type;        // "ssh-ed25519", "ecdsa-sha2-nistp256", "ssh-rsa" …
    std::string fingerprint; // "SHA256:…", as ssh-keygen -l prints it
};

struct SftpLogin {
    std::string host; // name or address, without brackets
    std::uint16_t port = 22;
    std::string user;     // empty: the local user's name
    std::string password; // empty: ssh-agent and the key files
    std::string home;     // the user's home: .ssh/known_hosts and .ssh/id_* below it
    std::string agentSocket; // SSH_AUTH_SOCK; empty: no agent
    // "socks5://host:port", "socks5h://…" or "http://host:port" (CONNECT); empty: direct.
    std::string proxy;
    long connectMs = 30000; // TCP, handshake and authentication together
    long replySeconds = 60; // any other wait on the server
    long stallSeconds = 60; // a transfer moving nothing for this long
    bool trustNew = false;  // an unknown host key is added without a question
};

// What the session may ask its user; a question left empty is answered "no".
struct SftpQuestions {
    // An unknown host key: true trusts it and adds it to ~/.ssh/known_hosts.
    std::function<bool(const SshHostKey &key)> trustHostKey;
    // The passphrase of a key file; false when the user gives none.
    std::function<bool(const std::string &keyFile, std::string &passphrase)> keyPassphrase;
};

struct SftpReply {
    DWORD code = 0; // an SFTP status number; 0 for failures of our own
    std::string text;
};

class SftpSession {
public:
    SftpSession(SftpLogin login, SftpQuestions questions);
    ~SftpSession();
    SftpSession(const SftpSession &) = delete;
    SftpSession &operator=(const SftpSession &) = delete;

    // Cancel and progress of the calls that follow; null for none.
    void setObserver(FtpCallObserver *observer);

    DWORD connect();
    // The account's home, where the server put the login.
    std::string loginDirectory() const;
    // Checks that directory (absolute) is a directory; current is its canonical path.
    DWORD changeDirectory(const std::string &directory, std::string &current);
    // Entries in server order without "." and ".."; symbolic links count as files.
    DWORD list(const std::string &directory, std::vector<FtpListEntry> &entries);
    // SFTP moves bytes as they are: the ascii flag changes nothing.
    DWORD get(const std::string &remote, int fd, bool ascii);
    DWORD put(int fd, std::uint64_t size, const std::string &remote, bool ascii);
    DWORD makeDirectory(const std::string &directory);
    DWORD removeDirectory(const std::string &directory);
    DWORD deleteFile(const std::string &file);
    DWORD rename(const std::string &from, const std::string &to);

    const SftpReply &lastReply() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// Error numbers beyond the FTP ones.
constexpr DWORD ERROR_INTERNET_LOGIN_FAILURE = 12015;     // the SSH login was refused
constexpr DWORD ERROR_INTERNET_SEC_INVALID_CERT = 12169;  // the host key is not trusted
constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157; // the SSH handshake failed
