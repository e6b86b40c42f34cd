#include "wininet.h"

#include "ftplisting.h"
#include "uniquefd.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <unordered_map>
#include <variant>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// --- per-thread state -------------------------------------------------------------------------

struct Reply {
    DWORD code = 0;
    std::string text;
};

thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local Reply t_lastReply;
thread_local FtpCallObserver *t_observer = nullptr;

bool fail(DWORD error)
{
    t_lastError = error;
    return false;
}

DWORD errnoToError(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    default: return ERROR_ACCESS_DENIED;
    }
}

// --- RAII wrappers ----------------------------------------------------------------------------

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

// --- settings ---------------------------------------------------------------------------------

double envSeconds(const char *name, double fallback)
{
    const char *v = std::getenv(name);
    if (!v || !*v)
        return fallback;
    char *end = nullptr;
    const double d = std::strtod(v, &end);
    return (end && *end == '\0' && d > 0 && d < 1e7) ? d : fallback;
}

struct Timeouts {
    long connectMs = 30000;
    long replySeconds = 60;
    long stallSeconds = 60;

    static Timeouts fromEnvironment()
    {
        Timeouts t;
        t.connectMs = long(envSeconds("VELMARIC_FTP_CONNECT_TIMEOUT", 30) * 1000);
        t.replySeconds = long(std::ceil(envSeconds("VELMARIC_FTP_REPLY_TIMEOUT", 60)));
        t.stallSeconds = long(std::ceil(envSeconds("VELMARIC_FTP_STALL_TIMEOUT", 60)));
        return t;
    }
};

// --- server replies, seen through libcurl's debug callback ------------------------------------

// Collects the complete replies of one call; lines that are not FTP replies (an HTTP proxy's
// answer to CONNECT) are skipped. Outgoing lines (USER, PASS …) are never looked at.
class ReplyCollector {
public:
    void feed(const char *data, std::size_t size)
    {
        m_pending.append(data, size);
        std::size_t nl;
        while ((nl = m_pending.find('\n')) != std::string::npos) {
            std::string line = m_pending.substr(0, nl);
            m_pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            take(line);
        }
    }
    const std::vector<Reply> &replies() const { return m_replies; }
    void clear()
    {
        m_replies.clear();
        m_pending.clear();
        m_open.clear();
        m_openCode = 0;
    }

private:
    static int codeOf(const std::string &line)
    {
        if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0])) ||
            !std::isdigit(static_cast<unsigned char>(line[1])) ||
            !std::isdigit(static_cast<unsigned char>(line[2])))
            return 0;
        if (line.size() > 3 && line[3] != ' ' && line[3] != '-')
            return 0;
        return std::atoi(line.substr(0, 3).c_str());
    }
    void take(const std::string &line)
    {
        const int code = codeOf(line);
        if (m_openCode) { // inside a multi-line reply: it ends at "NNN " with the same number
            m_open += "\r\n" + line;
            if (code == m_openCode && (line.size() == 3 || line[3] == ' ')) {
                m_replies.push_back({DWORD(m_openCode), m_open});
                m_open.clear();
                m_openCode = 0;
            }
            return;
        }
        if (!code)
            return;
        if (line.size() > 3 && line[3] == '-') {
            m_openCode = code;
            m_open = line;
        } else {
            m_replies.push_back({DWORD(code), line});
        }
    }

    std::string m_pending;
    std::string m_open;
    int m_openCode = 0;
    std::vector<Reply> m_replies;
};

// --- paths and URLs ---------------------------------------------------------------------------

std::string percentEncode(const std::string &path, bool keepSlash = true)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size() * 3);
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' ||
            (c == '/' && keepSlash)) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

bool hasControlCharacters(const std::string &s)
{
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f)
            return true;
    return false;
}

std::string joinRemote(const std::string &directory, const std::string &name)
{
    if (!name.empty() && name.front() == '/')
        return name;
    if (directory.empty() || directory.back() == '/')
        return directory + name;
    return directory + "/" + name;
}

