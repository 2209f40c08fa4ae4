// TLS chosen by the SSL definitions file (level 0, by address and port) and by a level-10 server
// definition (the server's own name as configuration), against a real OpenSSL server on loopback.
#include <gtest/gtest.h>

#include <string>

#include "support/registry_fixture.h"
#include "support/tls_fixtures.h"

namespace {

#ifdef _WIN32
TEST(SslDefinitionsConnect, AgainstRealPeers) {
    GTEST_SKIP() << "no OpenSSL for Windows on this machine: TLS connections are tested in the Linux build";
}
#else
using namespace testsupport;

// Sends a text and reads it back.
std::string round_trip(RavlinkContext *pc, const std::string &text) {
    timeval tv = {10, 0};
    if (!RavlinkSend(pc, text.data(), static_cast<uint32_t>(text.size()), &tv))
        return std::string("<send failed: ") + RavlinkGetErrorString(pc) + ">";
    std::string back(text.size(), '\0');
    if (RavlinkRecv(pc, &back[0], static_cast<int32_t>(back.size()), &tv) != 0)
        return std::string("<recv failed: ") + RavlinkGetErrorString(pc) + ">";
    return back;
}

class SslDefinitionsConnect : public ::testing::Test {
protected:
    void SetUp() override {
        if (pki("").size() == 1) GTEST_SKIP() << "the test PKI could not be made";
        path_ = temp_file("tls-SSLdefs.ini");
        set_env("QXN_SSLconfigurations", path_);
    }
    void TearDown() override {
        unset_env("QXN_SSLconfigurations");
        std::remove(path_.c_str());
        remove_registry("tls-servers.reg");
    }
    void write_definitions(const std::string &text) { ASSERT_TRUE(write_file(path_, text)); }
    static std::string server_section(const std::string &address, const std::string &port, const char *config) {
        return "[peer]\naddress=" + address + "\nport=" + port + "\nSSLConfig=" + config +
               "\nConnectionSecurityLevel=0\n";
    }
    std::string path_;
};

TEST_F(SslDefinitionsConnect, AListedAddressAndPortRunOverTlsAtLevelZero) {
    Listener l;
    TlsTestServer server(l, {}, TlsTestServer::echo);
    // An earlier section for another address does not get in the way.
    write_definitions(server_section("10.0.0.1", l.port_text(), "none") +
                      server_section("127.0.0.1", l.port_text(), "tls") +
                      "[tls]\nVerifyPeer=yes\nVerifyDepth=3\nCAfile=" + pki("ca.pem") + "\n");
    timeval tv = {10, 0};
    TraceCapture trace;
    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, "ignored/principal");
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityType(pc), 2u);
    EXPECT_EQ(RavlinkGetSecurityLevel(pc), 0);
    EXPECT_TRUE(trace.has("[4]SSL definition obtained from SSL definition file."));
    EXPECT_TRUE(trace.has("Converted RavlinkSSLconfig = {Protocols=, KeyType=, VerifyPeer=1 ,VerifyDepth=3, "
                          "CipherList=ALL:!aNULL:!eNULL:!EXP:!SSLv2, Password=present, CertFile=, KeyFile=, CAfile=" +
                          pki("ca.pem") + ", CSpath=}"))
        << trace.all();
    EXPECT_EQ(round_trip(pc, "over TLS"), "over TLS");
    RavlinkClose(pc);
    EXPECT_TRUE(server.handshake_done());
}

TEST_F(SslDefinitionsConnect, TheDefinitionsClientCertificateIsPresented) {
    Listener l;
    TlsTestServer::Options o;
    o.clientCa = pki("ca.pem");
    TlsTestServer server(l, o, TlsTestServer::echo);
    write_definitions(server_section("127.0.0.1", l.port_text(), "withcert") +
                      "[withcert]\nProtocols=TLSv1.2\nKeyType=RSA\nCertFile=" + pki("client.pem") +
                      "\nKeyFile=" + pki("client-enc.key") + "\nPassword=correct horse battery staple\nCAfile=" +
                      pki("ca.pem") + "\n");
    timeval tv = {10, 0};
    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(round_trip(pc, "mutual"), "mutual");
    RavlinkClose(pc);
}

