#include "sftpsession.h"

#include "ftpthread.h"
#include "sshlogin.h"
#include "sshsocket.h"

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t readChunk = 64 * 1024; // what OpenSSH's server sends in one reply
constexpr std::size_t readDepth = 32;          // requests in flight during a Get
// A Put waits for each write's answer, so writes are as large as the server takes: OpenSSH's
// (it announces limits@openssh.com) takes 256 KiB messages; every server takes 32 KiB.
constexpr std::uint32_t largeWriteChunk = 240 * 1024;
constexpr std::uint32_t safeWriteChunk = 32 * 1024;
constexpr std::size_t maxListingEntries = 2'000'000; // as for FTP listings
constexpr std::size_t maxListingBytes = 256u << 20;

// Ends a call that waits inside libssh: on cancel, or when nothing moved for too long, it shuts
// the socket down, which makes every libssh wait return an error at once, and marks the
// connection broken (also when the call got through just before).
class Watchdog {
public:
    enum Fired { None, Cancelled, TimedOut };

    Watchdog(int fd, const std::atomic<bool> *cancelled, std::chrono::milliseconds idle,
             bool &broken)
        : m_fd(fd), m_cancelled(cancelled), m_idle(idle), m_broken(broken), m_last(Clock::now()),
          m_thread([this] { run(); })
    {}
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

    void touch()
    {
        std::lock_guard lock(m_mutex);
        m_last = Clock::now();
    }
    // While paused (a question to the user) only cancel counts.
    void pause(bool paused)
    {
        std::lock_guard lock(m_mutex);
        m_paused = paused;
        m_last = Clock::now();
    }
    Fired fired() const { return m_fired.load(); }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            m_wake.wait_for(lock, std::chrono::milliseconds(50));
            if (m_stop)
                break;
            Fired f = None;
            if (m_cancelled && m_cancelled->load())
                f = Cancelled;
            else if (!m_paused && Clock::now() - m_last > m_idle)
                f = TimedOut;
            if (f != None) {
                m_fired = f;
                m_broken = true; // read by the caller after the join
                ::shutdown(m_fd, SHUT_RDWR);
                break;
            }
        }
    }

    int m_fd;
    const std::atomic<bool> *m_cancelled;
    std::chrono::milliseconds m_idle;
    bool &m_broken;
    Clock::time_point m_last;
    bool m_paused = false;
    bool m_stop = false;
    std::atomic<Fired> m_fired{None};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
};

const char *statusName(int status)
{
    switch (status) {
    case SSH_FX_EOF: return "End of file";
    case SSH_FX_NO_SUCH_FILE: return "No such file";
    case SSH_FX_PERMISSION_DENIED: return "Permission denied";
    case SSH_FX_FAILURE: return "Failure";
    case SSH_FX_BAD_MESSAGE: return "Bad message";
    case SSH_FX_OP_UNSUPPORTED: return "Operation not supported";
    case SSH_FX_NO_SUCH_PATH: return "No such path";
    case SSH_FX_FILE_ALREADY_EXISTS: return "File already exists";
    case SSH_FX_WRITE_PROTECT: return "Write protected";
    case SSH_FX_NO_MEDIA: return "No media";
    default: return "SFTP error";
    }
}

std::chrono::milliseconds seconds(double s)
{
    return std::chrono::milliseconds(std::max(1LL, (long long)std::llround(s * 1000)));
}

std::mutex g_userFilesMutex;
// Read while the process starts, before any thread could be running.
SshUserFiles g_userFiles = [] {
    const char *home = std::getenv("HOME");
    const char *agent = std::getenv("SSH_AUTH_SOCK");
    return SshUserFiles{home ? home : "", agent ? agent : ""};
}();

struct AttributesPtr {
    sftp_attributes a = nullptr;
    ~AttributesPtr() { sftp_attributes_free(a); }
};

} // namespace

struct SftpSession::Impl {
    SftpLogin login;
    ssh_session ssh = nullptr;
    sftp_session sftp = nullptr;
    int fd = -1;
    bool broken = true; // no connection yet, or one cut by cancel, a time-out or the server
    std::string home;

    ~Impl() { close(); }

