// Connecting by server name, and level-0 connects that the SSL definitions file does not list,
// end to end on loopback: server definitions in the registry (the real registry under Wine,
// .reg files on POSIX) and a plain peer that echoes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/registry_fixture.h"
#include "support/tcp_peer.h"
#include "support/trace_capture.h"

namespace {

using namespace testsupport;

// Sends a text over a new connection, has the listener's peer echo it raw, and reads it back.
std::string round_trip(RavlinkContext *pc, Listener &listener, const std::string &text) {
    timeval tv = timeout_ms(10000);
    if (!RavlinkSend(pc, text.data(), static_cast<uint32_t>(text.size()), &tv)) return "<send failed>";
    ravlink_socket_t peer = listener.accept_one();
    send_raw(peer, "echo: " + recv_raw(peer, text.size()));
    close_raw(peer);
    std::string back(text.size() + 6, '\0');
    if (RavlinkRecv(pc, &back[0], static_cast<int32_t>(back.size()), &tv) != 0)
        return std::string("<recv failed: ") + RavlinkGetErrorString(pc) + ">";
    return back;
}

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
    timeval tv = timeout_ms(10000);
    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", peer.port_text().c_str(), &tv, 0, nullptr);
    unset_env("QXN_SSLconfigurations");
    std::remove(path.c_str());
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityType(pc), 0u);
    EXPECT_EQ(round_trip(pc, peer, "plain bytes"), "echo: plain bytes");
    RavlinkClose(pc);
    EXPECT_FALSE(trace.has("SSL definition obtained from SSL definition file."));
}

const std::string kServers = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Brannoc\\Sedrin\\Servers\\e2e-plain]\r\n";

class ServerNames : public ::testing::Test {
protected:
    static bool install(const std::string &port) {
        return install_registry("e2e-servers.reg", "Windows Registry Editor Version 5.00\r\n\r\n[-" + kServers +
                                                       "\r\n[" + kServers + "\"Address\"=\"127.0.0.1\"\r\n\"Port\"=\"" +
                                                       port + "\"\r\n\"ConnectionSecurityLevel\"=\"\"\r\n");
    }
    void TearDown() override { remove_registry("e2e-servers.reg"); }
};

TEST_F(ServerNames, APlainDefinitionConnectsByName) {
    Listener peer;
    ASSERT_TRUE(install(peer.port_text()));
    timeval tv = timeout_ms(10000);
    TraceCapture trace;
    RavlinkContext *pc = RavlinkToServer("e2e-plain", &tv);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityLevel(pc), 0); // an empty level text
    EXPECT_EQ(round_trip(pc, peer, "by name"), "echo: by name");
    RavlinkClose(pc);
    EXPECT_TRUE(trace.has("[4]RavlinkToServer(e2e-plain,")) << trace.all();
    EXPECT_TRUE(trace.has(",no username,no password,no authority)\n"));
    // The definition's values reach the connect, with the default principal name.
    EXPECT_TRUE(trace.has("[4]RavlinkLoginToHostPort(127.0.0.1," + peer.port_text() + ",")) << trace.all();
    EXPECT_TRUE(trace.has(",0,no username,no password,no authority,sedrin)\n")) << trace.all();
}

TEST_F(ServerNames, AnUnknownServerReturnsNullAndLeavesTheErrorState) {
    ASSERT_TRUE(install("1"));
    // An earlier failure's text stays: the look-up records nothing.
    EXPECT_EQ(RavlinkToHostPort("127.0.0.1", "7", nullptr, 4, nullptr), nullptr);
    TraceCapture trace;
    EXPECT_EQ(RavlinkLoginToServer("e2e-nothing", nullptr, "user", "pw", "REALM"), nullptr);
    EXPECT_TRUE(trace.has("[4]RavlinkLoginToServer(e2e-nothing,0,user,pw,REALM)\n")) << trace.all();
    EXPECT_TRUE(trace.has("[6]ServerToHostPort(e2e-nothing) failed in RavlinkLoginToServer().\n"));
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Invalid Security Level requested.");
    EXPECT_EQ(RavlinkToServer(nullptr, nullptr), nullptr);
    EXPECT_TRUE(trace.has("[6]ServerToHostPort(no server) failed in RavlinkLoginToServer().\n"));
}

} // namespace