// The name between the quotes of a 257 reply; doubled quotes stand for one.
std::string pathOf257(const std::string &text)
{
    const auto open = text.find('"');
    if (open == std::string::npos)
        return {};
    std::string path;
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
                path += '"';
                ++i;
                continue;
            }
            return path;
        }
        path += text[i];
    }
    return {};
}

// "host", "host:port", "[v6]", "[v6]:port", or a bare IPv6 address → URL authority.
bool serverAuthority(const std::string &server, std::uint16_t port, std::string &authority)
{
    std::string host = server;
    long p = port ? port : INTERNET_DEFAULT_FTP_PORT;
    std::string portText;
    if (!host.empty() && host.front() == '[') {
        const auto close = host.find(']');
        if (close == std::string::npos)
            return false;
        const std::string after = host.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':' || after.size() == 1)
                return false;
            portText = after.substr(1);
        }
        host = host.substr(1, close - 1);
    } else if (std::count(host.begin(), host.end(), ':') == 1) {
        portText = host.substr(host.find(':') + 1);
        host = host.substr(0, host.find(':'));
        if (portText.empty())
            return false;
    }
    if (!portText.empty()) {
        char *end = nullptr;
        p = std::strtol(portText.c_str(), &end, 10);
        if (*end || p <= 0 || p > 65535)
            return false;
    }
    if (host.empty())
        return false;
    const bool v6 = host.find(':') != std::string::npos;
    for (unsigned char c : host)
        if (c <= ' ' || c == 0x7f || std::strchr("/?#@[]\\%\"<>`{}|^", c) || (c == ':' && !v6))
            return false;
    authority = (v6 ? "[" + host + "]" : host) + ":" + std::to_string(p);
    return true;
}

// --- handles ----------------------------------------------------------------------------------

struct Session {
    std::string proxy; // empty: direct
};

struct Connection;

struct Find {
    std::vector<FtpListEntry> entries;
    std::size_t next = 0;
    DWORD endError = ERROR_NO_MORE_FILES; // a listing cut short ends with its error
    Reply endReply;
};

using Object = std::variant<Session, std::shared_ptr<Connection>, std::shared_ptr<Find>>;

class HandleTable {
public:
    HINTERNET add(Object object)
    {
        std::lock_guard lock(m_mutex);
        do
            ++m_next;
        while (m_next == 0 || m_objects.count(m_next));
        m_objects.emplace(m_next, std::move(object));
        return m_next;
    }
    template<typename T>
    std::optional<T> get(HINTERNET h)
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_objects.find(h);
        if (it == m_objects.end() || !std::holds_alternative<T>(it->second))
            return std::nullopt;
        return std::get<T>(it->second);
    }
    bool remove(HINTERNET h)
    {
        Object doomed; // destroyed outside the lock: closing a connection may wait on the network
        {
            std::lock_guard lock(m_mutex);
            const auto it = m_objects.find(h);
            if (it == m_objects.end())
                return false;
            doomed = std::move(it->second);
            m_objects.erase(it);
        }
        return true;
    }

private:
    std::mutex m_mutex;
    HINTERNET m_next = 0;
    std::unordered_map<HINTERNET, Object> m_objects;
};

HandleTable &handles()
{
    static HandleTable table;
    return table;
}

void initCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// --- one connection: a libcurl easy handle in a multi handle of its own -----------------------
//
// The multi handle keeps the control connection between calls, so the login is made once; a
// call is the multi loop below, which lets a cancel end it within one poll interval, also while
// libcurl waits for a connection or a reply.

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

struct Connection {
    MultiPtr multi;
    EasyPtr easy;
    std::string authority;
    std::string user;
    std::string password;
    bool useNetrc = false;
    bool passive = true;
    std::string proxy;
    Timeouts timeouts;

    std::string loginDirectory;
    std::string currentDirectory;
    bool mlsd = false;
    bool utf8 = false;
    bool optsPending = false; // a new control connection has not had OPTS UTF8 ON yet

    // The control connection of the last call: an idle one the server has dropped makes libcurl
    // log in afresh, and OPTS UTF8 ON must go out again.
    int controlFd = -1;
    sockaddr_storage controlLocal{};
    sockaddr_storage controlPeer{};