    static const std::atomic<bool> *cancelFlag()
    {
        FtpCallObserver *o = FtpThread::observer();
        return o ? &o->cancelled : nullptr;
    }

    void close()
    {
        if (sftp)
            sftp_free(sftp);
        sftp = nullptr;
        if (ssh) {
            ssh_disconnect(ssh); // closes fd too
            ssh_free(ssh);
        } else if (fd >= 0) {
            ::close(fd);
        }
        ssh = nullptr;
        fd = -1;
        broken = true;
    }

    // An SFTP status refusal is the server's reply; anything else is told in the detail.
    static DWORD fail(DWORD error, std::string text, DWORD code = 0)
    {
        std::string::size_type at = 0; // a reply's lines end in CR LF, as an FTP server's do
        while (error == ERROR_INTERNET_EXTENDED_ERROR &&
               (at = text.find('\n', at)) != std::string::npos) {
            text.insert(at, 1, '\r');
            at += 2;
        }
        if (error == ERROR_INTERNET_EXTENDED_ERROR)
            FtpThread::setLastReply({code, std::move(text)});
        else
            FtpThread::setDetail(std::move(text));
        return error;
    }

    // libssh's own words, on a line of their own below our sentence.
    std::string libsshReason() const
    {
        const char *e = ssh ? ssh_get_error(ssh) : nullptr;
        return std::string("\nlibssh: ") + (e && *e ? e : "no reason given");
    }

    // After a failed libssh call made under watchdog w.
    DWORD failure(const Watchdog &w, const std::string &what)
    {
        if (w.fired() == Watchdog::Cancelled) {
            broken = true;
            return fail(ERROR_INTERNET_OPERATION_CANCELLED, "Cancelled");
        }
        if (w.fired() == Watchdog::TimedOut) {
            broken = true;
            return fail(ERROR_INTERNET_TIMEOUT, what + ": the server did not answer in time");
        }
        const int status = sftp && ssh_is_connected(ssh) ? sftp_get_error(sftp)
                                                         : SSH_FX_CONNECTION_LOST;
        if (status == SSH_FX_CONNECTION_LOST || status == SSH_FX_NO_CONNECTION ||
            status == SSH_FX_OK || !ssh_is_connected(ssh)) {
            broken = true;
            return fail(ERROR_INTERNET_CONNECTION_ABORTED,
                        what + ": the SSH connection was lost." + libsshReason());
        }
        return fail(ERROR_INTERNET_EXTENDED_ERROR,
                    what + ": " + statusName(status) + "." + libsshReason(), DWORD(status));
    }

    std::chrono::milliseconds replyWait() const { return seconds(login.timeouts.replySeconds); }

    Watchdog watch(std::chrono::milliseconds idle)
    {
        return Watchdog(fd, cancelFlag(), idle, broken);
    }

    DWORD open();
    // A connection the server ended while idle (its FIN already here) is replaced before use.
    DWORD ensureOpen()
    {
        char byte;
        if (!broken && ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0)
            close();
        return broken ? open() : ERROR_SUCCESS;
    }
};

