#pragma once
// FTP over libcurl, plain or with TLS (explicit "AUTH TLS" required, or implicit): one easy
// handle in a multi handle of its own per connection.
//
// TLS: the certificate is verified (system CAs or the CA file, host name included), or, for a
// server the user chose to trust, its public key must match the pin kept in trustedkeys. libcurl
// checks either during the handshake, before the login; a certificate that fails is fetched
// on a connection of its own (tlsprobe) to ask the user.
//
// The multi handle keeps the control connection between calls, so the login is made once; a
// call is the multi loop in attempt(), which lets a cancel end it within one poll interval, also
// while libcurl waits for a connection or a reply.
// The class is shared by curlftpsession.cpp (connection, calls, trust) and curlftpcallbacks.cpp
// (libcurl's callbacks and the mapping of its results to error numbers).
#include "ftpreply.h"
#include "remotesession.h"
#include "trustedkeys.h"

#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <sys/socket.h>

namespace CurlFtp {

struct EasyDeleter {
    void operator()(CURL *h) const { curl_easy_cleanup(h); }
};
struct MultiDeleter {
    void operator()(CURLM *m) const { curl_multi_cleanup(m); }
};
struct SlistDeleter {
    void operator()(curl_slist *l) const { curl_slist_free_all(l); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

// A listing longer than this is refused rather than held: a server could send one without end.
// A real directory of 300,000 entries takes some 30 MB.
constexpr std::size_t maxListingBytes = 256u << 20;
constexpr std::size_t maxListingEntries = 2'000'000;

struct Transfer {
    enum Kind { Login, Command, Listing, Get, Put } kind = Command;
    std::string path;       // remote path (absolute)
    bool directory = false; // path names a directory
    std::vector<std::string> quote;
    bool ascii = false;
    bool mlsd = false;
    int localFd = -1;            // Get: the temporary file; Put: the local file
    std::uint64_t localSize = 0; // Put: bytes to send
};

class CurlFtpSession final : public RemoteSession {
public:
    explicit CurlFtpSession(const RemoteLogin &login) : m_login(login) {}
    ~CurlFtpSession() override;

    DWORD connect() override;
    std::string loginDirectory() const override { return m_loginDirectory; }
    DWORD changeDirectory(const std::string &directory, std::string &current) override;
    DWORD list(const std::string &directory, std::vector<FtpListEntry> &entries) override;
    DWORD get(const std::string &remote, int fd, bool ascii) override;
    DWORD put(int fd, std::uint64_t size, const std::string &remote, bool ascii) override;
    DWORD makeDirectory(const std::string &directory) override;
    DWORD removeDirectory(const std::string &directory) override;
    DWORD deleteFile(const std::string &file) override;
    DWORD rename(const std::string &from, const std::string &to) override;

    // libcurl's callbacks.
    static int onDebug(CURL *, curl_infotype type, char *data, size_t size, void *self);
    static int onProgress(void *self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t);
    static size_t onWrite(char *data, size_t size, size_t count, void *self);
    static size_t onRead(char *buffer, size_t size, size_t count, void *self);

private:
    // Listings arrive in TYPE A, which libcurl hands on with every CR turned into a line end,
    // cutting a name with a lone CR in two: the listing is taken as the server sent it, before
    // that conversion.
    void takeListing(const char *data, std::size_t size);
    DWORD command(std::vector<std::string> quote);
    bool controlAlive() const;
    void rememberControl();
    DWORD run(Transfer &t);
    DWORD attempt(Transfer &t, bool &retry);
    void setOptions(CURL *h, const Transfer &t, const std::string &url);
    DWORD errorFor(CURLcode code, bool cancelled) const;
    bool tls() const { return m_login.server.scheme != RemoteScheme::Ftp; }
    // After a certificate did not verify: asks the user (the observer's trust question) and
    // pins the key on Yes. 0 when the login may go again with the pin.
    DWORD askTrust();
    // After a pinned key did not match: the detail with both fingerprints.
    void explainChangedKey(const PinnedKey &trusted);

    RemoteLogin m_login;
    std::string m_pin; // TLS: the trusted key's pin, or empty to verify the certificate
    char m_curlError[CURL_ERROR_SIZE] = "";
    MultiPtr m_multi;
    EasyPtr m_easy;
    std::string m_loginDirectory;
    bool m_mlsd = false;
    bool m_utf8 = false;
    bool m_optsPending = false; // a new control connection has not had OPTS UTF8 ON yet

    // The control connection of the last call: an idle one the server has dropped makes libcurl
    // log in afresh, and OPTS UTF8 ON must go out again.
    int m_controlFd = -1;
    sockaddr_storage m_controlLocal{};
    sockaddr_storage m_controlPeer{};

    // Per call.
    FtpReplyParser m_replies;
    Transfer *m_transfer = nullptr;
    std::string m_listing;
    std::size_t m_listingLines = 0;
    bool m_listingTooLong = false;
    bool m_stalled = false;
    std::uint64_t m_announced = 0; // Get: the size the server's SIZE reply gave, 0 for none
    std::uint64_t m_moved = 0;     // bytes written to or read from the local side
    int m_localErrno = 0;
    bool m_pendingCr = false;
    std::vector<char> m_scratch;
};

} // namespace CurlFtp
