// velmaric-ftp: the FTP commands of velmaric-cli, which hands "ftp ..." over to it.
//   ls URL | get URL LOCAL | put LOCAL URL
//       [--ascii] [--active] [--proxy TEXT] [--cacert FILE] [--trust-new]
// URL is SCHEME://[user[:password]@]host[:port]/path with SCHEME ftp, ftpes (TLS required),
// ftps (implicit TLS) or sftp; the path is relative to the login directory (%2F makes it
// absolute). Without a password in the URL, ~/.netrc is used; for sftp, ssh-agent and the
// keys ~/.ssh/id_ed25519, id_ecdsa, id_rsa (a key's passphrase is never asked for here).
// A server whose certificate or host key can't be verified is refused, its fingerprint shown;
// --trust-new trusts and remembers it (never a changed one).
// Failures are reported with the FTP window's texts. Exit: 0 success, 1 failure, 2 usage.
#include "ftpurl.h"
#include "terminaltext.h"
#include "wininet.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char *usageText =
    "Usage: velmaric-cli ftp ls URL | get URL LOCAL | put LOCAL URL\n"
    "         [--ascii] [--active] [--proxy TEXT] [--cacert FILE] [--trust-new]\n"
    "URL: ftp://, ftpes:// (TLS required), ftps:// (implicit TLS) or sftp://\n"
    "     [user[:password]@]host[:port]/path\n"
    "Servers that do not verify are refused; --trust-new trusts and remembers a new one.\n";

int usage(const char *why = nullptr)
{
    if (why)
        std::fprintf(stderr, "velmaric-cli: %s\n", why);
    std::fputs(usageText, stderr);
    return 2;
}

std::optional<std::string> percentDecode(const std::string &s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(s[i + 2])))
            return std::nullopt;
        out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    return out;
}

struct FtpUrl {
    std::string server; // scheme://host[:port]
    std::string user;
    std::optional<std::string> password;
    std::string path; // relative to the login directory, or absolute
};

std::optional<FtpUrl> parseUrl(const std::string &url)
{
    const auto sep = url.find("://");
    const std::string scheme = url.substr(0, sep);
    if (sep == std::string::npos ||
        (scheme != "ftp" && scheme != "ftpes" && scheme != "ftps" && scheme != "sftp"))
        return std::nullopt;
    const std::string rest = url.substr(sep + 3);
    const auto slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    FtpUrl u;
    const auto at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string userInfo = authority.substr(0, at);
        authority.erase(0, at + 1);
        const auto colon = userInfo.find(':');
        const auto user = percentDecode(userInfo.substr(0, colon));
        if (!user)
            return std::nullopt;
        u.user = *user;
        if (colon != std::string::npos) {
            u.password = percentDecode(userInfo.substr(colon + 1));
            if (!u.password)
                return std::nullopt;
        }
    }
    if (authority.empty())
        return std::nullopt;
    u.server = scheme + "://" + authority;
    const auto path = percentDecode(slash == std::string::npos ? std::string()
                                                               : rest.substr(slash + 1));
    if (!path)
        return std::nullopt;
    u.path = *path;
    return u;
}

// The URL as it may be shown: any password replaced, the rest escaped for a terminal.
std::string shownUrl(std::string url)
{
    const auto sep = url.find("://");
    const auto authorityEnd = sep == std::string::npos ? sep : url.find('/', sep + 3);
    const auto at = sep == std::string::npos ? sep : url.rfind('@', authorityEnd);
    const auto colon = at == std::string::npos || at < sep ? at : url.find(':', sep + 3);
    if (at != std::string::npos && at > sep && colon < at)
        url.replace(colon + 1, at - colon - 1, "***");
    return escapeForTerminal(url);
}

// Overwrites the password in an argument in place, so that the process list (ps, /proc) no
// longer shows it once the URL has been read, as curl does with its -u argument.
void hidePassword(char *arg)
{
    char *authority = std::strstr(arg, "://");
    if (!authority)
        return;
    authority += 3;
    char *const end = authority + std::strcspn(authority, "/");
    char *at = nullptr;
    for (char *p = authority; p < end; ++p)
        if (*p == '@')
            at = p;
    char *const colon =
        at ? static_cast<char *>(std::memchr(authority, ':', size_t(at - authority))) : nullptr;
    if (colon)
        std::memset(colon + 1, '*', size_t(at - colon - 1));
}

