#pragma once
// One logged-in connection to a server, whatever the transport: the operations the WinINet
// functions need, on absolute remote paths. A transport family (plain and TLS FTP over libcurl,
// SFTP) implements it; makeRemoteSession picks one by the server text's scheme.
//
// Every operation runs on the calling thread, honours the thread's FtpCallObserver (cancel,
// progress, trust questions) and returns 0 or a WinINet error number; after
// ERROR_INTERNET_EXTENDED_ERROR the thread's last reply (FtpThread::setLastReply) holds what the
// server said.

#include "ftplisting.h"
#include "ftpurl.h"
#include "wininet.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct RemoteLogin {
    RemoteServer server;
    std::string user;     // never empty for FTP: "anonymous" stands in for none
    std::string password; // kept in memory only, for the lifetime of the connection
    bool useNetrc = false;
    bool passive = true; // FTP only
    std::string proxy;   // empty: direct; else "http://…", "socks5://…" or "socks5h://…"
    FtpTimeouts timeouts;
    std::string caFile; // TLS: certificate authorities to verify against; empty: the system's
};

class RemoteSession {
public:
    virtual ~RemoteSession() = default;

    // Logs in; afterwards loginDirectory() names the directory the server put the login in.
    virtual DWORD connect() = 0;
    virtual std::string loginDirectory() const = 0;
    // Checks that an absolute directory exists; current is then the server's name for it.
    virtual DWORD changeDirectory(const std::string &directory, std::string &current) = 0;
    // The entries of a directory in server order (without "." and ".."); a listing cut short
    // keeps what arrived before its error.
    virtual DWORD list(const std::string &directory, std::vector<FtpListEntry> &entries) = 0;
    // Writes the remote file to fd (positioned at its start, may be written from the start
    // again when the call repeats itself).
    virtual DWORD get(const std::string &remote, int fd, bool ascii) = 0;
    // Sends size bytes of fd (regular file) to remote.
    virtual DWORD put(int fd, std::uint64_t size, const std::string &remote, bool ascii) = 0;
    virtual DWORD makeDirectory(const std::string &directory) = 0;
    virtual DWORD removeDirectory(const std::string &directory) = 0;
    virtual DWORD deleteFile(const std::string &file) = 0;
    virtual DWORD rename(const std::string &from, const std::string &to) = 0;
};

// The transport for login.server.scheme; null when this build has none for it.
std::unique_ptr<RemoteSession> makeRemoteSession(const RemoteLogin &login);

// The transports, each in files of its own; a further one adds its factory here and its case
// in makeRemoteSession.
std::unique_ptr<RemoteSession> makeCurlFtpSession(const RemoteLogin &login);
std::unique_ptr<RemoteSession> makeSftpSession(const RemoteLogin &login);
