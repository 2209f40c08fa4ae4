// TLS connections through the public interface, against real peers: `openssl s_server` and an
// OpenSSL server in the test; the binding's failures with stand-in OpenSSL libraries.
#include <gtest/gtest.h>

#include <string>

#include "support/tls_fixtures.h"

namespace {

#ifdef _WIN32
TEST(TlsConnect, AgainstRealPeers) {
    GTEST_SKIP() << "no OpenSSL for Windows on this machine: TLS connections are tested in the Linux build";
}
#else
using testsupport::pki;
using testsupport::SslFields;
using testsupport::TlsTestServer;
using testsupport::TraceCapture;

constexpr uint32_t kTlsFailure = static_cast<uint32_t>(-6);

struct Connection {
    RavlinkContext *pc = nullptr;
    struct timeval tv = {5, 0};
    Connection(const std::string &port, int32_t level, const void *principal) {
        pc = RavlinkToHostPort("127.0.0.1", port.c_str(), &tv, level, static_cast<const char *>(principal));
    }
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

TEST(TlsConnect, LevelElevenRoundTripWithOpensslSServer) {
    if (pki("").size() == 1) GTEST_SKIP() << "the test PKI could not be made";
    testsupport::OpensslServer server({"-rev"});
    ASSERT_TRUE(server.ready());
    SslFields f;
    f.CAfile = pki("ca.pem");
    RavlinkSSLconfig record = f.record();
    Connection c(server.port(), 11, &record);
    ASSERT_NE(c.pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityType(c.pc), 2u);
    EXPECT_EQ(RavlinkGetSecurityLevel(c.pc), 0);
    ASSERT_EQ(c.send("hello, s_server\n"), 1) << c.error();
    EXPECT_EQ(c.recv(16), "revres_s ,olleh\n") << c.error();
}

TEST(TlsConnect, VreadDeliversWhatArrived) {
    testsupport::Listener l;
    TlsTestServer server(l, {}, TlsTestServer::echo);
    SslFields f;
    f.CAfile = pki("ca.pem");
    RavlinkSSLconfig record = f.record();
    Connection c(l.port_text(), 11, &record);
    ASSERT_NE(c.pc, nullptr);
    ASSERT_EQ(c.send(std::string(30, 'v')), 1) << c.error();
    RavlinkSetMode(c.pc, RAVLINK_VREAD);
    EXPECT_EQ(c.recv(100), std::string(30, 'v'));
    EXPECT_EQ(RavlinkGetRdlen(c.pc), 30);
}

TEST(TlsConnect, MissingCertFileStillConnectsAndFailsAtTheFirstSend) {
    TraceCapture trace;
    testsupport::Listener l;
    TlsTestServer server(l, {}, [](SSL *) {});
    SslFields f;
    f.CAfile = pki("ca.pem");
    f.CertFile = pki("no-such-client.pem");
    RavlinkSSLconfig record = f.record();
    Connection c(l.port_text(), 11, &record);
    ASSERT_NE(c.pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_TRUE(trace.has("Cannot access CertFile:  " + pki("no-such-client.pem") + "."));
    EXPECT_EQ(c.send("x"), 0);
    EXPECT_EQ(RavlinkGetErrorCode(c.pc), kTlsFailure);
    EXPECT_NE(c.error().find("error:"), std::string::npos) << c.error();
    EXPECT_TRUE(trace.has("\r\nCertificate file: " + pki("no-such-client.pem")));
}

TEST(TlsConnect, UntrustedServerFailsTheFirstSendWithTheVerificationText) {
    TraceCapture trace;
    testsupport::Listener l;
    TlsTestServer::Options o;
    o.cert = pki("untrusted-server.pem");
    o.key = pki("untrusted-server.key");
    TlsTestServer server(l, o, [](SSL *) {});
    SslFields f;
    f.CAfile = pki("ca.pem");
    RavlinkSSLconfig record = f.record();
    Connection c(l.port_text(), 11, &record);
    ASSERT_NE(c.pc, nullptr);
    EXPECT_EQ(c.send("x"), 0);
    EXPECT_EQ(RavlinkGetErrorCode(c.pc), kTlsFailure);
    const std::string head = "SSL/TLS error in SSL_connect(), SSL_ERROR_SSL: protocol error, error:";
    EXPECT_EQ(c.error().substr(0, head.size()), head) << c.error();
    EXPECT_NE(std::string(RavlinkGetErrorString(nullptr)).find("certificate verify failed"), std::string::npos);
    EXPECT_EQ(trace.count("\r\nVerify error with X.509 certificate at depth "), 1u);
}

TEST(TlsConnect, LevelTenNameFoundNowhereUsesDefaultsAndTrustsNobody) {
    testsupport::set_env("QXN_ravlink_registry_user", "/nonexistent/user.reg");
    testsupport::set_env("QXN_ravlink_registry_machine", "/nonexistent/machine.reg");
    testsupport::set_env("QXN_SSLconfigurations", "/nonexistent/SSLdefs.ini");
    TraceCapture trace;
    testsupport::Listener l;
    TlsTestServer server(l, {}, [](SSL *) {});
    Connection c(l.port_text(), 10, "unheard-of");
    ASSERT_NE(c.pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityType(c.pc), 2u);
    EXPECT_EQ(c.send("x"), 0);
    EXPECT_EQ(RavlinkGetErrorCode(c.pc), kTlsFailure);
    EXPECT_NE(c.error().find("certificate verify failed"), std::string::npos) << c.error();
    EXPECT_TRUE(trace.has("\r\nSSL/TLS configuration: unheard-of"));
    EXPECT_TRUE(trace.has("\n\rPeer verification option = 1, certificate depth = 9"));
    testsupport::set_env("QXN_ravlink_registry_user", nullptr);
    testsupport::set_env("QXN_ravlink_registry_machine", nullptr);
    testsupport::set_env("QXN_SSLconfigurations", nullptr);
}

TEST(TlsConnect, PeerClosingCleanlyIsReportedForTheRead) {
    testsupport::Listener l;
    TlsTestServer server(l, {}, [](SSL *ssl) { SSL_shutdown(ssl); });
    SslFields f;
    f.CAfile = pki("ca.pem");
    RavlinkSSLconfig record = f.record();
    Connection c(l.port_text(), 11, &record);
    ASSERT_NE(c.pc, nullptr);
    int32_t rc = 0;
    c.recv(4, &rc);
    EXPECT_EQ(rc, -6);
    // The layer's text, appended with the connection's code as its reason.
    const std::string text = "SSL/TLS error in SSL_read(), SSL_ERROR_ZERO_RETURN: connection closed\r\nReason: (-6, ";
    EXPECT_EQ(c.error().substr(0, text.size()), text) << c.error();
}

// Runs the probe on a copy of the library placed beside a stand-in OpenSSL pair.
std::string probe_with(const char *variant, const std::string &port) {
    std::string dir = std::string(RAVLINK_FAKE_OPENSSL_DIR) + "/" + variant;
    std::system(("cp '" RAVLINK_LIBRARY_FILE "' '" + dir + "/'").c_str());
    return testsupport::run_capture(std::string("'") + RAVLINK_TLS_BIND_PROBE + "' '" + dir +
                                    "/libravlink64.so' " + port);
}

std::size_t count(const std::string &text, const std::string &needle) {
    std::size_t n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

TEST(TlsBinding, MissingEntryPointNamesTheFirstOneAndTheVersionAndIsRetried) {
    testsupport::Listener l;
    std::string out = probe_with("partial", l.port_text());
    const std::string symbol = "[32]SSL/TLS unavailable.  Error (127) resolving library symbol: SSL_CTX_ctrl\n";
    EXPECT_EQ(count(out, symbol), 2u) << out; // once for each connection: the binding is tried again
    EXPECT_EQ(count(out, "[32]Library version:  Stand-in OpenSSL for binding tests\n"), 2u) << out;
    EXPECT_EQ(count(out, "send=0\n"), 2u) << out;
    EXPECT_NE(out.find("Could not load SSL/TLS libraries."), std::string::npos) << out;
    EXPECT_EQ(out.find("SSL_new"), std::string::npos) << out; // only the first missing one is named
}

TEST(TlsBinding, LibcryptoWithoutAnUnusedEntryPointStillFails) {
    testsupport::Listener l;
    std::string out = probe_with("nocrypto", l.port_text());
    EXPECT_NE(out.find("[32]SSL/TLS unavailable.  Error (127) resolving library symbol: OPENSSL_config\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("error=<"), std::string::npos);
    EXPECT_NE(out.find("Could not load SSL/TLS libraries."), std::string::npos) << out;
}
#endif

} // namespace
