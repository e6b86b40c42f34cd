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
#include "ftpthread.h"
#include "remotesession.h"
#include "tlsprobe.h"
#include "trustedkeys.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

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

void initCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

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

bool sameAddress(const sockaddr_storage &a, const sockaddr_storage &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

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

CurlFtpSession::~CurlFtpSession()
{
    // Closing says QUIT and waits for the reply with the time-outs of the handle added last; a
    // server that no longer answers must not hold the caller for a minute.
    if (m_multi && m_easy) {
        curl_easy_setopt(m_easy.get(), CURLOPT_SERVER_RESPONSE_TIMEOUT, 2L);
        curl_easy_setopt(m_easy.get(), CURLOPT_TIMEOUT_MS, 2000L);
        curl_multi_add_handle(m_multi.get(), m_easy.get());
        curl_multi_remove_handle(m_multi.get(), m_easy.get());
    }
}

bool CurlFtpSession::controlAlive() const
{
    if (m_controlFd < 0)
        return false;
    sockaddr_storage local{}, peer{};
    socklen_t n = sizeof local, m = sizeof peer;
    if (::getsockname(m_controlFd, reinterpret_cast<sockaddr *>(&local), &n) != 0 ||
        ::getpeername(m_controlFd, reinterpret_cast<sockaddr *>(&peer), &m) != 0 ||
        !sameAddress(local, m_controlLocal) || !sameAddress(peer, m_controlPeer))
        return false;
    char byte;
    const ssize_t r = ::recv(m_controlFd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return r > 0 || (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

void CurlFtpSession::rememberControl()
{
    curl_socket_t fd = CURL_SOCKET_BAD;
    m_controlFd = -1;
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_ACTIVESOCKET, &fd) != CURLE_OK ||
        fd == CURL_SOCKET_BAD)
        return;
    socklen_t n = sizeof m_controlLocal, m = sizeof m_controlPeer;
    m_controlLocal = {};
    m_controlPeer = {};
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&m_controlLocal), &n) == 0 &&
        ::getpeername(fd, reinterpret_cast<sockaddr *>(&m_controlPeer), &m) == 0)
        m_controlFd = fd;
}

int CurlFtpSession::onDebug(CURL *, curl_infotype type, char *data, size_t size, void *self)
{
    // Only what the server sent: outgoing lines (USER, PASS …) are never looked at.
    auto *c = static_cast<CurlFtpSession *>(self);
    if (type == CURLINFO_HEADER_IN)
        c->m_replies.feed({data, size});
    else if (type == CURLINFO_DATA_IN && c->m_transfer && c->m_transfer->kind == Transfer::Listing)
        c->takeListing(data, size);
    return 0;
}

int CurlFtpSession::onProgress(void *self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t,
                               curl_off_t)
{
    auto *c = static_cast<CurlFtpSession *>(self);
    FtpCallObserver *o = FtpThread::observer();
    if (!o)
        return 0;
    if (o->cancelled.load())
        return 1;
    if (o->progress && c->m_transfer) {
        switch (c->m_transfer->kind) {
        case Transfer::Get: {
            // The size announced is a hint: the file may have grown since.
            const auto done = std::uint64_t(dlnow);
            o->progress(done,
                        c->m_announced ? std::max(c->m_announced, done) : std::uint64_t(dltotal));
            break;
        }
        case Transfer::Put: o->progress(c->m_moved, c->m_transfer->localSize); break;
        case Transfer::Listing: o->progress(std::uint64_t(dlnow), 0); break;
        default: break;
        }
    }
    return 0;
}

size_t CurlFtpSession::onWrite(char *data, size_t size, size_t count, void *self)
{
    auto *c = static_cast<CurlFtpSession *>(self);
    const size_t bytes = size * count;
    if (c->m_transfer->kind == Transfer::Listing) // kept as it came, by onDebug
        return c->m_listingTooLong ? 0 : bytes;
    size_t done = 0;
    while (done < bytes) {
        const ssize_t w = ::write(c->m_transfer->localFd, data + done, bytes - done);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            c->m_localErrno = errno;
            return 0;
        }
        done += size_t(w);
    }
    c->m_moved += bytes;
    return bytes;
}

void CurlFtpSession::takeListing(const char *data, std::size_t size)
{
    if (m_listingTooLong)
        return;
    m_listingLines += std::size_t(std::count(data, data + size, '\n'));
    if (m_listing.size() + size > maxListingBytes || m_listingLines > maxListingEntries) {
        m_listingTooLong = true;
        m_listing.clear();
        m_listing.shrink_to_fit();
        return;
    }
    m_listing.append(data, size);
}

