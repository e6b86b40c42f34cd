#include "remotesession.h"

#include <cstdlib>
#include <mutex>

namespace {

double envSeconds(const char *name, double fallback)
{
    const char *v = std::getenv(name);
    if (!v || !*v)
        return fallback;
    char *end = nullptr;
    const double d = std::strtod(v, &end);
    return (end && *end == '\0' && d > 0 && d < 1e7) ? d : fallback;
}

FtpTimeouts fromEnvironment()
{
    FtpTimeouts t;
    t.connectSeconds = envSeconds("VELMARIC_FTP_CONNECT_TIMEOUT", t.connectSeconds);
    t.replySeconds = envSeconds("VELMARIC_FTP_REPLY_TIMEOUT", t.replySeconds);
    t.stallSeconds = envSeconds("VELMARIC_FTP_STALL_TIMEOUT", t.stallSeconds);
    return t;
}

std::mutex g_timeoutsMutex;
std::string g_caFile;
// Read while the process starts, before any thread could be running.
FtpTimeouts g_timeouts = fromEnvironment();

} // namespace

FtpTimeouts FtpGetTimeouts()
{
    std::lock_guard lock(g_timeoutsMutex);
    return g_timeouts;
}

void FtpSetTimeouts(const FtpTimeouts &timeouts)
{
    std::lock_guard lock(g_timeoutsMutex);
    g_timeouts = timeouts;
}

void FtpSetCertificateAuthorities(const char *file)
{
    std::lock_guard lock(g_timeoutsMutex);
    g_caFile = file ? file : "";
}

std::string FtpCertificateAuthorities()
{
    std::lock_guard lock(g_timeoutsMutex);
    return g_caFile;
}

std::unique_ptr<RemoteSession> makeRemoteSession(const RemoteLogin &login)
{
    switch (login.server.scheme) {
    case RemoteScheme::Ftp:
    case RemoteScheme::Ftpes:
    case RemoteScheme::Ftps: return makeCurlFtpSession(login);
    case RemoteScheme::Sftp: return makeSftpSession(login);
    default: return nullptr;
    }
}