    // Per call.
    ReplyCollector replies;
    Transfer *transfer = nullptr;
    std::string listing;
    std::uint64_t moved = 0; // bytes written to or read from the local side
    int localErrno = 0;
    bool pendingCr = false;
    std::vector<char> scratch;

    ~Connection()
    {
        // Closing says QUIT and waits for the reply with the time-outs of the handle added
        // last; a server that no longer answers must not hold the caller for a minute.
        if (multi && easy) {
            curl_easy_setopt(easy.get(), CURLOPT_SERVER_RESPONSE_TIMEOUT, 2L);
            curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT_MS, 2000L);
            curl_multi_add_handle(multi.get(), easy.get());
            curl_multi_remove_handle(multi.get(), easy.get());
        }
    }

    bool controlAlive() const;
    void rememberControl();
    DWORD run(Transfer &t);
    DWORD attempt(Transfer &t, bool &retry);
    DWORD errorFor(CURLcode code, bool cancelled) const;
};

bool sameAddress(const sockaddr_storage &a, const sockaddr_storage &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool Connection::controlAlive() const
{
    if (controlFd < 0)
        return false;
    sockaddr_storage local{}, peer{};
    socklen_t n = sizeof local, m = sizeof peer;
    if (::getsockname(controlFd, reinterpret_cast<sockaddr *>(&local), &n) != 0 ||
        ::getpeername(controlFd, reinterpret_cast<sockaddr *>(&peer), &m) != 0 ||
        !sameAddress(local, controlLocal) || !sameAddress(peer, controlPeer))
        return false;
    char byte;
    const ssize_t r = ::recv(controlFd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return r > 0 || (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

void Connection::rememberControl()
{
    curl_socket_t fd = CURL_SOCKET_BAD;
    controlFd = -1;
    if (curl_easy_getinfo(easy.get(), CURLINFO_ACTIVESOCKET, &fd) != CURLE_OK ||
        fd == CURL_SOCKET_BAD)
        return;
    socklen_t n = sizeof controlLocal, m = sizeof controlPeer;
    controlLocal = {};
    controlPeer = {};
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&controlLocal), &n) == 0 &&
        ::getpeername(fd, reinterpret_cast<sockaddr *>(&controlPeer), &m) == 0)
        controlFd = fd;
}

int debugCallback(CURL *, curl_infotype type, char *data, size_t size, void *user)
{
    if (type == CURLINFO_HEADER_IN)
        static_cast<Connection *>(user)->replies.feed(data, size);
    return 0;
}

int progressCallback(void *user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t, curl_off_t)
{
    auto *c = static_cast<Connection *>(user);
    FtpCallObserver *o = t_observer;
    if (!o)
        return 0;
    if (o->cancelled.load())
        return 1;
    if (o->progress && c->transfer) {
        switch (c->transfer->kind) {
        case Transfer::Get: o->progress(std::uint64_t(dlnow), std::uint64_t(dltotal)); break;
        case Transfer::Put: o->progress(c->moved, c->transfer->localSize); break;
        case Transfer::Listing: o->progress(std::uint64_t(dlnow), 0); break;
        default: break;
        }
    }
    return 0;
}

size_t writeCallback(char *data, size_t size, size_t count, void *user)
{
    auto *c = static_cast<Connection *>(user);
    const size_t bytes = size * count;
    if (c->transfer->kind == Transfer::Listing) {
        c->listing.append(data, bytes);
        return bytes;
    }
    size_t done = 0;
    while (done < bytes) {
        const ssize_t w = ::write(c->transfer->localFd, data + done, bytes - done);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            c->localErrno = errno;
            return 0;
        }
        done += size_t(w);
    }
    c->moved += bytes;
    return bytes;
}