// ASCII sends: libcurl turns every LF into CR LF by itself, so a CR LF already in the file is
// handed over as LF to come out once, not as CR CR LF.
size_t CurlFtpSession::onRead(char *buffer, size_t size, size_t count, void *self)
{
    auto *c = static_cast<CurlFtpSession *>(self);
    const size_t room = size * count;
    const bool ascii = c->m_transfer->ascii;
    char *in = buffer;
    size_t want = room;
    if (ascii) {
        if (room < 2)
            return 0;
        c->m_scratch.resize(room - 1);
        in = c->m_scratch.data();
        want = room - 1; // one byte kept for a CR held back from the last read
    }
    ssize_t r;
    do
        r = ::read(c->m_transfer->localFd, in, want);
    while (r < 0 && errno == EINTR);
    if (r < 0) {
        c->m_localErrno = errno;
        return CURL_READFUNC_ABORT;
    }
    c->m_moved += std::uint64_t(r);
    if (!ascii)
        return size_t(r);
    size_t out = 0;
    for (ssize_t i = 0; i < r; ++i) {
        const char ch = in[i];
        if (c->m_pendingCr) {
            c->m_pendingCr = false;
            if (ch != '\n')
                buffer[out++] = '\r';
        }
        if (ch == '\r')
            c->m_pendingCr = true;
        else
            buffer[out++] = ch;
    }
    if (r == 0 && c->m_pendingCr) {
        c->m_pendingCr = false;
        buffer[out++] = '\r';
    }
    return out;
}

DWORD CurlFtpSession::errorFor(CURLcode code, bool cancelled) const
{
    if (cancelled || code == CURLE_ABORTED_BY_CALLBACK)
        return ERROR_INTERNET_OPERATION_CANCELLED;
    if (m_stalled)
        return ERROR_INTERNET_TIMEOUT;
    if (m_listingTooLong) {
        FtpThread::setDetail("The listing was refused: it is longer than " +
                             std::to_string(maxListingEntries) + " entries or " +
                             std::to_string(maxListingBytes >> 20) + " MB.");
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    const auto &r = m_replies.replies();
    const std::string server = m_login.server.authority();
    const std::string reason = m_curlError[0] ? m_curlError : curl_easy_strerror(code);
    switch (code) {
    case CURLE_OK: return ERROR_SUCCESS;
    case CURLE_PEER_FAILED_VERIFICATION: return ERROR_INTERNET_INVALID_CA;
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH: return ERROR_INTERNET_SEC_INVALID_CERT;
    case CURLE_USE_SSL_FAILED:
        FtpThread::setDetail(server +
                             " refused TLS, which this connection requires; nothing "
                             "was sent in clear text.\n" +
                             reason);
        return !r.empty() && r.back().code >= 400 ? ERROR_INTERNET_EXTENDED_ERROR
                                                  : ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_INITFAILED:
        FtpThread::setDetail("The TLS handshake with " + server + " failed.\n" + reason);
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_OPERATION_TIMEDOUT:
        // libcurl takes a 421 ("service not available, closing") for a time-out; it is the
        // server's answer.
        if (!r.empty() && r.back().code == 421)
            return ERROR_INTERNET_EXTENDED_ERROR;
        return ERROR_INTERNET_TIMEOUT;
    case CURLE_FTP_ACCEPT_TIMEOUT: return ERROR_INTERNET_TIMEOUT;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT: return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_WRITE_ERROR:
    case CURLE_READ_ERROR:
        if (m_localErrno)
            return errnoToError(m_localErrno);
        break;
    case CURLE_URL_MALFORMAT: return ERROR_INVALID_NAME;
    default: break;
    }
    if (!r.empty() && r.back().code >= 400)
        return ERROR_INTERNET_EXTENDED_ERROR;
    switch (code) {
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_UPLOAD_FAILED:
    case CURLE_FTP_COULDNT_RETR_FILE: return ERROR_INTERNET_CONNECTION_ABORTED;
    default: return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

// A connection the server has dropped shows only when it is used: the call goes again once, on a
// new connection, when the old one died before any reply, or when libcurl replaced it silently
// and the new one missed OPTS UTF8 ON.
DWORD CurlFtpSession::run(Transfer &t)
{
    bool retry = false;
    const DWORD error = attempt(t, retry);
    return error && retry ? attempt(t, retry) : error;
}

void CurlFtpSession::setOptions(CURL *h, const Transfer &t, const std::string &url)
{
    const FtpTimeouts &timeouts = m_login.timeouts;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp,ftps");
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, m_curlError);
    if (tls()) {
        // Explicit TLS is required for the control and every data connection: never plain.
        curl_easy_setopt(h, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
        curl_easy_setopt(h, CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));
        if (!m_pin.empty()) {
            curl_easy_setopt(h, CURLOPT_PINNEDPUBLICKEY, m_pin.c_str());
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
        } else {
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
            curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
            if (!m_login.caFile.empty())
                curl_easy_setopt(h, CURLOPT_CAINFO, m_login.caFile.c_str());
        }
    }
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    if (m_login.useNetrc) {
        curl_easy_setopt(h, CURLOPT_NETRC, long(CURL_NETRC_OPTIONAL));
    } else {
        curl_easy_setopt(h, CURLOPT_USERNAME, m_login.user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, m_login.password.c_str());
    }
    curl_easy_setopt(h, CURLOPT_PROXY, m_login.proxy.c_str()); // "" keeps environment proxies out
    if (m_login.proxy.rfind("http", 0) == 0)
        curl_easy_setopt(h, CURLOPT_HTTPPROXYTUNNEL, 1L);
    const long connectMs = long(timeouts.connectSeconds * 1000);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
    curl_easy_setopt(h, CURLOPT_ACCEPTTIMEOUT_MS, connectMs);
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(std::ceil(timeouts.replySeconds)));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long(std::ceil(timeouts.stallSeconds)));
    // Idle connections are the server's to end.
    curl_easy_setopt(h, CURLOPT_MAXAGE_CONN, long(INT_MAX));
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(h, CURLOPT_FTP_USE_EPSV, 1L);
    curl_easy_setopt(h, CURLOPT_FTP_USE_EPRT, 1L);
    curl_easy_setopt(h, CURLOPT_FTP_SKIP_PASV_IP, 1L);
    curl_easy_setopt(h, CURLOPT_FTPPORT, m_login.passive ? nullptr : "-");
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, onDebug);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onWrite);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    switch (t.kind) {
    case Transfer::Login:
    case Transfer::Command: curl_easy_setopt(h, CURLOPT_NOBODY, 1L); break;
    case Transfer::Listing:
        if (t.mlsd)
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "MLSD");
        break;
    case Transfer::Get:
        curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, long(t.ascii));
        // libcurl would stop at the size SIZE gave, and fail when SIZE is refused; the data
        // connection alone says how much the file holds.
        curl_easy_setopt(h, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
        break;
    case Transfer::Put:
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, onRead);
        curl_easy_setopt(h, CURLOPT_READDATA, this);
        curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, long(t.ascii));
        if (!t.ascii)
            curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(t.localSize));
        break;
    }
}

