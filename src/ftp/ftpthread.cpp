#include "ftpthread.h"

#include <cerrno>
#include <cstring>

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local FtpReply t_lastReply;
thread_local std::string t_detail;
thread_local FtpCallObserver *t_observer = nullptr;

} // namespace

namespace FtpThread {

bool fail(DWORD error)
{
    t_lastError = error;
    return false;
}

void succeed()
{
    t_lastError = ERROR_SUCCESS;
    t_detail.clear();
}

void setDetail(std::string detail) { t_detail = std::move(detail); }

const FtpReply &lastReply() { return t_lastReply; }

void setLastReply(FtpReply reply) { t_lastReply = std::move(reply); }

FtpCallObserver *observer() { return t_observer; }

bool cancelled() { return t_observer && t_observer->cancelled.load(); }

} // namespace FtpThread

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

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD error) { t_lastError = error; }

bool InternetGetLastResponseInfoA(DWORD *error, char *buffer, DWORD *bufferLength)
{
    if (!bufferLength)
        return FtpThread::fail(ERROR_INVALID_PARAMETER);
    if (error)
        *error = t_lastReply.code;
    const std::string &reply = t_lastReply.text;
    if (!buffer || *bufferLength <= reply.size()) {
        *bufferLength = DWORD(reply.size());
        return FtpThread::fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(buffer, reply.data(), reply.size());
    buffer[reply.size()] = '\0';
    *bufferLength = DWORD(reply.size());
    return true;
}

FtpObserverScope::FtpObserverScope(FtpCallObserver &observer) : m_previous(t_observer)
{
    t_observer = &observer;
}

FtpObserverScope::~FtpObserverScope() { t_observer = m_previous; }

std::string FtpLastErrorDetail() { return t_detail; }

FtpLastError FtpSaveLastError()
{
    return {t_lastError, t_lastReply.code, t_lastReply.text, t_detail};
}

void FtpRestoreLastError(const FtpLastError &saved)
{
    t_lastError = saved.error;
    t_lastReply = {saved.responseNumber, saved.responseText};
    t_detail = saved.detail;
}