DWORD SftpSession::Impl::open()
{
    close();
    const auto deadline = Clock::now() + seconds(login.timeouts.connectSeconds);
    const SshSocketResult socket = openSshSocket(login.host, login.port, login.proxy, deadline,
                                                 cancelFlag());
    if (socket.fd < 0)
        return fail(socket.error, socket.message);
    fd = socket.fd;

    ssh = ssh_new();
    if (!ssh)
        return fail(ERROR_INTERNET_INTERNAL_ERROR, "libssh could not start a session");
    const std::string sshDir = login.files.home + "/.ssh";
    const std::string knownHosts = sshDir + "/known_hosts";
    const int port = login.port;
    const bool processConfig = false; // ~/.ssh/config could name another host, proxy or key
    const long connectSeconds = std::max(1L, long(std::ceil(login.timeouts.connectSeconds)));
    ssh_options_set(ssh, SSH_OPTIONS_HOST, login.host.c_str());
    ssh_options_set(ssh, SSH_OPTIONS_PORT, &port);
    if (!login.user.empty())
        ssh_options_set(ssh, SSH_OPTIONS_USER, login.user.c_str());
    ssh_options_set(ssh, SSH_OPTIONS_PROCESS_CONFIG, &processConfig);
    ssh_options_set(ssh, SSH_OPTIONS_SSH_DIR, sshDir.c_str());
    ssh_options_set(ssh, SSH_OPTIONS_KNOWNHOSTS, knownHosts.c_str());
    ssh_options_set(ssh, SSH_OPTIONS_TIMEOUT, &connectSeconds);
    // AES-GCM first: with AES-NI it outruns ChaCha20 by far on bulk transfers.
    const char *ciphers = "aes128-gcm@openssh.com,aes256-gcm@openssh.com,"
                          "chacha20-poly1305@openssh.com,aes128-ctr,aes256-ctr";
    ssh_options_set(ssh, SSH_OPTIONS_CIPHERS_C_S, ciphers);
    ssh_options_set(ssh, SSH_OPTIONS_CIPHERS_S_C, ciphers);
    socket_t handed = fd;
    ssh_options_set(ssh, SSH_OPTIONS_FD, &handed);

    const auto left = [&] {
        return std::max(
            std::chrono::milliseconds(1),
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    };
    {
        Watchdog w = watch(left());
        if (ssh_connect(ssh) != SSH_OK) {
            if (w.fired() == Watchdog::None)
                return fail(ERROR_INTERNET_SECURITY_CHANNEL_ERROR,
                            "The SSH handshake with " + login.host + " failed." + libsshReason());
            return failure(w, "Connecting to " + login.host);
        }
    }
    std::string refusal;
    if (const DWORD error = checkHostKey(ssh, login, refusal))
        return fail(error, refusal);
    {
        Watchdog w = watch(left());
        const SshAuthResult auth = authenticate(ssh, login, [&w](bool paused) { w.pause(paused); });
        if (!auth.ok) {
            if (w.fired() != Watchdog::None)
                return failure(w, "Logging in");
            return fail(ERROR_INTERNET_LOGIN_FAILURE, auth.message);
        }
    }
    Watchdog w = watch(replyWait());
    sftp = sftp_new(ssh);
    if (!sftp || sftp_init(sftp) != SSH_OK)
        return failure(w, "Starting SFTP");
    char *dot = sftp_canonicalize_path(sftp, ".");
    if (!dot)
        return failure(w, "Finding the home directory");
    home = dot;
    ssh_string_free_char(dot);
    broken = false;
    return ERROR_SUCCESS;
}

SftpSession::SftpSession(SftpLogin login) : d(std::make_unique<Impl>())
{
    d->login = std::move(login);
}

SftpSession::~SftpSession() = default;

DWORD SftpSession::connect() { return d->open(); }

std::string SftpSession::loginDirectory() const { return d->home; }

DWORD SftpSession::changeDirectory(const std::string &directory, std::string &current)
{
    if (const DWORD error = d->ensureOpen())
        return error;
    Watchdog w = d->watch(d->replyWait());
    AttributesPtr a{sftp_stat(d->sftp, directory.c_str())};
    if (!a.a)
        return d->failure(w, "Changing to " + directory);
    if (a.a->type != SSH_FILEXFER_TYPE_DIRECTORY)
        return d->fail(ERROR_INTERNET_EXTENDED_ERROR,
                       "Changing to " + directory + ": not a directory", SSH_FX_NO_SUCH_FILE);
    char *canonical = sftp_canonicalize_path(d->sftp, directory.c_str());
    if (!canonical)
        return d->failure(w, "Changing to " + directory);
    current = canonical;
    ssh_string_free_char(canonical);
    return ERROR_SUCCESS;
}

DWORD SftpSession::list(const std::string &directory, std::vector<FtpListEntry> &entries)
{
    entries.clear();
    if (const DWORD error = d->ensureOpen())
        return error;
    Watchdog w = d->watch(d->replyWait());
    sftp_dir dir = sftp_opendir(d->sftp, directory.c_str());
    if (!dir)
        return d->failure(w, "Listing " + directory);
    std::size_t bytes = 0;
    DWORD error = ERROR_SUCCESS;
    while (sftp_attributes a = sftp_readdir(d->sftp, dir)) {
        w.touch();
        const std::string_view name = a->name ? a->name : "";
        if (!name.empty() && name != "." && name != "..") {
            FtpListEntry e;
            e.name = ftpNameToUtf8(name);
            e.directory = a->type == SSH_FILEXFER_TYPE_DIRECTORY;
            e.size = (a->flags & SSH_FILEXFER_ATTR_SIZE) ? a->size : 0;
            bytes += e.name.size() + sizeof e;
            entries.push_back(std::move(e));
        }
        sftp_attributes_free(a);
        if (entries.size() > maxListingEntries || bytes > maxListingBytes) {
            error = d->fail(ERROR_NOT_ENOUGH_MEMORY,
                            "The listing was refused: it is longer than " +
                                std::to_string(maxListingEntries) + " entries or " +
                                std::to_string(maxListingBytes >> 20) + " MB.");
            break;
        }
        if (FtpCallObserver *o = FtpThread::observer(); o && o->progress)
            o->progress(entries.size(), 0);
    }
    if (!error && !sftp_dir_eof(dir))
        error = d->failure(w, "Listing " + directory);
    sftp_closedir(dir);
    return error;
}

DWORD SftpSession::get(const std::string &remote, int fd, bool)
{
    if (const DWORD error = d->ensureOpen())
        return error;
    Watchdog w = d->watch(seconds(d->login.timeouts.stallSeconds));
    sftp_file file = sftp_open(d->sftp, remote.c_str(), O_RDONLY, 0);
    if (!file)
        return d->failure(w, "Opening " + remote);
    std::uint64_t total = 0;
    if (AttributesPtr a{sftp_fstat(file)}; a.a && (a.a->flags & SSH_FILEXFER_ATTR_SIZE))
        total = a.a->size;

    // Requests stay in flight ahead of the one being read; each answer is written at its own
    // offset, a short answer asks again for the rest, and the file ends at the first end-of-file
    // answer, whatever the size said.
    struct Request {
        std::uint32_t id;
        std::uint64_t offset;
        std::uint32_t length;
    };
    std::deque<Request> inFlight;
    std::vector<char> buffer(readChunk);
    std::uint64_t next = 0, done = 0, end = UINT64_MAX, written = 0;
    DWORD error = ERROR_SUCCESS;
    const auto request = [&](std::uint64_t offset, std::uint32_t length) {
        sftp_seek64(file, offset);
        const int id = sftp_async_read_begin(file, length);
        if (id < 0)
            return false;
        inFlight.push_back({std::uint32_t(id), offset, length});
        return true;
    };
    for (std::size_t i = 0; i < readDepth && request(next, readChunk); ++i)
        next += readChunk;
    if (inFlight.empty())
        error = d->failure(w, "Reading " + remote);
    while (!inFlight.empty() && !error) {
        const Request r = inFlight.front();
        inFlight.pop_front();
        sftp_seek64(file, r.offset); // clears the end-of-file mark, so the answer is read
        const int n = sftp_async_read(file, buffer.data(), r.length, r.id);
        if (n < 0) {
            error = d->failure(w, "Reading " + remote);
            break;
        }
        w.touch();
        if (n == 0) {
            end = std::min(end, r.offset);
            continue;
        }
        for (std::size_t at = 0; at < std::size_t(n);) {
            const ssize_t put = ::pwrite(fd, buffer.data() + at, std::size_t(n) - at,
                                         off_t(r.offset + at));
            if (put < 0 && errno != EINTR) {
                error = d->fail(errnoToError(errno),
                                std::string("Writing the local file: ") + std::strerror(errno));
                break;
            }
            at += put > 0 ? std::size_t(put) : 0;
        }
        written = std::max(written, r.offset + std::uint64_t(n));
        done += std::uint64_t(n);
        if (FtpCallObserver *o = FtpThread::observer(); o && o->progress)
            o->progress(done, std::max(total, done));
        if (FtpThread::cancelled()) {
            d->broken = true;
            error = d->fail(ERROR_INTERNET_OPERATION_CANCELLED, "Cancelled");
            break;
        }
        const std::uint64_t rest = r.offset + std::uint64_t(n);
        bool asked = true;
        if (std::uint32_t(n) < r.length && rest < end)
            asked = request(rest, r.length - std::uint32_t(n));
        if (asked && end == UINT64_MAX) {
            asked = request(next, readChunk);
            next += readChunk;
        }
        if (!asked)
            error = d->failure(w, "Reading " + remote);
    }
    // Answers to requests still in flight would linger on the connection: start a new one.
    if (error && !inFlight.empty())
        d->broken = true;
    sftp_close(file);
    if (d->broken) {
        d->close();
        return error;
    }
    if (!error && written > end && ::ftruncate(fd, off_t(end)) != 0)
        error = d->fail(errnoToError(errno), "Writing the local file");
    return error;
}

DWORD SftpSession::put(int fd, std::uint64_t size, const std::string &remote, bool)
{
    if (const DWORD error = d->ensureOpen())
        return error;
    Watchdog w = d->watch(seconds(d->login.timeouts.stallSeconds));
    sftp_file file = sftp_open(d->sftp, remote.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!file)
        return d->failure(w, "Creating " + remote);
    std::vector<char> buffer(sftp_extension_supported(d->sftp, "limits@openssh.com", "1")
                                 ? largeWriteChunk
                                 : safeWriteChunk);
    std::uint64_t done = 0;
    DWORD error = ERROR_SUCCESS;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = d->fail(errnoToError(errno),
                            std::string("Reading the local file: ") + std::strerror(errno));
            break;
        }
        if (n == 0)
            break;
        if (sftp_write(file, buffer.data(), std::size_t(n)) != n) {
            error = d->failure(w, "Writing " + remote);
            break;
        }
        w.touch();
        done += std::uint64_t(n);
        if (FtpCallObserver *o = FtpThread::observer(); o && o->progress)
            o->progress(done, size);
        if (FtpThread::cancelled()) {
            d->broken = true; // the watchdog shuts the connection down as well
            error = d->fail(ERROR_INTERNET_OPERATION_CANCELLED, "Cancelled");
            break;
        }
    }
    if (sftp_close(file) != SSH_NO_ERROR && !error)
        error = d->failure(w, "Writing " + remote);
    if (d->broken)
        d->close();
    return error;
}