DWORD CurlFtpSession::attempt(Transfer &t, bool &retry)
{
    CURL *h = m_easy.get();
    curl_easy_reset(h);
    // libcurl looks the password up in .netrc only for a user named in the URL.
    m_curlError[0] = '\0';
    std::string url =
        std::string(m_login.server.scheme == RemoteScheme::Ftps ? "ftps://" : "ftp://") +
        (m_login.useNetrc && !m_login.user.empty() ? percentEncode(m_login.user, false) + "@"
                                                   : std::string()) +
        m_login.server.authority() + "/";
    if (t.kind != Transfer::Login && t.kind != Transfer::Command) {
        // Relative URLs start at the login directory; %2F makes the path absolute.
        url += "%2F" + percentEncode(t.path.substr(t.path.front() == '/' ? 1 : 0));
        if (t.directory && url.back() != '/')
            url += '/';
    }
    std::vector<std::string> quote = t.quote;
    if (t.kind == Transfer::Get && !t.ascii) // the size for progress only; a refusal is no matter
        quote.insert(quote.end(), {"*TYPE I", "*SIZE " + t.path});
    const bool reused = t.kind != Transfer::Login && controlAlive();
    const bool sendOpts = m_utf8 && t.kind != Transfer::Login && (m_optsPending || !reused);
    if (sendOpts)
        quote.insert(quote.begin(), "*OPTS UTF8 ON");
    SlistPtr quoteList;
    for (const auto &q : quote)
        quoteList.reset(curl_slist_append(quoteList.release(), q.c_str()));
    setOptions(h, t, url);
    if (quoteList)
        curl_easy_setopt(h, CURLOPT_QUOTE, quoteList.get());

    if (t.localFd >= 0) { // a repeated attempt starts both files afresh
        if (t.kind == Transfer::Get && ::ftruncate(t.localFd, 0) != 0)
            return errnoToError(errno);
        ::lseek(t.localFd, 0, SEEK_SET);
    }
    m_replies.clear();
    m_transfer = &t;
    m_listing.clear();
    m_listingLines = 0;
    m_listingTooLong = false;
    m_stalled = false;
    m_announced = 0;
    m_moved = 0;
    m_localErrno = 0;
    m_pendingCr = false;

    CURLM *m = m_multi.get();
    curl_multi_add_handle(m, h);
    CURLcode result = CURLE_OK;
    bool cancelled = false;
    // libcurl 7.88 sometimes waits on no socket and no timer (after a 229 reply, before it opens
    // the data connection) and goes on only when called again: short waits after activity,
    // growing to 50 ms while nothing happens, keep that from costing 50 ms per transfer.
    int wait = 1;
    // The stall time-out, kept here to the millisecond: libcurl's low-speed check averages over
    // seconds and fires late. It runs once the data connection is announced (150 or 125).
    const bool data = t.kind == Transfer::Get || t.kind == Transfer::Put ||
                      t.kind == Transfer::Listing;
    const auto stallLimit = std::chrono::milliseconds(long(m_login.timeouts.stallSeconds * 1000));
    auto lastMove = std::chrono::steady_clock::now();
    std::uint64_t lastCount = 0;
    bool flowing = false;
    const auto announce = [&] {
        if (t.kind == Transfer::Get && !t.ascii && !m_announced)
            for (const auto &reply : m_replies.replies())
                if (reply.code == 213 && reply.text.size() > 4)
                    m_announced = std::strtoull(reply.text.c_str() + 4, nullptr, 10);
    };
    for (;;) {
        int running = 0;
        if (curl_multi_perform(m, &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        if (!running) {
            int queued = 0;
            while (CURLMsg *msg = curl_multi_info_read(m, &queued))
                if (msg->msg == CURLMSG_DONE)
                    result = msg->data.result;
            break;
        }
        if (FtpThread::cancelled()) {
            cancelled = true;
            break;
        }
        if (data) {
            const auto now = std::chrono::steady_clock::now();
            const std::uint64_t count = m_moved + m_listing.size();
            announce();
            if (!flowing)
                flowing = std::any_of(
                    m_replies.replies().begin(), m_replies.replies().end(),
                    [](const FtpReply &r) { return r.code == 150 || r.code == 125; });
            if (count != lastCount || !flowing) {
                lastCount = count;
                lastMove = now;
            } else if (now - lastMove >= stallLimit) {
                m_stalled = true;
                break;
            }
        }
        int ready = 0;
        curl_multi_poll(m, nullptr, 0, wait, &ready);
        wait = ready ? 1 : std::min(wait * 2, 50);
    }
    rememberControl();
    curl_multi_remove_handle(m, h);
    m_transfer = nullptr;

    const auto &got = m_replies.replies();
    if (!got.empty())
        FtpThread::setLastReply(got.back());
    const bool greeted = std::any_of(got.begin(), got.end(),
                                     [](const FtpReply &r) { return r.code == 220; });
    if (sendOpts)
        m_optsPending = false;
    else if (m_utf8 && greeted)
        m_optsPending = true;
    announce();
    DWORD error = errorFor(result, cancelled);
    // Less than the server announced: the data connection ended early.
    if (!error && m_announced && m_moved < m_announced)
        error = ERROR_INTERNET_CONNECTION_ABORTED;
    retry = !cancelled && ((reused && got.empty() && error == ERROR_INTERNET_CONNECTION_ABORTED) ||
                           (m_optsPending && greeted));
    return error;
}

DWORD CurlFtpSession::askTrust()
{
    const std::string reason = m_curlError;
    ServerIdentity identity;
    std::string pin;
    if (const DWORD error = probeServerCertificate(m_login, identity, pin))
        return error;
    FtpCallObserver *o = FtpThread::observer();
    if (!o || !o->trust || !o->trust(identity)) {
        FtpThread::setDetail("The certificate of " + identity.hostPort +
                             " could not be verified (" + identity.reason +
                             ") and was not trusted.\nSubject: " + identity.subject +
                             "\nIssuer: " + identity.issuer + "\nValid: " + identity.validity +
                             "\nSHA-256 fingerprint: " + identity.fingerprint + "\n" + reason);
        return ERROR_INTERNET_INVALID_CA;
    }
    // Kept for this connection even when the file can't be written.
    savePinnedKey(identity.hostPort, {pin, identity.fingerprint});
    m_pin = pin;
    return ERROR_SUCCESS;
}

void CurlFtpSession::explainChangedKey(const PinnedKey &trusted)
{
    const std::string reason = m_curlError;
    ServerIdentity identity;
    std::string pin;
    const bool seen = probeServerCertificate(m_login, identity, pin) == ERROR_SUCCESS;
    FtpThread::setDetail(
        "The key of " + m_login.server.authority() +
        " has changed since you trusted it: someone may be intercepting the connection. It was "
        "refused.\nTrusted SHA-256 fingerprint: " +
        (trusted.fingerprint.empty() ? trusted.pin : trusted.fingerprint) +
        "\nOffered SHA-256 fingerprint: " + (seen ? identity.fingerprint : "(not read)") +
        "\nIf the server's owner confirms the new key, remove its line from " + trustedKeysPath() +
        ".\n" + reason);
}

DWORD CurlFtpSession::connect()
{
    initCurl();
    m_multi.reset(curl_multi_init());
    m_easy.reset(curl_easy_init());
    if (!m_multi || !m_easy)
        return ERROR_INTERNET_INTERNAL_ERROR;
    const auto trusted = tls() ? findPinnedKey(m_login.server.authority()) : std::nullopt;
    if (trusted)
        m_pin = trusted->pin;
    Transfer login;
    login.kind = Transfer::Login;
    login.quote = {"*FEAT"};
    DWORD error = run(login);
    if (error == ERROR_INTERNET_INVALID_CA && !trusted) {
        if (const DWORD refused = askTrust())
            return refused;
        error = run(login);
    }
    if (error == ERROR_INTERNET_SEC_INVALID_CERT && trusted)
        explainChangedKey(*trusted);
    if (error)
        return error;
    const char *entry = nullptr;
    curl_easy_getinfo(m_easy.get(), CURLINFO_FTP_ENTRY_PATH, &entry);
    m_loginDirectory = entry && *entry ? entry : "/";
    for (const auto &reply : m_replies.replies()) {
        if (reply.code != 211)
            continue;
        std::string upper = reply.text;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char ch) { return std::toupper(ch); });
        m_mlsd = upper.find("\r\n MLST") != std::string::npos;
        m_utf8 = upper.find("\r\n UTF8") != std::string::npos;
    }
    return m_utf8 ? command({"*OPTS UTF8 ON"}) : ERROR_SUCCESS;
}

