#pragma once
// The WinINet FTP functions the FTP window calls, realised over libcurl.
//
// Texts are NUL-terminated UTF-8. A null pointer counts as an empty text, except the password
// of InternetConnectA (see there). After a failed call GetLastError() of the calling thread
// holds one of the error numbers below; after 12003 InternetGetLastResponseInfoA yields the
// server's reply.
//
// One connection handle is used by one thread at a time; different handles may be used on
// different threads. Calls that wait on the network (connect, listings, transfers, directory
// changes) honour the FtpCallObserver installed on the calling thread.
//
// Time-outs, in seconds, read from the environment once as the process starts (FtpSetTimeouts
// replaces them; InternetConnectA takes the values in force for its connection):
//   VELMARIC_FTP_CONNECT_TIMEOUT  connecting, login included          (default 30)
//   VELMARIC_FTP_REPLY_TIMEOUT    waiting for any server reply          (default 60)
//   VELMARIC_FTP_STALL_TIMEOUT    a transfer moving no byte for so long (default 60)
// All take fractions ("0.5"); the reply time-out is rounded up to whole seconds.

#include "servertrust.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

using HINTERNET = std::uint32_t; // 0 = none
using DWORD = std::uint32_t;

constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;
constexpr DWORD INTERNET_SERVICE_FTP = 1;
constexpr std::uint16_t INTERNET_DEFAULT_FTP_PORT = 21;
constexpr DWORD INTERNET_FLAG_PASSIVE = 0x08000000;
constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
constexpr DWORD FTP_TRANSFER_TYPE_ASCII = 1;
constexpr DWORD FTP_TRANSFER_TYPE_BINARY = 2;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 16;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 128;

// Error numbers (GetLastError).
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2; // a local file to send is missing
constexpr DWORD ERROR_PATH_NOT_FOUND = 3; // the local folder of a Get is missing
constexpr DWORD ERROR_ACCESS_DENIED = 5;  // a local file can't be read or written
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8; // a listing too long to hold (FtpLastErrorDetail)
constexpr DWORD ERROR_NO_MORE_FILES = 18;    // a listing has no (more) entries
constexpr DWORD ERROR_FILE_EXISTS = 80;      // FtpGetFileA with fail-if-exists
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123; // a remote name FTP can't carry (control characters)
constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_EXTENDED_ERROR = 12003; // the server answered with an error reply
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006; // a server text's prefix names none
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_LOGIN_FAILURE = 12015; // SSH: no way to log in was accepted
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030; // the connection was lost
constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;         // a certificate or host key not trusted
constexpr DWORD ERROR_INTERNET_SECURITY_CHANNEL_ERROR = 12157; // the TLS or SSH handshake failed
constexpr DWORD ERROR_INTERNET_SEC_INVALID_CERT = 12169;       // a trusted server's key has changed

// The find record. cFileName is the whole name (never cut at 260 characters), UTF-8.
struct WIN32_FIND_DATA {
    DWORD dwFileAttributes = 0;  // FILE_ATTRIBUTE_DIRECTORY or FILE_ATTRIBUTE_NORMAL
    std::uint64_t nFileSize = 0; // 0 when the listing gives no size
    std::string cFileName;
};

struct FtpTimeouts {
    double connectSeconds = 30;
    double replySeconds = 60;
    double stallSeconds = 60;
};
FtpTimeouts FtpGetTimeouts();
void FtpSetTimeouts(const FtpTimeouts &timeouts);

// TLS certificates are verified against the system's certificate authorities, or against those
// in this PEM file (empty or null: the system's again), for the connections made afterwards.
void FtpSetCertificateAuthorities(const char *file);
std::string FtpCertificateAuthorities();

// agent is informational; accessType INTERNET_OPEN_TYPE_DIRECT ignores proxy, PROXY takes
// "host:port" or "http://host:port" (HTTP CONNECT tunnel for control and data) or
// "socks5://host:port". Environment proxies (ftp_proxy, all_proxy) are never used.
HINTERNET InternetOpenA(const char *agent, DWORD accessType, const char *proxy,
                        const char *proxyBypass, DWORD flags);

// Logs in at once; 0 with the last error set when that fails (a refused login: 12003 and the
// server's 530 reply). server is "host", "host:port", "[v6]:port" or a bare IPv6 address, with
// an optional prefix naming the transport ("ftp://"; others: see ftpurl.h; an unknown one gives
// ERROR_INTERNET_UNRECOGNIZED_SCHEME); port 0 means the transport's default port (21 for FTP)
// unless the server text names one. flags: INTERNET_FLAG_PASSIVE (EPSV, then
// PASV) or 0 (active, EPRT/PORT). An empty user logs in anonymously. A null password takes
// the user's password for the host from ~/.netrc.
HINTERNET InternetConnectA(HINTERNET hInternet, const char *server, std::uint16_t port,
                           const char *user, const char *password, DWORD service, DWORD flags,
                           std::uintptr_t context);

