// Connecting by server name, and level-0 connects that the SSL definitions file does not list,
// end to end on loopback: server definitions in the registry (the real registry under Wine,
// .reg files on POSIX) and the definitions file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/loopback.h"
#include "support/registry_fixture.h"
#include "support/trace_capture.h"

using namespace testsupport;

TEST(DefinitionsFile, AnUnlistedAddressOrPortStaysPlain) {
    Listener peer;
    const std::string path = temp_file("e2e-SSLdefs.ini");
    auto section = [](const std::string &address, const std::string &port) {
        return "[peer]\naddress=" + address + "\nport=" + port + "\nSSLConfig=tls\nConnectionSecurityLevel=0\n";
    };
    // Listed: another port, and this port under a host name (names are not resolved).
    ASSERT_TRUE(write_file(path, section("127.0.0.1", "1") + section("localhost", peer.port_text()) +
                                     "[tls]\nVerifyPeer=1\n"));
    set_env("QXN_SSLconfigurations", path);
    TraceCapture trace;
    timeval tv = timeout_ms(2000);
    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", peer.port_text().c_str(), &tv, 0, nullptr);
    unset_env("QXN_SSLconfigurations");
    std::remove(path.c_str());
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityType(pc), 0u);
    RavlinkClose(pc);
    EXPECT_FALSE(trace.has("SSL definition obtained from SSL definition file."));
}

TEST(ServerNames, APlainDefinitionConnectsByNameAndAnUnknownNameFails) {
    Listener peer;
    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Brannoc\\Sedrin\\Servers\\e2e-plain]\r\n";
    ASSERT_TRUE(install_registry("e2e-servers.reg",
                                 "Windows Registry Editor Version 5.00\r\n\r\n[-" + key + "\r\n[" + key +
                                     "\"Address\"=\"127.0.0.1\"\r\n\"Port\"=\"" + peer.port_text() +
                                     "\"\r\n\"ConnectionSecurityLevel\"=\"\"\r\n"));
    timeval tv = timeout_ms(2000);
    TraceCapture trace;
    RavlinkContext *pc = RavlinkToServer("e2e-plain", &tv);
    EXPECT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityLevel(pc), 0); // an empty level text
    EXPECT_EQ(RavlinkGetSecurityType(pc), 0u);
    RavlinkClose(pc);
    EXPECT_TRUE(trace.has("[4]RavlinkToServer(e2e-plain,")) << trace.all();
    EXPECT_TRUE(trace.has(",no username,no password,no authority)\n"));
    // The definition's values reach the connect, with the default principal name.
    EXPECT_TRUE(trace.has("[4]RavlinkLoginToHostPort(127.0.0.1," + peer.port_text() + ",")) << trace.all();
    EXPECT_TRUE(trace.has(",0,no username,no password,no authority,sedrin)\n")) << trace.all();

    // An unknown server returns null and records nothing: an earlier failure's text stays.
    EXPECT_EQ(RavlinkToHostPort("127.0.0.1", "7", nullptr, 4, nullptr), nullptr);
    EXPECT_EQ(RavlinkLoginToServer("e2e-nothing", nullptr, "user", "pw", "REALM"), nullptr);
    EXPECT_TRUE(trace.has("[4]RavlinkLoginToServer(e2e-nothing,0,user,pw,REALM)\n")) << trace.all();
    EXPECT_TRUE(trace.has("[6]ServerToHostPort(e2e-nothing) failed in RavlinkLoginToServer().\n"));
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Invalid Security Level requested.");
    EXPECT_EQ(RavlinkToServer(nullptr, nullptr), nullptr);
    EXPECT_TRUE(trace.has("[6]ServerToHostPort(no server) failed in RavlinkLoginToServer().\n"));
    remove_registry("e2e-servers.reg");
}