DWORD CurlFtpSession::command(std::vector<std::string> quote)
{
    Transfer t;
    t.quote = std::move(quote);
    return run(t);
}

DWORD CurlFtpSession::changeDirectory(const std::string &directory, std::string &current)
{
    if (const DWORD error = command({"CWD " + directory, "*PWD"}))
        return error;
    current.clear();
    for (const auto &reply : m_replies.replies())
        if (reply.code == 257)
            current = pathOf257(reply.text);
    if (current.empty())
        current = directory;
    return ERROR_SUCCESS;
}

// MLSD when offered (LIST when the server then refuses it).
DWORD CurlFtpSession::list(const std::string &directory, std::vector<FtpListEntry> &entries)
{
    Transfer t;
    t.kind = Transfer::Listing;
    t.path = directory;
    t.directory = true;
    t.mlsd = m_mlsd;
    DWORD error = run(t);
    const DWORD code = FtpThread::lastReply().code;
    if (error == ERROR_INTERNET_EXTENDED_ERROR && t.mlsd && (code == 500 || code == 502)) {
        m_mlsd = t.mlsd = false;
        error = run(t);
    }
    entries = parseFtpListing(m_listing, t.mlsd ? FtpListingFormat::Mlsd : FtpListingFormat::List);
    return error;
}

DWORD CurlFtpSession::get(const std::string &remote, int fd, bool ascii)
{
    Transfer t;
    t.kind = Transfer::Get;
    t.path = remote;
    t.ascii = ascii;
    t.localFd = fd;
    return run(t);
}

DWORD CurlFtpSession::put(int fd, std::uint64_t size, const std::string &remote, bool ascii)
{
    Transfer t;
    t.kind = Transfer::Put;
    t.path = remote;
    t.ascii = ascii;
    t.localFd = fd;
    t.localSize = size;
    return run(t);
}

DWORD CurlFtpSession::makeDirectory(const std::string &directory)
{
    return command({"MKD " + directory});
}

DWORD CurlFtpSession::removeDirectory(const std::string &directory)
{
    return command({"RMD " + directory});
}

DWORD CurlFtpSession::deleteFile(const std::string &file) { return command({"DELE " + file}); }

DWORD CurlFtpSession::rename(const std::string &from, const std::string &to)
{
    return command({"RNFR " + from, "RNTO " + to});
}

} // namespace

std::unique_ptr<RemoteSession> makeCurlFtpSession(const RemoteLogin &login)
{
    return std::make_unique<CurlFtpSession>(login);
}