// ASCII sends: libcurl turns every LF into CR LF by itself, so a CR LF already in the file is
// handed over as LF to come out once, not as CR CR LF.
size_t readCallback(char *buffer, size_t size, size_t count, void *user)
{
    auto *c = static_cast<Connection *>(user);
    const size_t room = size * count;
    const bool ascii = c->transfer->ascii;
    char *in = buffer;
    size_t want = room;
    if (ascii) {
        if (room < 2)
            return 0;
        c->scratch.resize(room - 1);
        in = c->scratch.data();
        want = room - 1; // one byte kept for a CR held back from the last read
    }
    ssize_t r;
    do
        r = ::read(c->transfer->localFd, in, want);
    while (r < 0 && errno == EINTR);
    if (r < 0) {
        c->localErrno = errno;
        return CURL_READFUNC_ABORT;
    }
    c->moved += std::uint64_t(r);
    if (!ascii)
        return size_t(r);
    size_t out = 0;
    for (ssize_t i = 0; i < r; ++i) {
        const char ch = in[i];
        if (c->pendingCr) {
            c->pendingCr = false;
            if (ch != '\n')
                buffer[out++] = '\r';
        }
        if (ch == '\r')
            c->pendingCr = true;
        else
            buffer[out++] = ch;
    }
    if (r == 0 && c->pendingCr) {
        c->pendingCr = false;
        buffer[out++] = '\r';
    }
    return out;
}

DWORD Connection::errorFor(CURLcode code, bool cancelled) const
{
    if (cancelled || code == CURLE_ABORTED_BY_CALLBACK)
        return ERROR_INTERNET_OPERATION_CANCELLED;
    switch (code) {
    case CURLE_OK: return ERROR_SUCCESS;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT: return ERROR_INTERNET_TIMEOUT;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT: return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_WRITE_ERROR:
    case CURLE_READ_ERROR:
        if (localErrno)
            return errnoToError(localErrno);
        break;
    case CURLE_URL_MALFORMAT: return ERROR_INVALID_NAME;
    default: break;
    }
    const auto &r = replies.replies();
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
DWORD Connection::run(Transfer &t)
{
    bool retry = false;
    const DWORD error = attempt(t, retry);
    return error && retry ? attempt(t, retry) : error;
}

DWORD Connection::attempt(Transfer &t, bool &retry)
{
    CURL *h = easy.get();
    curl_easy_reset(h);
    // libcurl looks the password up in .netrc only for a user named in the URL.
    std::string url = "ftp://" +
                      (useNetrc && !user.empty() ? percentEncode(user, false) + "@"
                                                 : std::string()) +
                      authority + "/";
    if (t.kind != Transfer::Login && t.kind != Transfer::Command) {
        // Relative URLs start at the login directory; %2F makes the path absolute.
        url += "%2F" + percentEncode(t.path.substr(t.path.front() == '/' ? 1 : 0));
        if (t.directory && url.back() != '/')
            url += '/';
    }
    std::vector<std::string> quote = t.quote;
    const bool reused = t.kind != Transfer::Login && controlAlive();
    const bool sendOpts = utf8 && t.kind != Transfer::Login && (optsPending || !reused);
    if (sendOpts)
        quote.insert(quote.begin(), "*OPTS UTF8 ON");
    SlistPtr quoteList;
    for (const auto &q : quote)
        quoteList.reset(curl_slist_append(quoteList.release(), q.c_str()));

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    if (useNetrc) {
        curl_easy_setopt(h, CURLOPT_NETRC, long(CURL_NETRC_OPTIONAL));
    } else {
        curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
    }
    curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str()); // "" also keeps environment proxies out
    if (proxy.rfind("http", 0) == 0)
        curl_easy_setopt(h, CURLOPT_HTTPPROXYTUNNEL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connectMs);
    curl_easy_setopt(h, CURLOPT_ACCEPTTIMEOUT_MS, timeouts.connectMs);
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeouts.replySeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, timeouts.stallSeconds);
    curl_easy_setopt(h, CURLOPT_MAXAGE_CONN,
                     long(INT_MAX)); // idle connections are the server's to end
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(h, CURLOPT_FTP_USE_EPSV, 1L);
    curl_easy_setopt(h, CURLOPT_FTP_USE_EPRT, 1L);
    curl_easy_setopt(h, CURLOPT_FTP_SKIP_PASV_IP, 1L);
    curl_easy_setopt(h, CURLOPT_FTPPORT, passive ? nullptr : "-");
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, 256L * 1024);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, debugCallback);
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, progressCallback);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeCallback);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    if (quoteList)
        curl_easy_setopt(h, CURLOPT_QUOTE, quoteList.get());
    switch (t.kind) {
    case Transfer::Login:
    case Transfer::Command: curl_easy_setopt(h, CURLOPT_NOBODY, 1L); break;
    case Transfer::Listing:
        if (t.mlsd)
            curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "MLSD");
        break;
    case Transfer::Get: curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, long(t.ascii)); break;
    case Transfer::Put:
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_READFUNCTION, readCallback);
        curl_easy_setopt(h, CURLOPT_READDATA, this);
        curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, long(t.ascii));
        if (!t.ascii)
            curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(t.localSize));
        break;
    }

    if (t.localFd >= 0) { // a repeated attempt starts both files afresh
        if (t.kind == Transfer::Get && ::ftruncate(t.localFd, 0) != 0)
            return errnoToError(errno);
        ::lseek(t.localFd, 0, SEEK_SET);
    }
    replies.clear();
    transfer = &t;
    listing.clear();
    moved = 0;
    localErrno = 0;
    pendingCr = false;

    CURLM *m = multi.get();
    curl_multi_add_handle(m, h);
    CURLcode result = CURLE_OK;
    bool cancelled = false;
    // libcurl 7.88 sometimes waits on no socket and no timer (after a 229 reply, before it opens
    // the data connection) and goes on only when called again: short waits after activity,
    // growing to 50 ms while nothing happens, keep that from costing 50 ms per transfer.
    int wait = 1;
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
        if (t_observer && t_observer->cancelled.load()) {
            cancelled = true;
            break;
        }
        int ready = 0;
        curl_multi_poll(m, nullptr, 0, wait, &ready);
        wait = ready ? 1 : std::min(wait * 2, 50);
    }
    rememberControl();
    curl_multi_remove_handle(m, h);
    transfer = nullptr;

    const auto &got = replies.replies();
    if (!got.empty())
        t_lastReply = got.back();
    const bool greeted = std::any_of(got.begin(), got.end(),
                                     [](const Reply &r) { return r.code == 220; });
    if (sendOpts)
        optsPending = false;
    else if (utf8 && greeted)
        optsPending = true;
    const DWORD error = errorFor(result, cancelled);
    retry = !cancelled && ((reused && got.empty() && error == ERROR_INTERNET_CONNECTION_ABORTED) ||
                           (optsPending && greeted));
    return error;
}

