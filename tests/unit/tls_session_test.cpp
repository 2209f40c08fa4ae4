// The TLS layer against a real OpenSSL server on loopback: verification failures and their
// texts, keys and pass phrases, read time-outs, a clean close, a reset by the peer and the cache
// of OpenSSL contexts. (Linux:
// the server runs in the test; under Wine the integration tests run TLS against Linux peers.)
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

#include "core/context.h"
#include "api/ssl_config_pack.h"
#include "platform/platform.h"
#include "support/tls_fixtures.h"
#include "tls/ssl_session.h"

namespace {

using namespace testsupport;

constexpr auto kFailed = static_cast<std::uint32_t>(-6);

// A TLS connection context on the client end of a socket pair, with a configuration record.
struct Client {
    RavlinkContext *pc = s_allocContext();
    Client(ravlink_socket_t fd, SslFields fields) {
        pc->socket = fd;
        plat::set_nonblocking(fd, true); // as every connection the library makes
        pc->securityType = kSecurityTls;
        RavlinkSSLconfig r = fields.record();
        pc->sslConfig = s_packSSLconfig(&r);
        EXPECT_EQ(s_newSSLsession(pc, nullptr, 0), 1);
    }
    ~Client() { RavlinkClose(pc); }
    RavlinkSSLsession *session() const { return pc->tlsSession; }
    std::string error() const { return pc->tlsErrorText; }
    int send(const std::string &s) { return SSLsendRavlink(session(), s.data(), static_cast<std::uint32_t>(s.size())); }
    std::string recv(std::uint32_t n, int seconds = -64, int readAll = 1, int micro = 0) {
        std::string buf(n, '\0');
        buf.resize(SSLrecvRavlink(session(), &buf[0], n, seconds, readAll, micro));
        return buf;
    }
};

#ifndef _WIN32

// A client on one end of a socket pair, a real OpenSSL server on the other.
struct Exchange {
    std::pair<ravlink_socket_t, ravlink_socket_t> ends = socket_pair();
    TlsTestServer server;
    Client client;
    explicit Exchange(SslFields f, TlsTestServer::Behaviour b = TlsTestServer::echo, TlsTestServer::Options o = {})
        : server(ends.second, std::move(o), std::move(b)), client(ends.first, std::move(f)) {}
};

struct TlsSession : ::testing::Test {
    void SetUp() override { REQUIRE_PKI(); }
};

TEST_F(TlsSession, UntrustedServerFailsVerificationWithTracesAndText) {
    TraceCapture trace;
    Exchange x(trusting(), TlsTestServer::silent, TlsTestServer::untrusted());
    Client &client = x.client;
    EXPECT_EQ(client.send("x"), 0);
    EXPECT_EQ(client.pc->error, kFailed);
    EXPECT_EQ(client.session()->ssl, nullptr); // no OpenSSL objects survive a failed handshake
    EXPECT_EQ(client.session()->sslContext, nullptr);
    EXPECT_PRED2(starts_with, client.error(), "SSL/TLS error in SSL_connect(), SSL_ERROR_SSL: protocol error, error:");
    EXPECT_NE(client.error().find("certificate verify failed"), std::string::npos) << client.error();
    for (const char *line : {"Verify error with X.509 certificate at depth 0", "Subject: /O=Somebody Else/CN=localhost",
                             "Issuer: /O=Somebody Else/CN=Untrusted CA",
                             "Error: 20, unable to get local issuer certificate",
                             "SSL/TLS error return from SSL_connect().", "SSL_ERROR_SSL: protocol error"})
        EXPECT_EQ(trace.count(std::string("\r\n") + line), 1u) << line;

    // The next operation starts over: set-up and handshake again (the peer has gone by now).
    EXPECT_EQ(client.recv(1), "");
    EXPECT_EQ(trace.count("\r\nSSL/TLS client requested."), 2u);
    EXPECT_EQ(client.pc->error, kFailed);
}

// Client certificates against a server that requires one: the key's type and pass phrase decide.
TEST_F(TlsSession, ClientKeysAndPassPhrases) {
    struct Case { const char *cert, *key, *keyType, *password, *error; } cases[] = {
        {"client.pem", "client-enc.key", "", "correct horse battery staple", nullptr},
        // A wrong pass phrase fails the decryption, or, when the garbage happens to end in valid
        // padding (about one key in 256), the decoding: OpenSSL names its PKCS#12 routines in both.
        {"client.pem", "client-enc.key", "", "not the phrase", "PKCS12 routines"},
        {"client-ec.pem", "client-ec.key", "", "", nullptr}, // KeyType 1 takes an EC key
        {"client-ec.pem", "client-ec.key", "2", "", "expecting an rsa key"},
        {"client-ec.pem", "client-ec.key", "3", "", "no private key assigned"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(std::string(k.key) + ", KeyType " + k.keyType + ", pass phrase " + k.password);
        TraceCapture trace;
        TlsTestServer::Options o;
        o.clientCa = pki("ca.pem");
        SslFields f = trusting();
        f.CertFile = pki(k.cert);
        f.KeyFile = pki(k.key);
        f.KeyType = k.keyType;
        f.Password = k.password;
        Exchange x(f, TlsTestServer::echo, o);
        Client &client = x.client;
        if (k.error == nullptr) {
            ASSERT_EQ(client.send("mutual"), 1) << client.error();
            EXPECT_EQ(client.recv(6), "mutual");
        } else {
            EXPECT_EQ(client.send("x"), 0);
            EXPECT_EQ(client.pc->error, kFailed);
            EXPECT_NE(client.error().find("error:"), std::string::npos) << client.error();
            EXPECT_NE(client.error().find(k.error), std::string::npos) << client.error();
            EXPECT_LE(client.error().size(), 255u);
            EXPECT_TRUE(trace.has("\r\nError in SSLconfig():  " + client.error()));
            EXPECT_FALSE(trace.has("SSL/TLS client requested.")); // no handshake was tried
        }
        if (*k.password) {
            EXPECT_TRUE(trace.has("\r\nSetting private key file encryption password"));
            EXPECT_FALSE(trace.has(k.password)); // the pass phrase is never traced
        }
    }
}

// The server name is sent for a host name, never for an address; with verification on, the
// certificate must name the host (a wildcard standing for one whole label), else the text says
// which host was expected. Off, any name passes.
TEST_F(TlsSession, HostNamesAreSentAndVerified) {
    TlsTestServer::Options wildcard{pki("wildcard-server.pem"), pki("wildcard-server.key"), ""};
    struct Case { bool wildcardCert; const char *host; int verify; bool ok; const char *sni; } cases[] = {
        {false, "localhost", 1, true, "localhost"},
        {false, "127.0.0.1", 1, true, ""},
        {true, "a.ravlink.test", 1, true, "a.ravlink.test"},
        {true, "a.b.ravlink.test", 1, false, ""},
        {true, "localhost", 1, false, ""},
        {true, "127.0.0.1", 1, false, ""},
        {true, "localhost", 0, true, "localhost"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(std::string(k.host) + (k.wildcardCert ? " against *.ravlink.test" : "") + ", verify " +
                     std::to_string(k.verify));
        std::string sni = "(none)"; // what the server received, once it accepted the client
        {
            Exchange x(trusting(), [&sni](SSL *ssl) {
                const char *name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
                sni = name != nullptr ? name : "";
                TlsTestServer::echo(ssl);
            }, k.wildcardCert ? wildcard : TlsTestServer::Options{});
            ASSERT_TRUE(s_setSSLpeer(x.client.session(), k.host, k.verify));
            if (k.ok) {
                EXPECT_EQ(x.client.send("named"), 1) << x.client.error();
                EXPECT_EQ(x.client.recv(5), "named");
            } else {
                EXPECT_EQ(x.client.send("x"), 0);
                EXPECT_NE(x.client.error().find("certificate verify failed"), std::string::npos) << x.client.error();
                EXPECT_NE(x.client.error().find(std::string("does not match the host '") + k.host + "'"),
                          std::string::npos) << x.client.error();
            }
        }
        EXPECT_EQ(sni, k.ok ? k.sni : "(none)");
    }
}

// What OpenSSL 3 holds after the set-up: its own SSL_OP_ALL, never 1.0's word (bit 3 turns on
// kernel TLS there), and one option per version the set leaves out, TLS 1.3 following TLS 1.2.
TEST_F(TlsSession, OptionWordPerProtocolSet) {
    ASSERT_EQ(s_initSSL(), 1);
    SSL_CTX *fresh = SSL_CTX_new(TLS_client_method());
    const std::uint64_t base = SSL_CTX_get_options(fresh) | SSL_OP_ALL;
    SSL_CTX_free(fresh);
    const std::uint64_t old = SSL_OP_NO_SSLv3 | SSL_OP_NO_TLSv1 | SSL_OP_NO_TLSv1_1;
    struct Case { const char *protocols; std::uint64_t no; } cases[] = {
        {"", 0},
        {"16", old},
        {"24", SSL_OP_NO_SSLv3 | SSL_OP_NO_TLSv1},
        {"8", SSL_OP_NO_SSLv3 | SSL_OP_NO_TLSv1 | SSL_OP_NO_TLSv1_2 | SSL_OP_NO_TLSv1_3},
        {"1", old | SSL_OP_NO_TLSv1_2 | SSL_OP_NO_TLSv1_3},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(std::string("Protocols ") + k.protocols);
        auto [c, s] = socket_pair();
        SslFields f = trusting();
        f.Protocols = k.protocols;
        Client client(c, f);
        ASSERT_EQ(SSLconfig(client.session()), 0) << client.error();
        const std::uint64_t options = SSL_get_options(reinterpret_cast<SSL *>(client.session()->ssl));
        EXPECT_EQ(options, base | k.no) << std::hex << options;
        EXPECT_EQ(options & SSL_OP_ENABLE_KTLS, 0u);
        EXPECT_NE(options & 0x80100BFFu, 0x80100BFFu);
        close_raw(s);
    }
}

TEST_F(TlsSession, ProtocolsZeroForbidsEveryVersion) {
    SslFields f = trusting();
    f.Protocols = "junk"; // not decimal: 0
    Exchange x(f, TlsTestServer::silent);
    EXPECT_EQ(x.client.send("x"), 0);
    EXPECT_NE(x.client.error().find("SSL_connect()"), std::string::npos) << x.client.error();
}

// The first operation is a read here, so the handshake runs inside it.
TEST_F(TlsSession, ReadTimeOuts) {
    Exchange x(trusting(), [](SSL *ssl) {
        SSL_write(ssl, "abc", 3);
        char end;
        SSL_read(ssl, &end, 1); // silent until the client goes
    });
    Client &client = x.client;
    // Read-all 0 returns after the first piece, fewer bytes than asked for.
    EXPECT_EQ(client.recv(10, 5, 0), "abc") << client.error();

    // 0 s 0 us polls once; 0 s 20 us is one short wait of 0.2 s; 5 s waits 5 to 6 s. (The upper
    // bounds only guard against a wait of the wrong scale: a loaded machine may be slow.)
    struct Wait { int seconds, micro; double least, most; };
    for (const Wait &w : {Wait{0, 0, 0, 2.0}, Wait{0, 20, 0.18, 4.0}, Wait{5, 0, 4.9, 20.0}}) {
        SCOPED_TRACE(std::to_string(w.seconds) + " s " + std::to_string(w.micro) + " us");
        client.pc->error = 0;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(client.recv(4, w.seconds, 1, w.micro), "");
        EXPECT_EQ(client.pc->error, static_cast<std::uint32_t>(-1));
        double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_GE(waited, w.least);
        EXPECT_LT(waited, w.most);
    }
}

TEST_F(TlsSession, CleanCloseByThePeerIsZeroReturn) {
    Exchange x(trusting(), [](SSL *ssl) {
        SSL_write(ssl, "bye", 3);
        SSL_shutdown(ssl);
    });
    EXPECT_EQ(x.client.recv(10), "bye"); // the bytes read before the close are returned
    EXPECT_EQ(x.client.pc->error, kFailed);
    EXPECT_EQ(x.client.error(), "SSL/TLS error in SSL_read(), SSL_ERROR_ZERO_RETURN: connection closed");
}

TEST_F(TlsSession, WriteToAResetPeerFailsWithTheSystemCodeAndTheProcessLivesOn) {
    auto [c, s] = socket_pair();
    Client client(c, trusting());
    {
        TlsTestServer server(s, {}, [](SSL *ssl) {
            SSL_write(ssl, "r", 1);
            char ack;
            SSL_read(ssl, &ack, 1);
            struct linger abort = {1, 0}; // the close resets the connection
            setsockopt(SSL_get_fd(ssl), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        });
        ASSERT_EQ(client.recv(1), "r") << client.error();
        ASSERT_EQ(client.send("a"), 1);
    }
    int sent = 1;
    for (int i = 0; i < 50 && sent == 1; ++i) sent = client.send(std::string(4096, 'w'));
    EXPECT_EQ(sent, 0);
    EXPECT_PRED2(starts_with, client.error(), "SSL/TLS error in SSL_write(), SSL_ERROR_SYSCALL: I/O error (");
    EXPECT_EQ(client.pc->error, 0u); // a failed write leaves the connection's code to the caller
}

TEST_F(TlsSession, ErrorTexts) {
    ASSERT_EQ(s_initSSL(), 1);
    auto [c, s] = socket_pair();
    Client client(c, SslFields{});
    errno = ECONNRESET;
    s_SSLerror(5, "SSL_write()", client.session());
    EXPECT_EQ(client.error(), "SSL/TLS error in SSL_write(), SSL_ERROR_SYSCALL: I/O error (10054)");
    s_SSLerror(42, "SSL_read()", client.session());
    EXPECT_EQ(client.error(), "SSL/TLS error in SSL_read(), Unknown error code: 42");

    // OpenSSL's queued errors follow whole, in order, as many as fit in 255 characters.
    const std::string head = "SSL/TLS error in SSL_connect(), SSL_ERROR_SSL: protocol error";
    std::string expected = head;
    for (int i = 0; i < 10; ++i) {
        ERR_raise(ERR_LIB_SSL, SSL_R_CERTIFICATE_VERIFY_FAILED + i % 3);
        char buf[256];
        ERR_error_string_n(ERR_peek_last_error(), buf, sizeof buf);
        if (expected.size() + 2 + std::strlen(buf) < 256) expected += std::string(", ") + buf;
    }
    ASSERT_LT(expected.size(), head.size() + 10 * 40); // some were left out
    s_SSLerror(1, "SSL_connect()", client.session());
    EXPECT_EQ(client.error(), expected);
    EXPECT_EQ(client.session()->lastErrorLength, expected.size());
    EXPECT_EQ(ERR_get_error(), 0u); // the queue is empty afterwards
    close_raw(s);
}

// One echo through a fresh session: the OpenSSL context it was given, and "" or the error text.
struct Outcome {
    ossl::SSL_CTX *context;
    std::string problem;
};
Outcome echo_once(const SslFields &f, TlsTestServer::Options o = {}) {
    Exchange x(f, TlsTestServer::echo, std::move(o));
    const bool ok = x.client.send("ping") == 1 && x.client.recv(4, 5) == "ping";
    return {x.client.session()->sslContext, ok ? "" : x.client.error()};
}

void copy_file(const std::string &from, const std::string &to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream(to + ".new", std::ios::binary) << in.rdbuf();
    std::rename((to + ".new").c_str(), to.c_str()); // replaced, as an administrator's tool would
}

// One OpenSSL context per configuration: the same settings share it, other settings or a replaced
// file get their own, and a wrong pass phrase never gets the context that the right one built.
TEST_F(TlsSession, ContextCacheSameSettingsShareOtherSettingsOrFilesGetTheirOwn) {
    const std::string ca = pki("cache-test-ca-" + std::to_string(::getpid()) + ".pem");
    copy_file(pki("ca.pem"), ca);
    SslFields copy, otherCiphers;
    copy.CAfile = otherCiphers.CAfile = ca;
    otherCiphers.CipherList = "ECDHE+AESGCM";
    Outcome first = echo_once(copy), again = echo_once(copy), other = echo_once(otherCiphers);
    EXPECT_EQ(first.problem + again.problem + other.problem, "");
    EXPECT_EQ(first.context, again.context);
    EXPECT_NE(first.context, other.context);

    // The CA file replaced by another authority's: the next connection trusts the new file only.
    copy_file(pki("untrusted-ca.pem"), ca);
    EXPECT_NE(echo_once(copy).problem.find("certificate verify failed"), std::string::npos);
    EXPECT_EQ(echo_once(copy, TlsTestServer::untrusted()).problem, "");
    copy_file(pki("ca.pem"), ca);
    EXPECT_EQ(echo_once(copy).problem, "");
    std::remove(ca.c_str());

    SslFields keyed = trusting();
    keyed.CertFile = pki("client.pem");
    keyed.KeyFile = pki("client-enc.key");
    keyed.Password = "correct horse battery staple";
    EXPECT_EQ(echo_once(keyed).problem, "");
    keyed.Password = "not the phrase";
    EXPECT_NE(echo_once(keyed).problem.find("PKCS12 routines"), std::string::npos);
}

TEST_F(TlsSession, ContextCacheSixteenThreadsWithOneConfigurationShareOneContext) {
    SslFields fields = trusting();
    fields.VerifyDepth = "7"; // settings no other test uses: the first of these threads builds
    std::vector<Outcome> outcomes(16);
    std::vector<std::thread> threads;
    for (Outcome &o : outcomes) threads.emplace_back([&o, &fields] { o = echo_once(fields); });
    for (std::thread &t : threads) t.join();
    std::set<ossl::SSL_CTX *> contexts;
    for (const Outcome &o : outcomes) {
        EXPECT_EQ(o.problem, "");
        contexts.insert(o.context);
    }
    EXPECT_EQ(contexts.size(), 1u);
}
#endif

TEST(TlsSessionSetUp, ASessionNeverSetUpFreesOnlyItselfAndKeepsItsNameToTheLength) {
    auto [c, s] = socket_pair();
    { Client client(c, SslFields{}); }
    char byte;
    EXPECT_EQ(::recv(s, &byte, 1, 0), 0); // the peer saw a plain close, no TLS traffic
    close_raw(s);

    RavlinkContext *pc = s_allocContext();
    ASSERT_EQ(s_newSSLsession(pc, "branch-office-xyz", 13), 1);
    EXPECT_STREQ(pc->tlsSession->name, "branch-office");
    RavlinkClose(pc);
}

} // namespace