// Text from the network, a line at a time, safe for a terminal.
std::string escapedLines(const std::string &text)
{
    std::string out;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (start)
            out += '\n';
        out += escapeForTerminal(line);
        start = end + 1;
    }
    return out;
}

// Prints what ErrorOut shows; the question that follows it there has no place here.
int report(const char *call)
{
    const DWORD error = GetLastError();
    if (error == ERROR_INTERNET_EXTENDED_ERROR) {
        DWORD number = 0, length = 0;
        InternetGetLastResponseInfoA(&number, nullptr, &length);
        std::string text(length + 1, '\0');
        ++length;
        InternetGetLastResponseInfoA(&number, text.data(), &length);
        text.resize(length);
        std::fprintf(stderr, "%s Extd Err: %u %s\n", call, number, escapedLines(text).c_str());
    }
    std::fprintf(stderr, "%s Err: %u\n", call, error);
    if (const std::string detail = FtpLastErrorDetail(); !detail.empty())
        std::fprintf(stderr, "%s\n", escapedLines(detail).c_str());
    if (error == ERROR_INTERNET_INVALID_CA)
        std::fputs("Compare the fingerprint with the one the server's owner gives you; to trust "
                   "the server, run the command again with --trust-new.\n",
                   stderr);
    return 1;
}

// A progress line on a terminal, a few times a second.
class ProgressLine {
public:
    explicit ProgressLine(std::string name)
        : m_name(std::move(name)), m_shown(isatty(STDERR_FILENO))
    {
        if (m_shown)
            m_observer.progress = [this](std::uint64_t done, std::uint64_t total) {
                show(done, total, false);
            };
    }
    ~ProgressLine()
    {
        if (m_drawn)
            std::fputc('\n', stderr);
    }
    FtpCallObserver &observer() { return m_observer; }

private:
    void show(std::uint64_t done, std::uint64_t total, bool force)
    {
        const auto now = std::chrono::steady_clock::now();
        if (!force && m_drawn && now - m_last < std::chrono::milliseconds(200))
            return;
        m_last = now;
        m_drawn = true;
        if (total)
            std::fprintf(stderr, "\r%s: %llu of %llu bytes (%llu%%)", m_name.c_str(),
                         (unsigned long long)done, (unsigned long long)total,
                         (unsigned long long)(done * 100 / total));
        else
            std::fprintf(stderr, "\r%s: %llu bytes", m_name.c_str(), (unsigned long long)done);
    }

    std::string m_name;
    bool m_shown;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_last;
    FtpCallObserver m_observer;
};