TEST_F(SslDefinitionsConnect, AnUntrustedServerFailsAtTheFirstSend) {
    Listener l;
    TlsTestServer::Options o;
    o.cert = pki("untrusted-server.pem");
    o.key = pki("untrusted-server.key");
    TlsTestServer server(l, o, TlsTestServer::echo);
    write_definitions(server_section("127.0.0.1", l.port_text(), "tls") + "[tls]\nCAfile=" + pki("ca.pem") + "\n");
    timeval tv = {10, 0};
    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityType(pc), 2u);
    EXPECT_EQ(RavlinkSend(pc, "x", 1, &tv), 0);
    RavlinkClose(pc);
    EXPECT_FALSE(server.handshake_done());
}

TEST_F(SslDefinitionsConnect, ALevelTenServerUsesItsOwnNameAsTlsConfiguration) {
    Listener l;
    TlsTestServer server(l, {}, TlsTestServer::echo);
    const std::string servers = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Brannoc\\Sedrin\\Servers\\";
    const std::string configs = "HKEY_CURRENT_USER\\Software\\Brannoc\\Sedrin\\SSLConfigurations\\";
    ASSERT_TRUE(install_registry("tls-servers.reg",
                                 "Windows Registry Editor Version 5.00\r\n\r\n"
                                 "[" + servers + "tls-by-name]\r\n\"Address\"=\"127.0.0.1\"\r\n"
                                 "\"Port\"=\"" + l.port_text() + "\"\r\n\"ServicePrincipalName\"=\"not/used\"\r\n"
                                 "\"ConnectionSecurityLevel\"=\"10\"\r\n\r\n"
                                 "[" + configs + "tls-by-name]\r\n\"CAfile\"=\"" + pki("ca.pem") + "\"\r\n"));
    timeval tv = {10, 0};
    TraceCapture trace;
    RavlinkContext *pc = RavlinkToServer("tls-by-name", &tv);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityType(pc), 2u);
    EXPECT_EQ(RavlinkGetSecurityLevel(pc), 0);
    EXPECT_TRUE(trace.has(",10,no username,no password,no authority,tls-by-name)\n")) << trace.all();
    // The server's certificate is trusted only through the CAfile of the configuration "tls-by-name".
    EXPECT_EQ(round_trip(pc, "named TLS"), "named TLS");
    RavlinkClose(pc);
}

TEST_F(SslDefinitionsConnect, ALevelTenServerListedInTheFileTakesTheFilesConfiguration) {
    Listener l;
    TlsTestServer server(l, {}, TlsTestServer::echo);
    const std::string servers = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannoc\\Sedrin\\Servers\\";
    // No registry configuration of that name: the file's entry for the address and port decides.
    ASSERT_TRUE(install_registry("tls-servers.reg",
                                 "REGEDIT4\n[" + servers + "tls-from-file]\n\"Address\"=\"127.0.0.1\"\n"
                                 "\"Port\"=\"" + l.port_text() + "\"\n\"ConnectionSecurityLevel\"=\"10\"\n"));
    write_definitions(server_section("127.0.0.1", l.port_text(), "tls") + "[tls]\nCAfile=" + pki("ca.pem") + "\n");
    timeval tv = {10, 0};
    TraceCapture trace;
    RavlinkContext *pc = RavlinkToServer("tls-from-file", &tv);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_TRUE(trace.has("SSL definition obtained from SSL definition file."));
    EXPECT_EQ(round_trip(pc, "file TLS"), "file TLS");
    RavlinkClose(pc);
}
#endif

} // namespace