// What open(..., 0666) would give: the umask is read from /proc, since umask() can only be read
// by setting it, which would race with other threads.
mode_t newFileMode()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    unsigned long mask = 022;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            mask = std::strtoul(line.c_str() + 6, nullptr, 8);
    return mode_t(0666 & ~mask);
}

std::string randomSuffix()
{
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    static const char chars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string s;
    for (int i = 0; i < 8; ++i)
        s += chars[rng() % (sizeof chars - 1)];
    return s;
}

// A file that appears under its name only when commit() is called: O_TMPFILE where the file
// system has it (nothing is left behind even if the process dies), else a hidden temporary
// file beside the target that the destructor removes.
class AtomicFile {
public:
    explicit AtomicFile(std::string target) : m_target(std::move(target))
    {
        const auto slash = m_target.rfind('/');
        m_dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : m_target.substr(0, slash));
        const std::string base = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
        m_fd = ::open(m_dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            return;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            m_errno = errno;
            return;
        }
        for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
            m_temp = m_dir + "/." + base.substr(0, 200) + "." + randomSuffix() + ".part";
            m_fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newFileMode());
            if (m_fd < 0 && errno != EEXIST)
                break;
        }
        if (m_fd < 0) {
            m_errno = errno;
            m_temp.clear();
        }
    }
    ~AtomicFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_temp.empty())
            ::unlink(m_temp.c_str());
    }
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    int fd() const { return m_fd; }
    int error() const { return m_errno; }

    // 0 on success, else an errno value.
    int commit()
    {
        if (m_temp.empty()) { // O_TMPFILE: give it a temporary name, then move it over the target
            const std::string proc = "/proc/self/fd/" + std::to_string(m_fd);
            for (int attempt = 0; attempt < 16; ++attempt) {
                std::string name = m_dir + "/.velmaric-get." + randomSuffix() + ".part";
                if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) ==
                    0) {
                    m_temp = std::move(name);
                    break;
                }
                if (errno != EEXIST)
                    return errno;
            }
            if (m_temp.empty())
                return EEXIST;
        }
        if (::close(m_fd) != 0) {
            m_fd = -1;
            return errno;
        }
        m_fd = -1;
        if (::rename(m_temp.c_str(), m_target.c_str()) != 0)
            return errno;
        m_temp.clear();
        return 0;
    }