std::string baseName(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isDirectory(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Session and connection, closed in the order the window closes them.
struct Connection {
    HINTERNET open = 0;
    HINTERNET connect = 0;
    ~Connection()
    {
        if (connect)
            InternetCloseHandle(connect);
        if (open)
            InternetCloseHandle(open);
    }
};

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args;
    std::vector<char *> argSources; // where each of args came from, to hide passwords
    DWORD type = FTP_TRANSFER_TYPE_BINARY;
    DWORD flags = INTERNET_FLAG_PASSIVE;
    std::string proxy;
    bool trustNew = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--ascii")
            type = FTP_TRANSFER_TYPE_ASCII;
        else if (a == "--active")
            flags = 0;
        else if ((a == "--proxy" || a == "--cacert") && i + 1 == argc)
            return usage(("option " + a + " needs a value").c_str());
        else if (a == "--proxy")
            proxy = argv[++i];
        else if (a == "--cacert") {
            // Said now, before any connection, rather than as a failed handshake.
            if (::access(argv[++i], R_OK) != 0)
                return usage(("can't read the certificate authorities in " +
                              escapeForTerminal(argv[i]) + ": " + std::strerror(errno))
                                 .c_str());
            FtpSetCertificateAuthorities(argv[i]);
        } else if (a == "--trust-new")
            trustNew = true;
        else if (a == "--help")
            return std::fputs(usageText, stdout), 0;
        else if (a.size() > 1 && a[0] == '-')
            return usage(("unknown option '" + escapeForTerminal(a) + "'").c_str());
        else {
            args.push_back(a);
            argSources.push_back(argv[i]);
        }
    }
    if (args.empty())
        return usage();
    const std::string &command = args[0];
    const bool ls = command == "ls" && args.size() == 2;
    const bool get = command == "get" && args.size() == 3;
    const bool put = command == "put" && args.size() == 3;
    if (!ls && !get && !put)
        return usage();
    const std::string &urlText = put ? args[2] : args[1];
    hidePassword(argSources[put ? 2 : 1]);
    const auto url = parseUrl(urlText);
    if (!url) {
        std::fprintf(stderr, "velmaric-cli: not an ftp://, ftpes://, ftps:// or sftp:// URL: %s\n",
                     shownUrl(urlText).c_str());
        return 2;
    }
    if (RemoteServer server; parseServerText(url->server, 0, server) != ServerTextError::None ||
                             server.host.size() > 253) {
        std::fprintf(stderr,
                     "velmaric-cli: not a host name or address with a port of 1 to 65535 "
                     "in the URL: %s\n",
                     shownUrl(urlText).c_str());
        return 2;
    }

    Connection c;
    c.open = InternetOpenA("vb wininet",
                           proxy.empty() ? INTERNET_OPEN_TYPE_DIRECT : INTERNET_OPEN_TYPE_PROXY,
                           proxy.c_str(), nullptr, 0);
    if (!c.open)
        return report("InternetOpen");
    {
        ProgressLine progress("connecting");
        // Never asks: --trust-new answers for the user, a changed key is refused whatever.
        if (trustNew)
            progress.observer().trust = [](const ServerIdentity &id) {
                std::fprintf(stderr, "Trusting %s from now on: SHA-256 fingerprint %s\n",
                             id.hostPort.c_str(), escapeForTerminal(id.fingerprint).c_str());
                return true;
            };
        const FtpObserverScope scope(progress.observer());
        c.connect = InternetConnectA(c.open, url->server.c_str(), 0, url->user.c_str(),
                                     url->password ? url->password->c_str() : nullptr,
                                     INTERNET_SERVICE_FTP, flags, 0);
    }
    if (!c.connect)
        return report("InternetConnect");

    if (ls) {
        WIN32_FIND_DATA data;
        const HINTERNET find = FtpFindFirstFileA(c.connect, url->path.c_str(), &data, 0, 0);
        if (!find)
            return GetLastError() == ERROR_NO_MORE_FILES ? 0 : report("FtpFindFirstFile");
        do
            std::printf("%u\t%s\n", data.dwFileAttributes,
                        escapeForTerminal(data.cFileName).c_str());
        while (InternetFindNextFileA(find, &data));
        const DWORD error = GetLastError();
        InternetCloseHandle(find);
        if (error != ERROR_NO_MORE_FILES) {
            SetLastError(error);
            return report("InternetFindNextFile");
        }
        return 0;
    }
    if (get) {
        if (url->path.empty() || url->path.back() == '/') {
            std::fprintf(stderr, "velmaric-cli: the URL names no file: %s\n",
                         shownUrl(args[1]).c_str());
            return 2;
        }
        std::string local = args[2];
        if (isDirectory(local))
            local += "/" + baseName(url->path);
        ProgressLine progress(baseName(url->path));
        const FtpObserverScope scope(progress.observer());
        return FtpGetFileA(c.connect, url->path.c_str(), local.c_str(), false, INTERNET_FLAG_RELOAD,
                           type, 0)
                   ? 0
                   : report("FtpGetFile");
    }
    std::string remote = url->path;
    if (remote.empty() || remote.back() == '/')
        remote += baseName(args[1]);
    ProgressLine progress(baseName(args[1]));
    const FtpObserverScope scope(progress.observer());
    return FtpPutFileA(c.connect, args[1].c_str(), remote.c_str(), type, 0) ? 0
                                                                            : report("FtpPutFile");
}
