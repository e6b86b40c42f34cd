// The public WinINet functions: argument checks, handles and the current directory; the
// transports behind RemoteSession do the talking.
#include "wininet.h"

#include "atomicfile.h"
#include "ftpthread.h"
#include "ftpurl.h"
#include "handletable.h"
#include "remotesession.h"
#include "uniquefd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using FtpThread::fail;

namespace {

std::string text(const char *s) { return s ? std::string(s) : std::string(); }

HandleTable &handles() { return HandleTable::instance(); }

// Also starts the call afresh: no detail from an earlier failure.
std::shared_ptr<FtpConnection> connectionOf(HINTERNET h)
{
    FtpThread::setDetail({});
    auto c = handles().get<std::shared_ptr<FtpConnection>>(h);
    if (!c)
        fail(ERROR_INVALID_HANDLE);
    return c ? *c : nullptr;
}

bool done(DWORD error) { return error ? fail(error) : (FtpThread::succeed(), true); }

void fill(WIN32_FIND_DATA *data, const FtpListEntry &e)
{
    data->dwFileAttributes = e.directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    data->nFileSize = e.size;
    data->cFileName = e.name;
}

// A remote name the calls accept: not empty, no control characters (a line end would let it
// smuggle in a command of its own). The path it names on the connection, or empty.
std::string remotePath(const FtpConnection &c, const char *name)
{
    const std::string n = text(name);
    if (n.empty())
        return fail(ERROR_INVALID_PARAMETER), std::string();
    if (hasControlCharacters(n))
        return fail(ERROR_INVALID_NAME), std::string();
    return joinRemote(c.currentDirectory, n);
}

} // namespace

HINTERNET InternetOpenA(const char *, DWORD accessType, const char *proxy, const char *, DWORD)
{
    FtpThread::setDetail({});
    InternetSession s;
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
    FtpThread::succeed();
    return handles().add(std::move(s));
}

HINTERNET InternetConnectA(HINTERNET hInternet, const char *server, std::uint16_t port,
                           const char *user, const char *password, DWORD service, DWORD flags,
                           std::uintptr_t)
{
    FtpThread::setDetail({});
    const auto session = handles().get<InternetSession>(hInternet);
    if (!session)
        return fail(ERROR_INVALID_HANDLE), 0;
    if (service != INTERNET_SERVICE_FTP)
        return fail(ERROR_INVALID_PARAMETER), 0;
    RemoteLogin login;
    switch (parseServerText(text(server), port, login.server)) {
    case ServerTextError::None: break;
    case ServerTextError::UnknownScheme: return fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME), 0;
    case ServerTextError::BadAuthority: return fail(ERROR_INTERNET_NAME_NOT_RESOLVED), 0;
    }
    login.user = text(user);
    login.password = text(password);
    login.useNetrc = password == nullptr;
    // Without a name SSH logs in as the local user, as ssh does.
    if (login.user.empty() && !login.useNetrc && login.server.scheme != RemoteScheme::Sftp) {
        login.user = "anonymous";
        if (login.password.empty())
            login.password = "anonymous@";
    }
    // A line end in a name would let it smuggle in a command of its own.
    if (hasControlCharacters(login.user) || hasControlCharacters(login.password))
        return fail(ERROR_INVALID_PARAMETER), 0;
    login.passive = (flags & INTERNET_FLAG_PASSIVE) != 0;
    login.proxy = session->proxy;
    login.timeouts = FtpGetTimeouts();
    login.caFile = FtpCertificateAuthorities();

    auto c = std::make_shared<FtpConnection>();
    c->session = makeRemoteSession(login);
    if (!c->session)
        return fail(ERROR_INTERNET_UNRECOGNIZED_SCHEME), 0;
    if (const DWORD error = c->session->connect())
        return fail(error), 0;
    c->loginDirectory = c->session->loginDirectory();
    c->currentDirectory = c->loginDirectory;
    FtpThread::succeed();
    return handles().add(std::move(c));
}