// Absolute ("/pub") or relative to the current directory; the server checks it (CWD).
bool FtpSetCurrentDirectoryA(HINTERNET hConnect, const char *directory);
// The current directory as the server names it; empty for a bad handle.
std::string FtpCurrentDirectory(HINTERNET hConnect);
// The directory the server put the login in (its PWD reply after login).
std::string FtpLoginDirectory(HINTERNET hConnect);

// Lists the current directory for the pattern "*.*", "*" or empty, else the directory the
// pattern names (relative to the current one, or absolute); no other wildcards. Entries keep
// the server's order; the directory itself and its parent (MLSD cdir/pdir, LIST "." and "..")
// are not entries. No entry: 0 and ERROR_NO_MORE_FILES.
HINTERNET FtpFindFirstFileA(HINTERNET hConnect, const char *pattern, WIN32_FIND_DATA *findData,
                            DWORD flags, std::uintptr_t context);
bool InternetFindNextFileA(HINTERNET hFind, WIN32_FIND_DATA *findData);

// remoteFile is relative to the current directory (or absolute). The file arrives in a
// temporary file beside newFile that replaces newFile only when the transfer completed: a
// failed or cancelled Get leaves newFile as it was and nothing else behind.
bool FtpGetFileA(HINTERNET hConnect, const char *remoteFile, const char *newFile, bool failIfExists,
                 DWORD flagsAndAttributes, DWORD flags, std::uintptr_t context);
bool FtpPutFileA(HINTERNET hConnect, const char *localFile, const char *newRemoteFile, DWORD flags,
                 std::uintptr_t context);

// Directories and files named relative to the current directory (or absolute); the server
// checks them (MKD, RMD, DELE, RNFR/RNTO).
bool FtpCreateDirectoryA(HINTERNET hConnect, const char *directory);
bool FtpRemoveDirectoryA(HINTERNET hConnect, const char *directory);
bool FtpDeleteFileA(HINTERNET hConnect, const char *fileName);
bool FtpRenameFileA(HINTERNET hConnect, const char *existing, const char *newName);

// The calling thread's last server reply: *error its number (e.g. 530), the text the reply's
// lines as sent (a multi-line reply whole), CR LF between lines, no trailing line end.
// *bufferLength in: the buffer's size; out: the text's length. A null or too small buffer
// gives false, ERROR_INSUFFICIENT_BUFFER and the length needed (without the NUL).
bool InternetGetLastResponseInfoA(DWORD *error, char *buffer, DWORD *bufferLength);

bool InternetCloseHandle(HINTERNET hInternet);

DWORD GetLastError();
void SetLastError(DWORD error);

// Watches the calls made on the thread that installed it (FtpObserverScope). cancelled may be
// set from any thread: the running call (also one waiting for a connection or a reply) then
// fails within a fraction of a second with ERROR_INTERNET_OPERATION_CANCELLED. progress is
// called on the calling thread during transfers and listings; total is 0 when unknown. trust
// is asked, on the calling thread, whether to trust a server that could not be verified;
// without it such a server is refused (ERROR_INTERNET_INVALID_CA). passphrase is asked, on the
// calling thread, for an SSH key file that has one; false (or none asked) skips the key.
struct FtpCallObserver {
    std::atomic<bool> cancelled{false};
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
    TrustQuestion trust;
    std::function<bool(const std::string &keyFile, std::string &passphrase)> passphrase;
};

class FtpObserverScope {
public:
    explicit FtpObserverScope(FtpCallObserver &observer);
    ~FtpObserverScope();
    FtpObserverScope(const FtpObserverScope &) = delete;
    FtpObserverScope &operator=(const FtpObserverScope &) = delete;

private:
    FtpCallObserver *m_previous;
};

// The calling thread's last error and last server reply, to hand them from a worker thread to
// the thread that reports them.
struct FtpLastError {
    DWORD error = 0;
    DWORD responseNumber = 0;
    std::string responseText;
    std::string detail;
};

// What the calling thread's last error number alone does not say (a refused certificate or
// host key, a failed handshake or SSH login, a listing cut off): a sentence for the user, then
// the underlying library's reason on a line of its own. Empty when there is nothing to add.
std::string FtpLastErrorDetail();
FtpLastError FtpSaveLastError();
void FtpRestoreLastError(const FtpLastError &saved);
