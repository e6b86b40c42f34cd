#include "tlsprobe.h"

#include "ftpthread.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <poll.h>

#include <chrono>
#include <memory>

namespace {

template<typename T, void (*Free)(T *)>
struct Deleter {
    void operator()(T *p) const { Free(p); }
};
using CtxPtr = std::unique_ptr<SSL_CTX, Deleter<SSL_CTX, SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, Deleter<SSL, SSL_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
struct EasyDeleter {
    void operator()(CURL *h) const { curl_easy_cleanup(h); }
};

using Clock = std::chrono::steady_clock;

int onProgress(void *, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return FtpThread::cancelled() ? 1 : 0;
}

// Waits for the socket until the deadline, a cancel ending the wait within 100 ms.
DWORD waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        if (FtpThread::cancelled())
            return ERROR_INTERNET_OPERATION_CANCELLED;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                Clock::now());
        if (left.count() <= 0)
            return ERROR_INTERNET_TIMEOUT;
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, int(std::min<long long>(left.count(), 100)));
        if (r > 0)
            return ERROR_SUCCESS;
        if (r < 0 && errno != EINTR)
            return ERROR_INTERNET_CONNECTION_ABORTED;
    }
}

// One complete reply (not a preliminary 1yz one) read on the plain connection.
DWORD readReply(CURL *h, int fd, Clock::time_point deadline, FtpReply &reply)
{
    FtpReplyParser parser;
    char buffer[1024];
    for (;;) {
        for (const FtpReply &r : parser.replies())
            if (r.code >= 200) {
                reply = r;
                FtpThread::setLastReply(r);
                return ERROR_SUCCESS;
            }
        size_t n = 0;
        const CURLcode rc = curl_easy_recv(h, buffer, sizeof buffer, &n);
        if (rc == CURLE_AGAIN) {
            if (const DWORD e = waitFor(fd, POLLIN, deadline))
                return e;
            continue;
        }
        if (rc != CURLE_OK || n == 0)
            return ERROR_INTERNET_CONNECTION_ABORTED;
        parser.feed({buffer, n});
    }
}

std::string hexFingerprint(const X509 *cert)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    X509_digest(cert, EVP_sha256(), md, &n);
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < n; ++i) {
        if (i)
            out += ':';
        out += hex[md[i] >> 4];
        out += hex[md[i] & 15];
    }
    return out;
}

std::string publicKeyPin(X509 *cert)
{
    unsigned char *der = nullptr;
    const int len = i2d_PUBKEY(X509_get0_pubkey(cert), &der);
    if (len <= 0)
        return {};
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(der, std::size_t(len), md, &n, EVP_sha256(), nullptr);
    OPENSSL_free(der);
    unsigned char b64[4 * EVP_MAX_MD_SIZE / 3 + 4];
    const int m = EVP_EncodeBlock(b64, md, int(n));
    return "sha256//" + std::string(reinterpret_cast<char *>(b64), std::size_t(m));
}

template<typename Print>
std::string printed(Print print)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    print(bio.get());
    char *data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, std::size_t(n > 0 ? n : 0));
}

bool isAddress(const std::string &host)
{
    unsigned char buf[16];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

} // namespace

DWORD probeServerCertificate(const RemoteLogin &login, ServerIdentity &identity, std::string &pin)
{
    const auto deadline = Clock::now() +
                          std::chrono::milliseconds(long(login.timeouts.connectSeconds * 1000));
    // libcurl makes the connection (through the proxy, if any) and sends nothing on it.
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    CURL *h = easy.get();
    if (!h)
        return ERROR_INTERNET_INTERNAL_ERROR;
    const std::string url = "http://" + login.server.authority() + "/";
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROXY, login.proxy.c_str());
    if (login.proxy.rfind("http", 0) == 0)
        curl_easy_setopt(h, CURLOPT_HTTPPROXYTUNNEL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(login.timeouts.connectSeconds * 1000));
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    switch (curl_easy_perform(h)) {
    case CURLE_OK: break;
    case CURLE_ABORTED_BY_CALLBACK: return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_OPERATION_TIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    default: return ERROR_INTERNET_CANNOT_CONNECT;
    }
    curl_socket_t fd = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(h, CURLINFO_ACTIVESOCKET, &fd) != CURLE_OK || fd == CURL_SOCKET_BAD)
        return ERROR_INTERNET_CANNOT_CONNECT;

    if (login.server.scheme == RemoteScheme::Ftpes) {
        FtpReply reply;
        if (const DWORD e = readReply(h, fd, deadline, reply))
            return e;
        if (reply.code != 220)
            return ERROR_INTERNET_EXTENDED_ERROR;
        static const char auth[] = "AUTH TLS\r\n";
        size_t sent = 0;
        if (curl_easy_send(h, auth, sizeof auth - 1, &sent) != CURLE_OK || sent != sizeof auth - 1)
            return ERROR_INTERNET_CONNECTION_ABORTED;
        if (const DWORD e = readReply(h, fd, deadline, reply))
            return e;
        if (reply.code != 234)
            return ERROR_INTERNET_EXTENDED_ERROR;
    }

    CtxPtr ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx)
        return ERROR_INTERNET_INTERNAL_ERROR;
    if (login.caFile.empty())
        SSL_CTX_set_default_verify_paths(ctx.get());
    else
        SSL_CTX_load_verify_locations(ctx.get(), login.caFile.c_str(), nullptr);
    // Verified below, to tell the user why not; the handshake itself must go through.
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);
    SslPtr ssl(SSL_new(ctx.get()));
    if (!ssl || SSL_set_fd(ssl.get(), fd) != 1)
        return ERROR_INTERNET_INTERNAL_ERROR;
    const std::string &host = login.server.host;
    X509_VERIFY_PARAM *param = SSL_get0_param(ssl.get());
    if (isAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl.get(), host.c_str());
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
    }
    for (;;) {
        ERR_clear_error();
        const int r = SSL_connect(ssl.get());
        if (r == 1)
            break;
        const int why = SSL_get_error(ssl.get(), r);
        if (why != SSL_ERROR_WANT_READ && why != SSL_ERROR_WANT_WRITE) {
            char reason[256] = "";
            ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
            FtpThread::setDetail("The TLS handshake with " + login.server.authority() +
                                 " failed.\n" + reason);
            return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
        }
        if (const DWORD e = waitFor(fd, why == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline))
            return e;
    }
    X509Ptr cert(SSL_get1_peer_certificate(ssl.get()));
    if (!cert)
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;

    identity = {};
    identity.kind = ServerIdentity::Kind::TlsCertificate;
    identity.hostPort = login.server.authority();
    const long verify = SSL_get_verify_result(ssl.get());
    identity.reason = verify == X509_V_OK ? "not trusted here"
                                          : X509_verify_cert_error_string(verify);
    const auto name = [](X509_NAME *n) {
        return printed([n](BIO *b) { X509_NAME_print_ex(b, n, 0, XN_FLAG_ONELINE); });
    };
    identity.subject = name(X509_get_subject_name(cert.get()));
    identity.issuer = name(X509_get_issuer_name(cert.get()));
    identity.validity = printed([&](BIO *b) {
        ASN1_TIME_print(b, X509_get0_notBefore(cert.get()));
        BIO_puts(b, " until ");
        ASN1_TIME_print(b, X509_get0_notAfter(cert.get()));
    });
    identity.fingerprint = hexFingerprint(cert.get());
    pin = publicKeyPin(cert.get());
    return ERROR_SUCCESS;
}
