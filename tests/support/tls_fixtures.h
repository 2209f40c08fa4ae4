// Test support for TLS: the throwaway PKI (made once per build tree by
// tests/fixtures/make_pki.sh), the texts of a configuration record, and a real OpenSSL server
// on loopback (Linux).
#pragma once

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "ravlink.h"
#include "support/loopback.h"
#include "support/trace_capture.h"

#ifndef _WIN32
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#endif

namespace testsupport {

// The PKI folder, made on first use; empty when it could not be made.
inline const std::string &pki_dir() {
    static const std::string dir = [] {
        std::string d = RAVLINK_TEST_PKI_DIR;
        std::string cmd = std::string("'") + RAVLINK_SOURCE_DIR + "/tests/fixtures/make_pki.sh' '" + d + "'";
        return std::system(cmd.c_str()) == 0 ? d : std::string();
    }();
    return dir;
}
inline std::string pki(const char *file) { return pki_dir() + "/" + file; }

// The ten texts of a configuration record, owned; an empty text is a null field.
struct SslFields {
    std::string Protocols, KeyType, VerifyPeer, VerifyDepth, CipherList, Password, CertFile, KeyFile,
        CAfile, CApath;
    RavlinkSSLconfig record() {
        auto p = [](std::string &s) { return s.empty() ? nullptr : &s[0]; };
        return RavlinkSSLconfig{p(Protocols), p(KeyType),  p(VerifyPeer), p(VerifyDepth), p(CipherList),
                                p(Password),  p(CertFile), p(KeyFile),    p(CAfile),      p(CApath)};
    }
};

// Fields that trust the test CA.
inline SslFields trusting() {
    SslFields f;
    f.CAfile = pki("ca.pem");
    return f;
}

#ifndef _WIN32
// What a test TLS server presents, and what it asks of the client.
struct TlsServerOptions {
    std::string cert = pki("server.pem");
    std::string key = pki("server.key");
    std::string clientCa; // when set, a client certificate from this CA is required
};
inline TlsServerOptions untrusted_server() {
    return {pki("untrusted-server.pem"), pki("untrusted-server.key"), ""};
}
using TlsBehaviour = std::function<void(SSL *)>;

// Serves TLS on one accepted socket: handshake, then the behaviour. Every wait gives up after
// 20 s, so a test whose client stays silent still ends. True when the handshake completed.
inline bool serve_tls(int fd, const TlsServerOptions &o, const TlsBehaviour &behaviour) {
    // A client that goes away must not end the test: this peer thread's writes get EPIPE.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    limit_receives(fd, 20);
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_chain_file(ctx, o.cert.c_str());
    SSL_CTX_use_PrivateKey_file(ctx, o.key.c_str(), SSL_FILETYPE_PEM);
    if (!o.clientCa.empty()) {
        SSL_CTX_load_verify_locations(ctx, o.clientCa.c_str(), nullptr);
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    SSL *ssl = SSL_new(ctx);
    SSL_set_fd(ssl, fd);
    bool done = SSL_accept(ssl) == 1;
    if (done) behaviour(ssl);
    ERR_clear_error();
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    return done;
}

// Echoes everything until the client goes away; true when it went with close_notify.
inline bool echo_until_closed(SSL *ssl) {
    char buf[16384];
    int n;
    while ((n = SSL_read(ssl, buf, sizeof buf)) > 0)
        if (SSL_write(ssl, buf, n) <= 0) return false;
    return SSL_get_error(ssl, n) == SSL_ERROR_ZERO_RETURN;
}

// A real OpenSSL server on one connection.
class TlsTestServer {
public:
    using Options = TlsServerOptions;
    using Behaviour = TlsBehaviour;
    static Options untrusted() { return untrusted_server(); }

    // On the server end of a connected pair.
    TlsTestServer(int fd, Options o, Behaviour b)
        : thread_([this, fd, o, b] { handshakeDone_ = serve_tls(fd, o, b), close_raw(fd); }) {}
    // On the first connection the listener accepts.
    TlsTestServer(Listener &l, Options o, Behaviour b) : thread_([this, &l, o, b] {
        limit_receives(l.fd, 20);
        int fd = ::accept(l.fd, nullptr, nullptr);
        if (fd >= 0) handshakeDone_ = serve_tls(fd, o, b), close_raw(fd);
    }) {}
    ~TlsTestServer() { thread_.join(); }
    bool handshake_done() const { return handshakeDone_; }

    static void silent(SSL *) {}
    static void echo(SSL *ssl) { echo_until_closed(ssl); }

private:
    std::atomic<bool> handshakeDone_{false};
    std::thread thread_;
};
#endif

} // namespace testsupport