private:
    std::string m_target;
    std::string m_dir;
    std::string m_temp;
    int m_fd = -1;
    int m_errno = 0;
};

std::string text(const char *s) { return s ? std::string(s) : std::string(); }

std::shared_ptr<Connection> connectionOf(HINTERNET h)
{
    auto c = handles().get<std::shared_ptr<Connection>>(h);
    if (!c)
        t_lastError = ERROR_INVALID_HANDLE;
    return c ? *c : nullptr;
}

// The listing of the current directory, MLSD when offered (LIST when the server then refuses it).
DWORD listDirectory(Connection &c, const std::string &directory, std::vector<FtpListEntry> &entries)
{
    Transfer t;
    t.kind = Transfer::Listing;
    t.path = directory;
    t.directory = true;
    t.mlsd = c.mlsd;
    DWORD error = c.run(t);
    if (error == ERROR_INTERNET_EXTENDED_ERROR && t.mlsd &&
        (t_lastReply.code == 500 || t_lastReply.code == 502)) {
        c.mlsd = t.mlsd = false;
        error = c.run(t);
    }
    entries = parseFtpListing(c.listing, t.mlsd ? FtpListingFormat::Mlsd : FtpListingFormat::List);
    return error;
}

void fill(WIN32_FIND_DATA *data, const FtpListEntry &e)
{
    data->dwFileAttributes = e.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    data->nFileSize = e.size;
    data->cFileName = e.name;
}

} // namespace

// --- the functions ----------------------------------------------------------------------------

HINTERNET InternetOpenA(const char *, DWORD accessType, const char *proxy, const char *, DWORD)
{
    initCurl();
    Session s;
    if (accessType == INTERNET_OPEN_TYPE_PROXY) {
        s.proxy = text(proxy);
        if (s.proxy.empty() || hasControlCharacters(s.proxy))
            return fail(ERROR_INVALID_PARAMETER), 0;
        if (s.proxy.find("://") == std::string::npos)
            s.proxy = "http://" + s.proxy;
        else if (s.proxy.rfind("http://", 0) != 0 && s.proxy.rfind("socks5://", 0) != 0 &&
                 s.proxy.rfind("socks5h://", 0) != 0)
            return fail(ERROR_INVALID_PARAMETER), 0;
    } else if (accessType != INTERNET_OPEN_TYPE_DIRECT) {
        return fail(ERROR_INVALID_PARAMETER), 0;
    }
    t_lastError = ERROR_SUCCESS;
    return handles().add(std::move(s));
}