DWORD SftpSession::makeDirectory(const std::string &directory)
{
    if (const DWORD error = d->ensureOpen())
        return error;
    Watchdog w = d->watch(d->replyWait());
    return sftp_mkdir(d->sftp, directory.c_str(), 0755) == 0 ? ERROR_SUCCESS
                                                             : d->failure(w, "Making " + directory);
}

DWORD SftpSession::removeDirectory(const std::string &directory)
{
    if (const DWORD error = d->ensureOpen())
        return error;
    Watchdog w = d->watch(d->replyWait());
    return sftp_rmdir(d->sftp, directory.c_str()) == 0 ? ERROR_SUCCESS
                                                       : d->failure(w, "Removing " + directory);
}

DWORD SftpSession::deleteFile(const std::string &file)
{
    if (const DWORD error = d->ensureOpen())
        return error;
    Watchdog w = d->watch(d->replyWait());
    return sftp_unlink(d->sftp, file.c_str()) == 0 ? ERROR_SUCCESS
                                                   : d->failure(w, "Deleting " + file);
}

DWORD SftpSession::rename(const std::string &from, const std::string &to)
{
    if (const DWORD error = d->ensureOpen())
        return error;
    Watchdog w = d->watch(d->replyWait());
    return sftp_rename(d->sftp, from.c_str(), to.c_str()) == 0 ? ERROR_SUCCESS
                                                               : d->failure(w, "Renaming " + from);
}

SshUserFiles SftpGetUserFiles()
{
    std::lock_guard lock(g_userFilesMutex);
    return g_userFiles;
}

void SftpSetUserFiles(const SshUserFiles &files)
{
    std::lock_guard lock(g_userFilesMutex);
    g_userFiles = files;
}

std::unique_ptr<RemoteSession> makeSftpSession(const RemoteLogin &login)
{
    SftpLogin l;
    l.host = login.server.host;
    l.port = login.server.port;
    l.user = login.user;
    l.password = login.password;
    l.files = SftpGetUserFiles();
    l.proxy = login.proxy;
    l.timeouts = login.timeouts;
    return std::make_unique<SftpSession>(std::move(l));
}
