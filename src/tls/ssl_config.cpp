// Setting up one connection's TLS: the OpenSSL context from the configuration, then the
// connection object on the connection's socket.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/context.h"
#include "diag/trace.h"
#include "tls/ssl_context_cache.h"
#include "tls/ssl_session.h"
#include "tls/ssl_settings.h"
#include "tls/ssl_write_bio.h"

namespace {

using ossl::api;
using ossl::Series;

// Protocol bits of a configuration (1, SSLv2, is never offered).
constexpr std::int32_t kSSLv3 = 2, kTLSv1 = 4, kTLSv1_1 = 8, kTLSv1_2 = 16;

// Option numbers (the same bits in every series where the option exists).
constexpr std::uint64_t kNoSSLv2 = 0x01000000;   // 1.0 only; later series never offer SSLv2
constexpr std::uint64_t kNoSSLv3 = 0x02000000;
constexpr std::uint64_t kNoTLSv1 = 0x04000000;
constexpr std::uint64_t kNoTLSv1_2 = 0x08000000;
constexpr std::uint64_t kNoTLSv1_1 = 0x10000000;
constexpr std::uint64_t kNoTLSv1_3 = 0x20000000; // 1.1 and later

// The always-set compatibility options of each series: 1.0's SSL_OP_ALL with
// SSL_OP_SINGLE_DH_USE, and the SSL_OP_ALL of 1.1 and of 3.x (whose bits differ from 1.0's).
constexpr std::uint64_t kAlwaysV1_0 = 0x80100BFF;
constexpr std::uint64_t kAlwaysV1_1 = 0x80000854;
constexpr std::uint64_t kAlwaysV3 = 0x80000850;

// One option for each version the configuration leaves out. SSLv2 is never offered. TLS 1.3,
// which the bit set cannot name, goes with TLS 1.2.
std::uint64_t protocol_options(std::int32_t protocols) {
    std::uint64_t options = 0;
    if (api.series == Series::V1_0) options |= kNoSSLv2;
    if (!(protocols & kSSLv3)) options |= kNoSSLv3;
    if (!(protocols & kTLSv1)) options |= kNoTLSv1;
    if (!(protocols & kTLSv1_1)) options |= kNoTLSv1_1;
    if (!(protocols & kTLSv1_2)) options |= kNoTLSv1_2 | (api.series == Series::V1_0 ? 0 : kNoTLSv1_3);
    return options;
}

void set_options(ossl::SSL_CTX *ctx, std::uint64_t options) {
    if (api.series == Series::V3)
        api.SSL_CTX_set_options(ctx, options);
    else
        api.SSL_CTX_ctrl(ctx, ossl::kCtrlOptions, static_cast<long>(options), nullptr);
}

std::uint64_t always_options() {
    switch (api.series) {
    case Series::V1_0: return kAlwaysV1_0;
    case Series::V1_1: return kAlwaysV1_1;
    default: return kAlwaysV3;
    }
}

struct FreeSettings {
    void operator()(SSLsettings *s) const {
        // The pass phrase does not outlive the set-up.
        plat::wipe_memory(s->password, sizeof s->password);
        std::free(s);
    }
};

// Collects OpenSSL's queued errors into the session's error text after a failed step.
void fail_with_queue(RavlinkSSLsession *session) {
    std::string text;
    s_drainErrorQueue(text);
    s_setSessionError(session, text.c_str());
    if (!text.empty())
        ravlink_tracelog2("\r\nError in SSLconfig():  %s", session->lastError);
    else
        ravlink_tracelog2("\r\nError in SSLconfig():  errorlen=%d", 0);
}

// Builds the OpenSSL context of the settings, tracing each step; null on a failure, whose
// reasons are in OpenSSL's error queue. With apply false it only traces what a successful build
// traces, for a set-up that a cached context serves.
ossl::SSL_CTX *build_context(const SSLsettings &s, bool apply) {
    ossl::SSL_CTX *ctx = nullptr;
    bool ok = true;
    if (apply) {
        const ossl::SSL_METHOD *method = api.SSLv23_client_method();
        std::uint64_t options = protocol_options(s.protocols);
        ctx = api.SSL_CTX_new(method);
        ok = ctx != nullptr;
        if (ok) {
            if (options != 0) set_options(ctx, options);
            set_options(ctx, always_options());
            api.SSL_CTX_ctrl(ctx, ossl::kCtrlMode, ossl::kModeAutoRetry, nullptr);
        }
    }
    if (ok && s.cipherList[0] != '\0') {
        ravlink_tracelog2("\r\nCipher list: %s", s.cipherList);
        if (apply) ok = api.SSL_CTX_set_cipher_list(ctx, s.cipherList) != 0;
    }
    if (ok && s.certFile[0] != '\0') {
        ravlink_tracelog2("\r\nCertificate file: %s", s.certFile);
        if (apply) ok = api.SSL_CTX_use_certificate_chain_file(ctx, s.certFile) != 0;
    }
    if (ok) {
        if (apply) api.SSL_CTX_set_default_passwd_cb(ctx, s_passwordCallback);
        if (s.password[0] != '\0') {
            ravlink_tracelog2("\r\nSetting private key file encryption password");
            if (apply) api.SSL_CTX_set_default_passwd_cb_userdata(ctx, const_cast<char *>(s.password));
        }
    }
    if (ok && s.keyFile[0] != '\0') {
        ravlink_tracelog2("\r\nPrivate key file: %s", s.keyFile);
        if (apply) {
            if (s.keyType == 1)
                ok = api.SSL_CTX_use_PrivateKey_file(ctx, s.keyFile, ossl::kFiletypePem) != 0;
            else if (s.keyType == 2)
                ok = api.SSL_CTX_use_RSAPrivateKey_file(ctx, s.keyFile, ossl::kFiletypePem) != 0;
            if (ok) ok = api.SSL_CTX_check_private_key(ctx) != 0;
        }
    }
    if (ctx != nullptr) {
        // The pass phrase lives in the settings, which end with this set-up.
        api.SSL_CTX_set_default_passwd_cb_userdata(ctx, nullptr);
    }
    if (ok && (s.caFile[0] != '\0' || s.caPath[0] != '\0')) {
        if (s.caFile[0] != '\0') ravlink_tracelog2("\r\nTrusted certificate file: %s", s.caFile);
        if (s.caPath[0] != '\0') ravlink_tracelog2("\r\nTrusted certificate directory: %s", s.caPath);
        // Unusable locations do not fail the set-up; verification fails later if it must.
        if (apply)
            api.SSL_CTX_load_verify_locations(ctx, s.caFile[0] != '\0' ? s.caFile : nullptr,
                                              s.caPath[0] != '\0' ? s.caPath : nullptr);
    }
    if (ok) {
        ravlink_tracelog2("\n\rPeer verification option = %d, certificate depth = %d", s.verifyPeer,
                          s.verifyDepth);
        if (apply) {
            api.SSL_CTX_set_verify(ctx, s.verifyPeer, s.verifyPeer != 0 ? s_verifyCallback : nullptr);
            api.SSL_CTX_set_verify_depth(ctx, s.verifyDepth);
        }
    }
    if (!ok && ctx != nullptr) {
        api.SSL_CTX_free(ctx);
        ctx = nullptr;
    }
    return ctx;
}

} // namespace

