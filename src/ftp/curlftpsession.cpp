#include "curlftpsession.h"

#include "ftpthread.h"
#include "tlsprobe.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <netinet/in.h>
#include <unistd.h>

namespace CurlFtp {

namespace {

void initCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool sameAddress(const sockaddr_storage &a, const sockaddr_storage &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

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
        // TLS 1.2 only: over TLS 1.3 the server sends session tickets on each data connection,
        // which libcurl 7.88 leaves unread; closing the socket after an upload then resets the
        // connection and the server loses the file's last records while reporting success.
        curl_easy_setopt(h, CURLOPT_SSLVERSION,
                         long(CURL_SSLVERSION_TLSv1_2) | long(CURL_SSLVERSION_MAX_TLSv1_2));
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
    // "../f" names the file above the login folder: libcurl would squash the dot segments and
    // send "f", another file, reporting success.
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
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

} // namespace CurlFtp

std::unique_ptr<RemoteSession> makeCurlFtpSession(const RemoteLogin &login)
{
    return std::make_unique<CurlFtp::CurlFtpSession>(login);
}