bool FtpSetCurrentDirectoryA(HINTERNET hConnect, const char *directory)
{
    const auto c = connectionOf(hConnect);
    if (!c)
        return false;
    const std::string target = remotePath(*c, directory);
    if (target.empty())
        return false;
    std::string now;
    if (const DWORD error = c->session->changeDirectory(target, now))
        return fail(error);
    c->currentDirectory = now;
    return done(0);
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
    auto find = std::make_shared<FtpFind>();
    const DWORD error = c->session->list(
        wildcard ? c->currentDirectory : joinRemote(c->currentDirectory, search), find->entries);
    if (find->entries.empty())
        return fail(error ? error : ERROR_NO_MORE_FILES), 0;
    if (error) { // delivered up to the point the listing broke off
        find->endError = error;
        find->endReply = FtpThread::lastReply();
        find->endDetail = FtpLastErrorDetail();
    }
    fill(findData, find->entries.front());
    find->next = 1;
    FtpThread::succeed();
    return handles().add(std::move(find));
}

bool InternetFindNextFileA(HINTERNET hFind, WIN32_FIND_DATA *findData)
{
    const auto found = handles().get<std::shared_ptr<FtpFind>>(hFind);
    if (!found)
        return fail(ERROR_INVALID_HANDLE);
    if (!findData)
        return fail(ERROR_INVALID_PARAMETER);
    FtpFind &f = **found;
    if (f.next < f.entries.size()) {
        fill(findData, f.entries[f.next++]);
        return true;
    }
    if (f.endError != ERROR_NO_MORE_FILES) {
        FtpThread::setLastReply(f.endReply);
        FtpThread::setDetail(f.endDetail);
    }
    return fail(f.endError);
}

bool FtpGetFileA(HINTERNET hConnect, const char *remoteFile, const char *newFile, bool failIfExists,
                 DWORD, DWORD flags, std::uintptr_t)
{
    const auto c = connectionOf(hConnect);
    if (!c)
        return false;
    const std::string local = text(newFile);
    if (local.empty())
        return fail(ERROR_INVALID_PARAMETER);
    const std::string remote = remotePath(*c, remoteFile);
    if (remote.empty())
        return false;
    struct stat st;
    if (failIfExists && ::lstat(local.c_str(), &st) == 0)
        return fail(ERROR_FILE_EXISTS);
    AtomicFile file(local);
    if (file.fd() < 0)
        return fail(errnoToError(file.error()));
    if (const DWORD error = c->session->get(remote, file.fd(),
                                            (flags & 3) == FTP_TRANSFER_TYPE_ASCII))
        return fail(error);
    if (const int err = file.commit())
        return fail(errnoToError(err));
    return done(0);
}

bool FtpPutFileA(HINTERNET hConnect, const char *localFile, const char *newRemoteFile, DWORD flags,
                 std::uintptr_t)
{
    const auto c = connectionOf(hConnect);
    if (!c)
        return false;
    const std::string remote = remotePath(*c, newRemoteFile);
    if (remote.empty())
        return false;
    const UniqueFd fd(::open(text(localFile).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0)
        return fail(errno == ENOENT ? ERROR_FILE_NOT_FOUND : errnoToError(errno));
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return fail(ERROR_ACCESS_DENIED);
    return done(c->session->put(fd.get(), std::uint64_t(st.st_size), remote,
                                (flags & 3) == FTP_TRANSFER_TYPE_ASCII));
}

bool FtpCreateDirectoryA(HINTERNET hConnect, const char *directory)
{
    const auto c = connectionOf(hConnect);
    const std::string path = c ? remotePath(*c, directory) : std::string();
    return !path.empty() && done(c->session->makeDirectory(path));
}

bool FtpRemoveDirectoryA(HINTERNET hConnect, const char *directory)
{
    const auto c = connectionOf(hConnect);
    const std::string path = c ? remotePath(*c, directory) : std::string();
    return !path.empty() && done(c->session->removeDirectory(path));
}

bool FtpDeleteFileA(HINTERNET hConnect, const char *fileName)
{
    const auto c = connectionOf(hConnect);
    const std::string path = c ? remotePath(*c, fileName) : std::string();
    return !path.empty() && done(c->session->deleteFile(path));
}

bool FtpRenameFileA(HINTERNET hConnect, const char *existing, const char *newName)
{
    const auto c = connectionOf(hConnect);
    const std::string from = c ? remotePath(*c, existing) : std::string();
    const std::string to = from.empty() ? std::string() : remotePath(*c, newName);
    return !to.empty() && done(c->session->rename(from, to));
}

bool InternetCloseHandle(HINTERNET hInternet)
{
    return handles().remove(hInternet) || fail(ERROR_INVALID_HANDLE);
}