HINTERNET InternetConnectA(HINTERNET hInternet, const char *server, std::uint16_t port,
                           const char *user, const char *password, DWORD service, DWORD flags,
                           std::uintptr_t)
{
    const auto session = handles().get<Session>(hInternet);
    if (!session)
        return fail(ERROR_INVALID_HANDLE), 0;
    if (service != INTERNET_SERVICE_FTP)
        return fail(ERROR_INVALID_PARAMETER), 0;
    auto c = std::make_shared<Connection>();
    if (!serverAuthority(text(server), port, c->authority))
        return fail(ERROR_INTERNET_NAME_NOT_RESOLVED), 0;
    c->user = text(user);
    c->password = text(password);
    c->useNetrc = password == nullptr;
    if (c->user.empty() && !c->useNetrc) {
        c->user = "anonymous";
        if (c->password.empty())
            c->password = "anonymous@";
    }
    // A line end in a name would let it smuggle in a command of its own.
    if (hasControlCharacters(c->user) || hasControlCharacters(c->password))
        return fail(ERROR_INVALID_PARAMETER), 0;
    c->passive = (flags & INTERNET_FLAG_PASSIVE) != 0;
    c->proxy = session->proxy;
    c->timeouts = Timeouts::fromEnvironment();
    c->multi.reset(curl_multi_init());
    c->easy.reset(curl_easy_init());
    if (!c->multi || !c->easy)
        return fail(ERROR_INTERNET_INTERNAL_ERROR), 0;

    Transfer login;
    login.kind = Transfer::Login;
    login.quote = {"*FEAT"};
    if (const DWORD error = c->run(login))
        return fail(error), 0;
    const char *entry = nullptr;
    curl_easy_getinfo(c->easy.get(), CURLINFO_FTP_ENTRY_PATH, &entry);
    c->loginDirectory = entry && *entry ? entry : "/";
    c->currentDirectory = c->loginDirectory;
    for (const auto &reply : c->replies.replies()) {
        if (reply.code != 211)
            continue;
        std::string upper = reply.text;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char ch) { return std::toupper(ch); });
        c->mlsd = upper.find("\r\n MLST") != std::string::npos;
        c->utf8 = upper.find("\r\n UTF8") != std::string::npos;
    }
    if (c->utf8) {
        Transfer opts;
        opts.quote = {"*OPTS UTF8 ON"};
        if (const DWORD error = c->run(opts))
            return fail(error), 0;
    }
    t_lastError = ERROR_SUCCESS;
    return handles().add(std::move(c));
}

bool FtpSetCurrentDirectoryA(HINTERNET hConnect, const char *directory)
{
    const auto c = connectionOf(hConnect);
    if (!c)
        return false;
    const std::string d = text(directory);
    if (d.empty())
        return fail(ERROR_INVALID_PARAMETER);
    if (hasControlCharacters(d))
        return fail(ERROR_INVALID_NAME);
    const std::string target = joinRemote(c->currentDirectory, d);
    Transfer t;
    t.quote = {"CWD " + target, "*PWD"};
    if (const DWORD error = c->run(t))
        return fail(error);
    std::string now;
    for (const auto &reply : c->replies.replies())
        if (reply.code == 257)
            now = pathOf257(reply.text);
    c->currentDirectory = now.empty() ? target : now;
    t_lastError = ERROR_SUCCESS;
    return true;
}

std::string FtpCurrentDirectory(HINTERNET hConnect)
{
    const auto c = connectionOf(hConnect);
    return c ? c->currentDirectory : std::string();
}

std::string FtpLoginDirectory(HINTERNET hConnect)
{
    const auto c = connectionOf(hConnect);
    return c ? c->loginDirectory : std::string();
}

HINTERNET FtpFindFirstFileA(HINTERNET hConnect, const char *searchFile, WIN32_FIND_DATA *findData,
                            DWORD, std::uintptr_t)
{
    const auto c = connectionOf(hConnect);
    if (!c)
        return 0;
    if (!findData)
        return fail(ERROR_INVALID_PARAMETER), 0;
    const std::string search = text(searchFile);
    if (hasControlCharacters(search))
        return fail(ERROR_INVALID_NAME), 0;
    const bool wildcard = search.empty() || search == "*.*" || search == "*";
    auto find = std::make_shared<Find>();
    const DWORD error = listDirectory(
        *c, wildcard ? c->currentDirectory : joinRemote(c->currentDirectory, search),
        find->entries);
    if (find->entries.empty())
        return fail(error ? error : ERROR_NO_MORE_FILES), 0;
    if (error) { // delivered up to the point the listing broke off
        find->endError = error;
        find->endReply = t_lastReply;
    }
    fill(findData, find->entries.front());
    find->next = 1;
    t_lastError = ERROR_SUCCESS;
    return handles().add(std::move(find));
}

