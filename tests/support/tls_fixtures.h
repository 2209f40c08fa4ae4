// Test support for TLS: the throwaway PKI (made once per build tree by
// tests/fixtures/make_pki.sh), a real OpenSSL server on one end of a loopback socket pair
// (Linux), and a capture of the library's trace lines.
#pragma once

#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ravlink.h"
#include "support/loopback.h"
#include "support/trace_capture.h"

#ifndef _WIN32
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
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

// The ten texts of a configuration record, owned.
struct SslFields {
    std::string Protocols, KeyType, VerifyPeer, VerifyDepth, CipherList, Password, CertFile, KeyFile,
        CAfile, CApath;
    RavlinkSSLconfig record() {
        auto p = [](std::string &s) { return s.empty() ? nullptr : &s[0]; };
        return RavlinkSSLconfig{p(Protocols), p(KeyType),  p(VerifyPeer), p(VerifyDepth), p(CipherList),
                                p(Password),  p(CertFile), p(KeyFile),    p(CAfile),      p(CApath)};
    }
};

#ifndef _WIN32
// A real OpenSSL server on one end of a socket pair: handshake, then the given behaviour.
class TlsTestServer {
public:
    struct Options {
        std::string cert = pki("server.pem");
        std::string key = pki("server.key");
        std::string clientCa;  // when set, a client certificate from this CA is required
    };
    using Behaviour = std::function<void(SSL *)>;

    TlsTestServer(int fd, Options options, Behaviour behaviour)
        : thread_([this, fd, options, behaviour] { run(fd, options, behaviour); }) {}
    // Accepts one connection on the listener first (giving up after 20 s).
    TlsTestServer(Listener &listener, Options options, Behaviour behaviour)
        : thread_([this, &listener, options, behaviour] {
              struct timeval limit = {20, 0};
              setsockopt(listener.fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
              int fd = ::accept(listener.fd, nullptr, nullptr);
              if (fd >= 0) run(fd, options, behaviour);
          }) {}
    ~TlsTestServer() { thread_.join(); }
    bool handshake_done() const { return handshakeDone_; }

    // Echoes everything until the client goes away.
    static void echo(SSL *ssl) {
        char buf[16384];
        int n;
        while ((n = SSL_read(ssl, buf, sizeof buf)) > 0)
            if (SSL_write(ssl, buf, n) <= 0) break;
    }

private:
    void run(int fd, const Options &o, const Behaviour &behaviour) {
        struct timeval limit = {20, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_chain_file(ctx, o.cert.c_str());
        SSL_CTX_use_PrivateKey_file(ctx, o.key.c_str(), SSL_FILETYPE_PEM);
        if (!o.clientCa.empty()) {
            SSL_CTX_load_verify_locations(ctx, o.clientCa.c_str(), nullptr);
            SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
        }
        SSL *ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            handshakeDone_ = true;
            behaviour(ssl);
        }
        ERR_clear_error();
        SSL_free(ssl);
        SSL_CTX_free(ctx);
        close_raw(fd);
    }
    bool handshakeDone_ = false;
    std::thread thread_;
};

// `openssl s_server` on 127.0.0.1 at a free port, ended when the object goes.
class OpensslServer {
public:
    explicit OpensslServer(std::vector<std::string> extra) {
        {
            Listener probe; // a free port, released again for the server
            port_ = probe.port;
        }
        std::vector<std::string> args = {"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port_),
                                         "-cert", pki("server.pem"), "-key", pki("server.key"), "-quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char *> argv;
        for (std::string &a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 0x1 /* O_WRONLY */, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", 0x1, 0);
        if (posix_spawnp(&pid_, "openssl", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        // Ready when it accepts a TCP connection.
        for (int i = 0; i < 100 && pid_ > 0 && !ready_; ++i) {
            int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<unsigned short>(port_));
            ready_ = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
            ::close(fd);
            if (!ready_) usleep(50000);
        }
    }
    ~OpensslServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool ready() const { return ready_; }
    std::string port() const { return std::to_string(port_); }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    bool ready_ = false;
};
#endif

} // namespace testsupport
