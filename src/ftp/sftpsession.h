#pragma once
// The SFTP transport over libssh: the server's host key checked against the user's own
// ~/.ssh/known_hosts before anything secret is sent, then a login with the password given, else
// with ssh-agent and the user's keys (id_ed25519, id_ecdsa, id_rsa, in that order).
//
// libssh rather than libcurl: Debian 12's libcurl carries SFTP on libssh2 1.10, which signs RSA
// keys with SHA-1 ("ssh-rsa") only, and OpenSSH since 8.8 refuses those signatures. libssh 0.10
// signs with rsa-sha2-256/512.
//
// An unknown host key is put to the calling thread's observer (its trust question; none means
// no) and added to known_hosts when trusted; a changed one is always refused. Failures leave
// our sentence and libssh's reason in FtpLastErrorDetail, an SFTP status refusal the status
// number and text in the last reply (12003). Cancel and the time-outs end a call that waits
// inside libssh by shutting the socket down; the next call connects anew.

#include "remotesession.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Where the user's SSH files are: ~/.ssh/known_hosts, ~/.ssh/id_*, and the agent's socket.
// Read from HOME and SSH_AUTH_SOCK once as the process starts; tests set their own.
struct SshUserFiles {
    std::string home;
    std::string agentSocket; // empty: no agent
};
SshUserFiles SftpGetUserFiles();
void SftpSetUserFiles(const SshUserFiles &files);

struct SftpLogin {
    std::string host; // name or address, without brackets
    std::uint16_t port = 22;
    std::string user;     // empty: the local user's name
    std::string password; // empty: ssh-agent and the key files
    SshUserFiles files;
    // "socks5://host:port", "socks5h://…" or "http://host:port" (CONNECT); empty: direct.
    std::string proxy;
    FtpTimeouts timeouts;
};

class SftpSession final : public RemoteSession {
public:
    explicit SftpSession(SftpLogin login);
    ~SftpSession() override;
    SftpSession(const SftpSession &) = delete;
    SftpSession &operator=(const SftpSession &) = delete;

    DWORD connect() override;
    // The account's home, where the server put the login.
    std::string loginDirectory() const override;
    DWORD changeDirectory(const std::string &directory, std::string &current) override;
    // Symbolic links count as files, as in an FTP listing.
    DWORD list(const std::string &directory, std::vector<FtpListEntry> &entries) override;
    // SFTP moves bytes as they are: the ascii flag changes nothing.
    DWORD get(const std::string &remote, int fd, bool ascii) override;
    DWORD put(int fd, std::uint64_t size, const std::string &remote, bool ascii) override;
    DWORD makeDirectory(const std::string &directory) override;
    DWORD removeDirectory(const std::string &directory) override;
    DWORD deleteFile(const std::string &file) override;
    DWORD rename(const std::string &from, const std::string &to) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
