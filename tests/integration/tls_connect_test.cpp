// TLS connections through the public interface against real TLS servers on loopback; on Linux,
// the binding's failures with stand-in OpenSSL libraries.
#include <gtest/gtest.h>

#include "support/tls_fixtures.h"

namespace {

using namespace testsupport;

constexpr uint32_t kTlsFailure = static_cast<uint32_t>(-6);

struct Connection {
    struct timeval tv = {5, 0};
    RavlinkContext *pc = nullptr;
    Connection(const TlsPeer &peer, int32_t level, const char *name) {
        pc = RavlinkToHostPort("127.0.0.1", peer.port().c_str(), &tv, level, name);
    }
    // Level 11 with a record that trusts the test CA, and the fields given.
    explicit Connection(const TlsPeer &peer, SslFields f = trusting()) : pc(connect_tls(peer.port(), &tv, f)) {}
    ~Connection() { RavlinkClose(pc); }
    int32_t send(const std::string &s) { return RavlinkSend(pc, s.data(), static_cast<uint32_t>(s.size()), &tv); }
    std::string recv(int32_t n, int32_t *rc = nullptr) {
        std::string buf(static_cast<std::size_t>(n), '\0');
        int32_t r = RavlinkRecv(pc, &buf[0], n, &tv);
        if (rc) *rc = r;
        return r == 0 ? buf.substr(0, RavlinkGetMode(pc) & RAVLINK_VREAD ? RavlinkGetRdlen(pc) : n) : std::string();
    }
    std::string error() const { return RavlinkGetErrorString(pc); }
};

TEST(TlsConnect, LevelElevenRoundTripsWholeAndVread) {
    TlsPeer peer(TlsPeer::Echo);
    REQUIRE_TLS_PEER(peer);
    TraceCapture trace;
    Connection c(peer);
    ASSERT_NE(c.pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityType(c.pc), 2u);
    EXPECT_EQ(RavlinkGetSecurityLevel(c.pc), 0);
    ASSERT_EQ(c.send("hello, tls"), 1) << c.error();
    EXPECT_EQ(c.recv(10), "hello, tls") << c.error();
    ASSERT_EQ(c.send(std::string(30, 'v')), 1) << c.error();
    RavlinkSetMode(c.pc, RAVLINK_VREAD);
    EXPECT_EQ(c.recv(100), std::string(30, 'v'));
    EXPECT_EQ(RavlinkGetRdlen(c.pc), 30);
    for (const std::string &line : {std::string("SSL/TLS configuration: _External Definition_"),
                                    std::string("Cipher list: ALL:!aNULL:!eNULL:!EXP:!SSLv2"),
                                    "Trusted certificate file: " + pki("ca.pem")})
        EXPECT_TRUE(trace.has("\r\n" + line)) << line;
    EXPECT_TRUE(trace.has("\n\rPeer verification option = 1, certificate depth = 9"));
    EXPECT_EQ(trace.count("\r\nSSL/TLS client requested."), 1u);
    EXPECT_FALSE(trace.has("[32]")); // the binding succeeded quietly
}

TEST(TlsConnect, MissingCertFileStillConnectsAndFailsAtTheFirstSend) {
    TlsPeer peer(TlsPeer::Echo);
    REQUIRE_TLS_PEER(peer);
    TraceCapture trace;
    SslFields f = trusting();
    f.CertFile = pki("no-such-client.pem");
    Connection c(peer, f);
    ASSERT_NE(c.pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(c.send("x"), 0);
    EXPECT_EQ(RavlinkGetErrorCode(c.pc), kTlsFailure);
    EXPECT_NE(c.error().find("error:"), std::string::npos) << c.error();
    EXPECT_TRUE(trace.has("\r\nCertificate file: " + pki("no-such-client.pem")));
}

TEST(TlsConnect, LevelTenNameFoundNowhereUsesDefaultsAndTrustsNobodyAndAnOverlongNameIsRefused) {
    set_env("QXN_ravlink_registry_user", "/nonexistent/user.reg");
    set_env("QXN_ravlink_registry_machine", "/nonexistent/machine.reg");
    set_env("QXN_SSLconfigurations", "/nonexistent/SSLdefs.ini");
    TlsPeer peer(TlsPeer::Echo);
    REQUIRE_TLS_PEER(peer);
    // An empty name is a name like any other: looked up at the first send, found nowhere.
    for (const std::string name : {"unheard-of", ""}) {
        SCOPED_TRACE("name '" + name + "'");
        TraceCapture trace;
        Connection c(peer, 10, name.c_str());
        ASSERT_NE(c.pc, nullptr) << RavlinkGetErrorString(nullptr);
        EXPECT_EQ(RavlinkGetSecurityType(c.pc), 2u);
        EXPECT_EQ(c.send("x"), 0);
        EXPECT_EQ(RavlinkGetErrorCode(c.pc), kTlsFailure);
        EXPECT_PRED2(starts_with, c.error(), "SSL/TLS error in SSL_connect(), SSL_ERROR_SSL: protocol error, error:");
        EXPECT_NE(std::string(RavlinkGetErrorString(nullptr)).find("certificate verify failed"), std::string::npos);
        EXPECT_EQ(trace.count("\r\nVerify error with X.509 certificate at depth "), 1u);
        EXPECT_TRUE(trace.has("\r\nSSL/TLS configuration: " + name + "["));
        EXPECT_TRUE(trace.has("\n\rPeer verification option = 1, certificate depth = 9"));
    }
    // A name too long for a configuration is refused at the set-up; a missing one at the connect.
    const std::string name(80, 'z'), text = "SSL/TLS configuration '" + name + "' is not activated.";
    Connection refused(peer, 10, name.c_str());
    EXPECT_EQ(refused.send("x"), 0);
    EXPECT_PRED2(starts_with, refused.error(), text);
    Connection nameless(peer, 10, nullptr);
    EXPECT_EQ(nameless.pc, nullptr);
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Security level 10 needs the name of a TLS configuration.");
    for (const char *v : {"QXN_ravlink_registry_user", "QXN_ravlink_registry_machine", "QXN_SSLconfigurations"})
        set_env(v, nullptr);
}

#ifndef _WIN32
// Level 11 checks the host name once the caller asks for it, for the connections made after
// (the wildcard server runs in the test process).
TEST(TlsConnect, HostNameVerificationForRecordsIsOffUntilSet) {
    REQUIRE_PKI();
    TlsTestServer::Options wildcard{pki("wildcard-server.pem"), pki("wildcard-server.key"), ""};
    Listener l;
    int previous = 0;
    for (int verify : {0, 1, 0}) {
        TlsTestServer server(l, wildcard, TlsTestServer::echo);
        EXPECT_EQ(RavlinkSetVerifyHostName(verify), previous);
        previous = verify;
        struct timeval tv = {5, 0};
        RavlinkContext *pc = connect_tls(l.port_text(), &tv, trusting(), "localhost");
        ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
        EXPECT_EQ(RavlinkSend(pc, "x", 1, &tv), verify == 1 ? 0 : 1);
        if (verify == 1) {
            EXPECT_NE(std::string(RavlinkGetErrorString(pc)).find("does not match the host 'localhost'"),
                      std::string::npos) << RavlinkGetErrorString(pc);
        }
        RavlinkClose(pc);
    }
}
#endif

TEST(TlsConnect, PeerClosingCleanlyIsReportedForTheRead) {
    TlsPeer peer(TlsPeer::Closing);
    REQUIRE_TLS_PEER(peer);
    Connection c(peer);
    ASSERT_NE(c.pc, nullptr);
    ASSERT_EQ(c.send("CLOSE\n"), 1) << c.error();
    int32_t rc = 0;
    c.recv(4, &rc);
    EXPECT_EQ(rc, -6);
    // The layer's text, appended with the connection's code as its reason.
    EXPECT_PRED2(starts_with, c.error(),
                 "SSL/TLS error in SSL_read(), SSL_ERROR_ZERO_RETURN: connection closed\r\nReason: (-6, ");
}

#ifndef _WIN32
// The probe's output for two connections through a copy of the library placed beside the stand-in
// OpenSSL pair in the given folder, with the environment text given before the command.
std::string probe_beside(const std::string &folder, const std::string &environment) {
    const std::string dir = std::string(RAVLINK_FAKE_OPENSSL_DIR) + "/" + folder;
    std::system(("cp '" RAVLINK_LIBRARY_FILE "' '" + dir + "/libravlink64.so'").c_str());
    Listener l;
    return run_capture(environment + "'" + RAVLINK_TLS_BIND_PROBE + "' '" + dir + "/libravlink64.so' " + l.port_text());
}

// A copy of the library beside a stand-in OpenSSL pair lacking an entry point: each of the
// probe's two connections tries the binding again and names the first missing one.
TEST(TlsBinding, AMissingEntryPointIsNamedAndTheBindingRetried) {
    struct Case { const char *variant, *symbol; };
    for (const Case &k : {Case{"partial", "SSL_CTX_ctrl"}, Case{"nocrypto", "OPENSSL_config"}}) {
        SCOPED_TRACE(k.variant);
        const std::string out = probe_beside(k.variant, "");
        auto count = [&out](const std::string &needle) { return occurrences(out, needle); };
        EXPECT_EQ(count(std::string("[32]SSL/TLS unavailable.  Error (127) resolving library symbol: ") + k.symbol +
                        "\n"), 2u) << out;
        EXPECT_EQ(count("[32]Library version:  Stand-in OpenSSL for binding tests\n"), 2u) << out;
        EXPECT_EQ(count("send=0\nerror=<Could not load SSL/TLS libraries."), 2u) << out;
        EXPECT_EQ(count("[32]SSL/TLS unavailable"), 2u) << out; // only the first missing one is named
    }
}

// What OpenSSL receives from a copy of the library beside a recording stand-in of each older
// series, for two connections that allow TLS 1.1 only: the 1.0 series is initialised and given
// locking callbacks once, with 1.0's option word; 1.1 initialises itself and gets its own
// SSL_OP_ALL (never 1.0's, whose bits mean other things there) and TLS 1.3 goes with TLS 1.2.
TEST(TlsBinding, EachSeriesReceivesItsOwnInitialisationAndOptionWord) {
    struct Case { const char *series; std::vector<std::pair<std::string, std::size_t>> calls; } cases[] = {
        {"10", {{"SSL_library_init", 1}, {"SSL_load_error_strings", 1}, {"CRYPTO_set_id_callback set", 1},
                {"CRYPTO_set_locking_callback set", 1}, {"CRYPTO_set_dynlock_create_callback set", 1},
                {"CRYPTO_set_dynlock_lock_callback set", 1}, {"CRYPTO_set_dynlock_destroy_callback set", 1},
                {"SSLv23_client_method", 2}, {"SSL_CTX_ctrl 32 0xf000000", 2}, {"SSL_CTX_ctrl 32 0x80100bff", 2},
                {"SSL_CTX_ctrl 32 ", 4}, {"SSL_CTX_ctrl 33 0x4", 2}, {"SSL_CTX_set_verify 1", 2},
                {"SSL_CTX_set_verify_depth 9", 2}, {"BIO_int_ctrl 104 0", 2}, {"SSL_connect", 2},
                {"SSL_free", 2}, {"SSL_CTX_free", 2}, {"SSL_shutdown", 0}}},
        {"11", {{"SSL_library_init", 0}, {"CRYPTO_set_", 0}, {"TLS_client_method", 2},
                {"SSL_CTX_ctrl 32 0x2e000000", 2}, {"SSL_CTX_ctrl 32 0x80000854", 2}, {"SSL_CTX_ctrl 32 ", 4},
                {"SSL_CTX_ctrl 33 0x4", 2}, {"SSL_connect", 2}, {"SSL_shutdown", 0}}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(std::string("series ") + k.series);
        const std::string out = probe_beside(std::string("recording") + k.series, "RAVLINK_PROBE_PROTOCOLS=8 ");
        for (const auto &call : k.calls)
            EXPECT_EQ(occurrences(out, "call " + call.first), call.second) << call.first << "\n" << out;
        EXPECT_NE(out.find("send=0\nerror=<SSL/TLS error in SSL_connect(), SSL_ERROR_SSL: protocol error"),
                  std::string::npos) << out;
    }
}
#endif

} // namespace
