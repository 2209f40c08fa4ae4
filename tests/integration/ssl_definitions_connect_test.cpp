// TLS chosen by the SSL definitions file (level 0, by address and port) and by a level-10 server
// definition (the server's own name as configuration), against real TLS servers on loopback.
#include <gtest/gtest.h>

#include "support/registry_fixture.h"
#include "support/tls_fixtures.h"

namespace {

using namespace testsupport;

class SslDefinitionsConnect : public ::testing::Test {
protected:
    void SetUp() override { set_env("QXN_SSLconfigurations", path_); }
    void TearDown() override {
        unset_env("QXN_SSLconfigurations");
        std::remove(path_.c_str());
        remove_registry("tls-servers.reg");
    }
    // Lists the peer's address and port with configuration lines, after a section for the same
    // port under a name of that address, which must not get in the way (names are not resolved).
    void define(const TlsPeer &peer, const std::string &lines) {
        auto server = [&](const char *address, const char *config) {
            return std::string("[s]\naddress=") + address + "\nport=" + peer.port() + "\nSSLConfig=" + config +
                   "\nConnectionSecurityLevel=0\n";
        };
        ASSERT_TRUE(write_file(path_, server("localhost", "none") + server("127.0.0.1", "tls") + "[tls]\n" + lines));
    }
    // Sends a text and reads it back ("" when it came back), then closes the connection.
    std::string round_trip(RavlinkContext *pc, const std::string &text) {
        const std::string problem = echo_problem(pc, text, &tv_);
        RavlinkClose(pc);
        return problem;
    }
    RavlinkContext *level_zero(const TlsPeer &peer) {
        return RavlinkToHostPort("127.0.0.1", peer.port().c_str(), &tv_, 0, "x/y");
    }
    std::string path_ = temp_file("tls-SSLdefs.ini");
    timeval tv_ = {10, 0};
};

TEST_F(SslDefinitionsConnect, AListedAddressAndPortRunOverTlsWithTheClientCertificate) {
    TlsPeer peer(TlsPeer::Mutual);
    REQUIRE_TLS_PEER(peer);
    define(peer, "Protocols=TLSv1.2\nKeyType=RSA\nVerifyPeer=yes\nVerifyDepth=3\nCertFile=" + pki("client.pem") +
           "\nKeyFile=" + pki("client-enc.key") + "\nPassword=correct horse battery staple\nCAfile=" +
           pki("ca.pem") + "\n");
    TraceCapture trace;
    RavlinkContext *pc = level_zero(peer);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityType(pc), 2u);
    EXPECT_EQ(RavlinkGetSecurityLevel(pc), 0);
    EXPECT_EQ(round_trip(pc, "over TLS"), "");
    EXPECT_TRUE(trace.has("[4]SSL definition obtained from SSL definition file."));
    EXPECT_TRUE(trace.has("Converted RavlinkSSLconfig = {Protocols=16, KeyType=2, VerifyPeer=1 ,VerifyDepth=3, "
                          "CipherList=ALL:!aNULL:!eNULL:!EXP:!SSLv2, Password=present, CertFile=" +
                          pki("client.pem") + ", KeyFile=" + pki("client-enc.key") + ", CAfile=" + pki("ca.pem") +
                          ", CSpath=}"))
        << trace.all();
    EXPECT_FALSE(trace.has("correct horse"));
}

TEST_F(SslDefinitionsConnect, WithoutVerifyPeerAnUntrustedServerFailsAtTheFirstSend) {
    TlsPeer peer(TlsPeer::Untrusted);
    REQUIRE_TLS_PEER(peer);
    define(peer, "CAfile=" + pki("ca.pem") + "\n");
    RavlinkContext *pc = level_zero(peer);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityType(pc), 2u);
    EXPECT_EQ(RavlinkSend(pc, "x", 1, &tv_), 0);
    EXPECT_NE(std::string(RavlinkGetErrorString(pc)).find("certificate verify failed"), std::string::npos)
        << RavlinkGetErrorString(pc);
    RavlinkClose(pc);
}

// A level-10 server whose name is a registry TLS configuration: that configuration's CAfile is
// the only trust, its empty cipher list OpenSSL's default. One not so named, but listed in the
// file, takes the file's configuration.
TEST_F(SslDefinitionsConnect, ALevelTenServerUsesItsOwnNameOrElseTheFile) {
    TlsPeer peer(TlsPeer::Echo);
    REQUIRE_TLS_PEER(peer);
    const std::string servers = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Brannoc\\Sedrin\\Servers\\";
    auto server = [&](const char *name) {
        return "[" + servers + name + "]\r\n\"Address\"=\"127.0.0.1\"\r\n\"Port\"=\"" + peer.port() +
               "\"\r\n\"ServicePrincipalName\"=\"not/used\"\r\n\"ConnectionSecurityLevel\"=\"10\"\r\n\r\n";
    };
    ASSERT_TRUE(install_registry("tls-servers.reg",
                                 "Windows Registry Editor Version 5.00\r\n\r\n" + server("tls-by-name") +
                                     server("tls-from-file") +
                                     "[HKEY_CURRENT_USER\\Software\\Brannoc\\Sedrin\\SSLConfigurations\\tls-by-name]"
                                     "\r\n\"CipherList\"=\"\"\r\n\"CAfile\"=\"" + pki("ca.pem") + "\"\r\n"));
    TraceCapture trace;
    RavlinkContext *pc = RavlinkToServer("tls-by-name", &tv_);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityType(pc), 2u);
    EXPECT_EQ(RavlinkGetSecurityLevel(pc), 0);
    EXPECT_TRUE(trace.has(",10,no username,no password,no authority,tls-by-name)\n")) << trace.all();
    EXPECT_FALSE(trace.has("SSL definition obtained"));
    EXPECT_EQ(round_trip(pc, "named TLS"), "");
    EXPECT_TRUE(trace.has("\r\nSSL/TLS configuration: tls-by-name"));
    EXPECT_FALSE(trace.has("Cipher list:")); // an empty list keeps OpenSSL's default

    define(peer, "CAfile=" + pki("ca.pem") + "\n");
    pc = RavlinkToServer("tls-from-file", &tv_);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_TRUE(trace.has("SSL definition obtained from SSL definition file."));
    EXPECT_EQ(round_trip(pc, "file TLS"), "");
}

} // namespace