int s_passwordCallback(char *buffer, int size, int rwflag, void *userdata) {
    if (rwflag != 0 || userdata == nullptr || size <= 0) return 0;
    std::strncpy(buffer, static_cast<const char *>(userdata), static_cast<std::size_t>(size));
    buffer[size - 1] = '\0';
    return static_cast<int>(std::strlen(buffer));
}

int SSLconfig(RavlinkSSLsession *session) {
    if (tlsReady == 0 && s_initSSL() == 0) {
        s_setSessionError(session, "Could not load SSL/TLS libraries.");
        return -1;
    }

    std::unique_ptr<SSLsettings, FreeSettings> settings;
    const char *name;
    int nameLength;
    if (session->config != nullptr) {
        settings.reset(s_SSLsettingsFromConfig(session->config));
        name = "_External Definition_";
        nameLength = static_cast<int>(std::strlen(name));
    } else {
        settings.reset(s_SSLsettingsFromRegistry(session->nameLength, session->name));
        name = session->name;
        nameLength = session->nameLength;
    }
    if (!settings) {
        ravlink_tracelog2("\r\nSSL/TLS configuration %.*s is not activated.", nameLength, name);
        // The name is cut so that the whole sentence fits the error text.
        const int room = 255 - static_cast<int>(std::strlen("SSL/TLS configuration '' is not activated."));
        char text[256];
        std::snprintf(text, sizeof text, "SSL/TLS configuration '%.*s' is not activated.",
                      nameLength < room ? nameLength : room, name);
        s_setSessionError(session, text);
        return -1;
    }
    SSLsettings &s = *settings;
    ravlink_tracelog2("\r\nSSL/TLS configuration: %.*s", nameLength, name);

    bool cached = false;
    ossl::SSL_CTX *ctx = s_contextFor(s, [&s] { return build_context(s, true); }, &cached);
    if (cached) build_context(s, false); // the same trace as the build that made it
    ossl::SSL *ssl = nullptr;
    bool ok = ctx != nullptr;
    if (ok) {
        ssl = api.SSL_new(ctx);
        ok = ssl != nullptr;
    }
    const bool verifyHost = (session->verifyHostName >= 0 ? session->verifyHostName : s.verifyHostName) != 0;
    if (ok && !s_applyPeerName(session, ssl, verifyHost)) {
        api.SSL_free(ssl);
        api.SSL_CTX_free(ctx);
        return -1;
    }
    // OpenSSL's socket BIO reads; the library's own BIO writes where the series allows it.
    const plat::socket_t socket = session->context->socket;
    ossl::BIO *bio = nullptr, *writeBio = nullptr;
    if (ok) {
        bio = api.BIO_new(api.BIO_s_socket());
        ok = bio != nullptr;
    }
    if (ok && s_writesRaiseNoSignal()) {
        writeBio = s_newWriteBio(socket);
        ok = writeBio != nullptr;
        if (!ok) api.BIO_free(bio);
    }
    if (ok) {
        // The socket is non-blocking already: made so at its creation, or when a caller's was taken.
        api.BIO_int_ctrl(bio, ossl::kBioSetFd, ossl::kBioNoClose, static_cast<int>(socket));
        api.SSL_set_bio(ssl, bio, writeBio != nullptr ? writeBio : bio);
        session->sslContext = ctx;
        session->ssl = ssl;
        return 0;
    }

    fail_with_queue(session);
    if (ssl != nullptr) api.SSL_free(ssl);
    if (ctx != nullptr) api.SSL_CTX_free(ctx);
    return -1;
}
