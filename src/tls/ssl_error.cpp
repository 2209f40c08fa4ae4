// OpenSSL's verdicts in words: the session's error text after a failed TLS operation, and the
// trace of a server certificate that verification rejected.
#include <cstdio>
#include <cstring>
#include <string>

#include "diag/trace.h"
#include "platform/system_error.h"
#include "tls/ssl_session.h"

namespace {

struct CodeText {
    const char *name;  // as in the trace line and the sentence
    const char *words;
};

const CodeText kCodes[] = {
    {"SSL_ERROR_NONE", "operation completed"},
    {"SSL_ERROR_SSL", "protocol error"},
    {"SSL_ERROR_WANT_READ", "operation did not complete"},
    {"SSL_ERROR_WANT_WRITE", "operation did not complete"},
    {"SSL_ERROR_WANT_X509_LOOKUP", "application callback wants retry"},
    {"SSL_ERROR_SYSCALL", "I/O error"},
    {"SSL_ERROR_ZERO_RETURN", "connection closed"},
    {"SSL_ERROR_WANT_CONNECT", "socket not connected"},
    {"SSL_ERROR_WANT_ACCEPT", "socket not connected"},
};
constexpr int kErrorSyscall = 5;

} // namespace

void s_setSessionError(RavlinkSSLsession *session, const char *text) {
    std::size_t n = std::strlen(text);
    if (n > sizeof session->lastError - 1) n = sizeof session->lastError - 1;
    std::memcpy(session->lastError, text, n);
    session->lastError[n] = '\0';
    session->lastErrorLength = n;
}

void s_SSLerror(int code, const char *operation, RavlinkSSLsession *session) {
    // The system's code first, before any call below can change it.
    std::uint32_t systemError = plat::last_system_error();
    ravlink_tracelog2("\r\nSSL/TLS error return from %s.", operation);

    char text[1024];
    if (code >= 0 && code < static_cast<int>(sizeof kCodes / sizeof kCodes[0])) {
        const CodeText &c = kCodes[code];
        ravlink_tracelog2("\r\n%s: %s", c.name, c.words);
        if (code == kErrorSyscall)
            std::snprintf(text, sizeof text, "SSL/TLS error in %s, %s: %s (%d)", operation, c.name, c.words,
                          static_cast<int>(systemError));
        else
            std::snprintf(text, sizeof text, "SSL/TLS error in %s, %s: %s", operation, c.name, c.words);
    } else {
        ravlink_tracelog2("\r\nUnknown error code: %d", code);
        std::snprintf(text, sizeof text, "SSL/TLS error in %s, Unknown error code: %d", operation, code);
    }
    std::string result = text;
    s_drainErrorQueue(result);
    s_setSessionError(session, result.c_str());
}

void s_drainErrorQueue(std::string &text) {
    for (unsigned long e = ossl::api.ERR_get_error(); e != 0; e = ossl::api.ERR_get_error()) {
        char entry[256];
        ossl::api.ERR_error_string(e, entry);
        ravlink_tracelog2("\r\n%s", entry);
        const std::size_t separator = text.empty() ? 0 : 2;
        if (text.size() + separator + std::strlen(entry) < 256) {
            if (separator != 0) text += ", ";
            text += entry;
        }
    }
}

int s_verifyCallback(int preverify, ossl::X509_STORE_CTX *store) {
    if (preverify != 0) return preverify;
    ossl::X509 *cert = ossl::api.X509_STORE_CTX_get_current_cert(store);
    int depth = ossl::api.X509_STORE_CTX_get_error_depth(store);
    int error = ossl::api.X509_STORE_CTX_get_error(store);
    ravlink_tracelog2("\r\nVerify error with X.509 certificate at depth %d", depth);
    char name[256];
    name[0] = '\0';
    if (cert != nullptr) ossl::api.X509_NAME_oneline(ossl::api.X509_get_subject_name(cert), name, sizeof name);
    ravlink_tracelog2("\r\nSubject: %s", name);
    name[0] = '\0';
    if (cert != nullptr) ossl::api.X509_NAME_oneline(ossl::api.X509_get_issuer_name(cert), name, sizeof name);
    ravlink_tracelog2("\r\nIssuer: %s", name);
    ravlink_tracelog2("\r\nError: %d, %s", error, ossl::api.X509_verify_cert_error_string(error));
    return preverify;
}
