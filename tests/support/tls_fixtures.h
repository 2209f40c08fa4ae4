// Test support for TLS: the throwaway PKI (made by tests/fixtures/make_pki.sh), the texts of a
// configuration record, and real TLS servers on loopback: in the test process on Linux, started
// by the test driver on the Linux side under Wine.
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
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#endif

namespace testsupport {

// The PKI folder, made on first use; empty when it could not be made. Under Wine the test driver
// has made it and names it in RAVLINK_TEST_PKI_DIR (a Windows path).
inline const std::string &pki_dir() {
    static const std::string dir = [] {
#ifdef _WIN32
        const char *d = std::getenv("RAVLINK_TEST_PKI_DIR");
        return std::string(d ? d : "");
#else
        std::string d = RAVLINK_TEST_PKI_DIR;
        std::string cmd = std::string("'") + RAVLINK_SOURCE_DIR + "/tests/fixtures/make_pki.sh' '" + d + "'";
        return std::system(cmd.c_str()) == 0 ? d : std::string();
#endif
    }();
    return dir;
}
inline std::string pki(const std::string &file) { return pki_dir() + "/" + file; }

// The ten texts of a configuration record, owned; an empty text is a null field.
struct SslFields {
    std::string Protocols, KeyType, VerifyPeer, VerifyDepth, CipherList, Password, CertFile, KeyFile, CAfile, CApath;
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

// A level-11 connection to a TLS server with a record of the fields given.
inline RavlinkContext *connect_tls(const std::string &port, const timeval *tv, SslFields f = trusting(),
                                   const char *host = "127.0.0.1") {
    RavlinkSSLconfig record = f.record();
    return RavlinkToHostPort(host, port.c_str(), tv, 11, reinterpret_cast<const char *>(&record));
}

// Skips a test that needs the PKI when it could not be made.
#define REQUIRE_PKI() \
    if (::testsupport::pki_dir().empty()) GTEST_SKIP() << "the test PKI could not be made"

#ifndef _WIN32
// A real OpenSSL server on one connection: handshake, then the given behaviour. Every wait of its
// own gives up after 20 s, so a test whose client stays silent still ends.
class TlsTestServer {
public:
    struct Options {
        std::string cert = pki("server.pem");
        std::string key = pki("server.key");
        std::string clientCa; // when set, a client certificate from this CA is required
    };
    static Options untrusted() { return {pki("untrusted-server.pem"), pki("untrusted-server.key"), ""}; }
    using Behaviour = std::function<void(SSL *)>;

    // On the server end of a connected pair.
    TlsTestServer(int fd, Options o, Behaviour b) : thread_([this, fd, o, b] { run(fd, -1, o, b); }) {}
    // On the first connection the listener accepts.
    TlsTestServer(Listener &l, Options o, Behaviour b) : thread_([this, &l, o, b] { run(-1, l.fd, o, b); }) {}
    ~TlsTestServer() { thread_.join(); }

    static void silent(SSL *) {}
    static void echo(SSL *ssl); // until the client goes away

private:
    void run(int fd, int listener, const Options &o, const Behaviour &behaviour);
    std::thread thread_;
};

// Serves TLS on one accepted socket: handshake, then the behaviour. Every wait gives up after
// 20 s, so a test whose client stays silent still ends. True when the handshake completed.
inline bool serve_tls(int fd, const TlsTestServer::Options &o, const TlsTestServer::Behaviour &behaviour) {
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

// The server's thread: accepts when given a listener, then serves one TLS session.
inline void TlsTestServer::run(int fd, int listener, const Options &o, const Behaviour &behaviour) {
    if (listener >= 0) {
        limit_receives(listener, 20);
        if ((fd = ::accept(listener, nullptr, nullptr)) < 0) return;
    }
    serve_tls(fd, o, behaviour);
    close_raw(fd);
}

// Echoes everything until the client goes away; true when it went with close_notify.
inline bool echo_until_closed(SSL *ssl) {
    char buf[16384];
    int n;
    while ((n = SSL_read(ssl, buf, sizeof buf)) > 0)
        if (SSL_write(ssl, buf, n) <= 0) return false;
    return SSL_get_error(ssl, n) == SSL_ERROR_ZERO_RETURN;
}
inline void TlsTestServer::echo(SSL *ssl) { echo_until_closed(ssl); }
#endif

// A TLS server on loopback for one test, serving one connection after another:
//   Echo       echoes, with the certificate of localhost / 127.0.0.1 from the test CA;
//   Mutual     the same, and requires a client certificate from the test CA;
//   Untrusted  echoes with a certificate from another CA;
//   Closing    closes the TLS session cleanly when the client sends the line "CLOSE".
// On Linux it runs in the test process; under Wine it is a Linux server that the test driver
// (tests/wine_peers.sh) started, and its port comes from RAVLINK_TLS_PEER_<KIND>.
class TlsPeer {
public:
    enum Kind { Echo, Mutual, Untrusted, Closing };
    explicit TlsPeer(Kind kind);
    ~TlsPeer();
    const std::string &port() const { return port_; }
    // Why the peer is not there; empty when it is.
    const std::string &missing() const { return missing_; }
    TlsPeer(const TlsPeer &) = delete;
    TlsPeer &operator=(const TlsPeer &) = delete;

private:
    std::string port_, missing_;
#ifndef _WIN32
    void serve(Kind kind);
    Listener listener_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
#endif
};

#ifdef _WIN32
inline TlsPeer::TlsPeer(Kind kind) {
    static const char *const names[] = {"ECHO", "MUTUAL", "UNTRUSTED", "CLOSING"};
    std::string var = std::string("RAVLINK_TLS_PEER_") + names[kind];
    const char *port = std::getenv(var.c_str());
    if (pki_dir().empty() || port == nullptr || *port == '\0')
        missing_ = var + " and RAVLINK_TEST_PKI_DIR name the Linux peers: run this program through ctest "
                         "(tests/wine_peers.sh starts them)";
    else
        port_ = port;
}
inline TlsPeer::~TlsPeer() = default;
#else
inline TlsPeer::TlsPeer(Kind kind) {
    if (pki_dir().empty()) missing_ = "the test PKI could not be made (tests/fixtures/make_pki.sh)";
    else if (!listener_.ok()) missing_ = "no loopback listener";
    if (!missing_.empty()) return;
    port_ = listener_.port_text();
    thread_ = std::thread([this, kind] { serve(kind); });
}
inline TlsPeer::~TlsPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}
// Accepts until the peer goes, one connection at a time.
inline void TlsPeer::serve(Kind kind) {
    TlsTestServer::Options o;
    if (kind == Mutual) o.clientCa = pki("ca.pem");
    if (kind == Untrusted) o = TlsTestServer::untrusted();
    TlsTestServer::Behaviour b = TlsTestServer::echo;
    if (kind == Closing)
        b = [](SSL *ssl) {
            std::string seen;
            char c;
            while (seen.find("CLOSE\n") == std::string::npos && SSL_read(ssl, &c, 1) == 1) seen += c;
            SSL_shutdown(ssl);
        };
    while (!stop_) {
        pollfd p{listener_.fd, POLLIN, 0};
        if (::poll(&p, 1, 50) == 1) TlsTestServer(listener_.accept_one(), o, b);
    }
}
#endif

// Fails the test when its peer is not there.
#define REQUIRE_TLS_PEER(peer) \
    if (!(peer).missing().empty()) FAIL() << (peer).missing()

} // namespace testsupport
