// The server's name on a TLS connection: sent as the server name indication when the caller
// connected by a host name, and, when asked for, matched against the server's certificate.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "diag/trace.h"
#include "tls/ssl_session.h"

namespace {

using ossl::api;

// Level-11 records cannot carry the setting without changing their layout: it is process-wide.
std::atomic<std::int32_t> verifyForRecords{0};

// An IPv6 address holds a colon; an IPv4 address only digits and dots (no host name does:
// top-level labels are never all digits).
bool is_ip_address(const std::string &host) {
    return host.find(':') != std::string::npos || host.find_first_not_of("0123456789.") == std::string::npos;
}

bool host_checks_available() {
    return api.SSL_get0_param != nullptr && api.X509_VERIFY_PARAM_set1_host != nullptr &&
           api.X509_VERIFY_PARAM_set1_ip_asc != nullptr;
}

void fail(RavlinkSSLsession *session, const std::string &text) {
    s_setSessionError(session, text.c_str());
    ravlink_tracelog2("\r\nError in SSLconfig():  %s", session->lastError);
}

} // namespace

extern "C" RAVLINK_API int32_t RavlinkSetVerifyHostName(int32_t verify) {
    return verifyForRecords.exchange(verify != 0 ? 1 : 0);
}

std::int32_t s_verifyHostNameForRecords() { return verifyForRecords; }

bool s_setSSLpeer(RavlinkSSLsession *session, const char *host, std::int32_t verifyHostName) {
    try {
        session->host = host != nullptr ? host : "";
    } catch (const std::bad_alloc &) {
        return false;
    }
    session->verifyHostName = verifyHostName;
    return true;
}

bool s_applyPeerName(RavlinkSSLsession *session, ossl::SSL *ssl, bool verify) {
    const std::string &host = session->host;
    if (!host.empty() && !is_ip_address(host) && api.SSL_ctrl != nullptr) {
        ravlink_tracelog2("\r\nServer name indication: %s", host.c_str());
        api.SSL_ctrl(ssl, ossl::kCtrlSetHostName, ossl::kHostNameType, const_cast<char *>(host.c_str()));
    }
    if (!verify) return true;
    ravlink_tracelog2("\r\nVerify host name: %s", host.c_str());
    if (!host_checks_available()) {
        fail(session, "SSL/TLS host name verification is not available with the loaded OpenSSL library.");
        return false;
    }
    ossl::X509_VERIFY_PARAM *param = api.SSL_get0_param(ssl);
    bool ok;
    if (is_ip_address(host)) {
        ok = api.X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1;
    } else {
        if (api.X509_VERIFY_PARAM_set_hostflags != nullptr)
            api.X509_VERIFY_PARAM_set_hostflags(param, ossl::kNoPartialWildcards);
        ok = !host.empty() && api.X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
    }
    if (!ok) fail(session, "SSL/TLS host name verification cannot check the host '" + host + "'.");
    s_clearSSLerrors();
    return ok;
}

void s_nameExpectedHost(RavlinkSSLsession *session, ossl::SSL *ssl) {
    if (session->host.empty()) return;
    long result = api.SSL_get_verify_result(ssl);
    if (result != ossl::kVerifyHostMismatch && result != ossl::kVerifyIpMismatch) return;
    std::string text = std::string(session->lastError) + ", the server's certificate does not match the host '" +
                       session->host + "'";
    s_setSessionError(session, text.c_str());
}