bool InternetFindNextFileA(HINTERNET hFind, WIN32_FIND_DATA *findData)
{
    const auto found = handles().get<std::shared_ptr<Find>>(hFind);
    if (!found)
        return fail(ERROR_INVALID_HANDLE);
    if (!findData)
        return fail(ERROR_INVALID_PARAMETER);
    Find &f = **found;
    if (f.next < f.entries.size()) {
        fill(findData, f.entries[f.next++]);
        return true;
    }
    if (f.endError != ERROR_NO_MORE_FILES)
        t_lastReply = f.endReply;
    return fail(f.endError);
}

bool FtpGetFileA(HINTERNET hConnect, const char *remoteFile, const char *newFile, bool failIfExists,
                 DWORD, DWORD flags, std::uintptr_t)
{
    const auto c = connectionOf(hConnect);
    if (!c)
        return false;
    const std::string remote = text(remoteFile);
    const std::string local = text(newFile);
    if (remote.empty() || local.empty())
        return fail(ERROR_INVALID_PARAMETER);
    if (hasControlCharacters(remote))
        return fail(ERROR_INVALID_NAME);
    struct stat st;
    if (failIfExists && ::lstat(local.c_str(), &st) == 0)
        return fail(ERROR_FILE_EXISTS);
    AtomicFile file(local);
    if (file.fd() < 0)
        return fail(errnoToError(file.error()));
    Transfer t;
    t.kind = Transfer::Get;
    t.path = joinRemote(c->currentDirectory, remote);
    t.ascii = (flags & 3) == FTP_TRANSFER_TYPE_ASCII;
    t.localFd = file.fd();
    if (const DWORD error = c->run(t))
        return fail(error);
    if (const int err = file.commit())
        return fail(errnoToError(err));
    t_lastError = ERROR_SUCCESS;
    return true;
}

bool FtpPutFileA(HINTERNET hConnect, const char *localFile, const char *newRemoteFile, DWORD flags,
                 std::uintptr_t)
{
    const auto c = connectionOf(hConnect);
    if (!c)
        return false;
    const std::string remote = text(newRemoteFile);
    if (remote.empty())
        return fail(ERROR_INVALID_PARAMETER);
    if (hasControlCharacters(remote))
        return fail(ERROR_INVALID_NAME);
    const UniqueFd fd(::open(text(localFile).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return fail(errno == ENOENT ? ERROR_FILE_NOT_FOUND : errnoToError(errno));
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return fail(ERROR_ACCESS_DENIED);
    Transfer t;
    t.kind = Transfer::Put;
    t.path = joinRemote(c->currentDirectory, remote);
    t.ascii = (flags & 3) == FTP_TRANSFER_TYPE_ASCII;
    t.localFd = fd.get();
    t.localSize = std::uint64_t(st.st_size);
    if (const DWORD error = c->run(t))
        return fail(error);
    t_lastError = ERROR_SUCCESS;
    return true;
}

bool InternetGetLastResponseInfoA(DWORD *error, char *buffer, DWORD *bufferLength)
{
    if (!bufferLength)
        return fail(ERROR_INVALID_PARAMETER);
    if (error)
        *error = t_lastReply.code;
    const std::string &reply = t_lastReply.text;
    if (!buffer || *bufferLength <= reply.size()) {
        *bufferLength = DWORD(reply.size());
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, reply.data(), reply.size());
    buffer[reply.size()] = '\0';
    *bufferLength = DWORD(reply.size());
    return true;
}

bool InternetCloseHandle(HINTERNET hInternet)
{
    return handles().remove(hInternet) || fail(ERROR_INVALID_HANDLE);
}

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD error) { t_lastError = error; }

FtpObserverScope::FtpObserverScope(FtpCallObserver &observer) : m_previous(t_observer)
{
    t_observer = &observer;
}

FtpObserverScope::~FtpObserverScope() { t_observer = m_previous; }

FtpLastError FtpSaveLastError() { return {t_lastError, t_lastReply.code, t_lastReply.text}; }

void FtpRestoreLastError(const FtpLastError &saved)
{
    t_lastError = saved.error;
    t_lastReply = {saved.responseNumber, saved.responseText};
}
