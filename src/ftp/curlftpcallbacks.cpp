// libcurl's callbacks for one FTP connection, and what its results mean in error numbers.
#include "curlftpsession.h"

#include "ftpthread.h"

#include <algorithm>
#include <cerrno>

#include <unistd.h>

namespace CurlFtp {

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

} // namespace CurlFtp
