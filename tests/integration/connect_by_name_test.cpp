// Connecting by server name, and level-0 connects that the SSL definitions file does not list,
// end to end on loopback: server definitions in the registry (the real registry under Wine,
// .reg files on POSIX) and plain echo peers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "support/registry_fixture.h"
#include "support/tcp_peer.h"
#include "support/trace_capture.h"

namespace {

using namespace testsupport;

// Accepts one connection and hands it to the peer's behaviour; gives up after 20 s.
class OnePeer {
public:
    template <class Behaviour> explicit OnePeer(Behaviour behaviour) {
        thread_ = std::thread([this, behaviour] {
            timeval limit = timeout_ms(20000);
            fd_set set;
            FD_ZERO(&set);
            FD_SET(listener_.fd, &set);
            if (::select(static_cast<int>(listener_.fd) + 1, &set, nullptr, nullptr, &limit) != 1) return;
            ravlink_socket_t s = listener_.accept_one();
            if (s != RAVLINK_INVALID_SOCKET) behaviour(s);
        });
    }
    ~OnePeer() { thread_.join(); }
    std::string port() const { return listener_.port_text(); }

private:
    TcpListener listener_;
    std::thread thread_;
};

// Echoes raw bytes until the client closes; the first bytes are kept for the test to look at.
struct PlainEcho {
    std::string *first;
    void operator()(ravlink_socket_t s) const {
        char buf[4096];
        int n;
        bool seen = false;
        while ((n = ::recv(s, buf, sizeof buf, 0)) > 0) {
            if (!seen) *first = std::string(buf, static_cast<size_t>(n)), seen = true;
            send_raw(s, std::string(buf, static_cast<size_t>(n)));
        }
        close_raw(s);
    }
};

// Sends a text and reads it back.
std::string round_trip(RavlinkContext *pc, const std::string &text) {
    timeval tv = timeout_ms(10000);
    if (!RavlinkSend(pc, text.data(), static_cast<uint32_t>(text.size()), &tv)) return "<send failed>";
    std::string back(text.size(), '\0');
    if (RavlinkRecv(pc, &back[0], static_cast<int32_t>(back.size()), &tv) != 0)
        return std::string("<recv failed: ") + RavlinkGetErrorString(pc) + ">";
    return back;
}

class DefinitionsFile : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = temp_file("e2e-SSLdefs.ini");
        set_env("QXN_SSLconfigurations", path_);
    }
    void TearDown() override {
        unset_env("QXN_SSLconfigurations");
        std::remove(path_.c_str());
    }
    void write_definitions(const std::string &text) { ASSERT_TRUE(write_file(path_, text)); }
    static std::string server_section(const std::string &address, const std::string &port) {
        return "[peer]\naddress=" + address + "\nport=" + port + "\nSSLConfig=tls\nConnectionSecurityLevel=0\n";
    }
    std::string path_;
};

TEST_F(DefinitionsFile, AnUnlistedAddressOrPortStaysPlain) {
    std::string first;
    OnePeer peer{PlainEcho{&first}};
    // Listed: another port, and this port under a host name (names are not resolved).
    write_definitions(server_section("127.0.0.1", "1") + server_section("localhost", peer.port()) +
                      "[tls]\nVerifyPeer=1\n");
    timeval tv = timeout_ms(10000);
    TraceCapture trace;
    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", peer.port().c_str(), &tv, 0, nullptr);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityType(pc), 0u);
    EXPECT_EQ(round_trip(pc, "plain bytes"), "plain bytes");
    RavlinkClose(pc);
    EXPECT_EQ(first, "plain bytes");
    EXPECT_FALSE(trace.has("SSL definition obtained from SSL definition file."));
}


// Server definitions: one registry text for both platforms.
std::string servers_registry(const std::string &plainPort, const std::string &tlsPort, const std::string &caFile) {
    const std::string servers = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Brannoc\\Sedrin\\Servers\\";
    const std::string configs = "HKEY_CURRENT_USER\\Software\\Brannoc\\Sedrin\\SSLConfigurations\\";
    std::string ca;
    for (char c : caFile) ca += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return "Windows Registry Editor Version 5.00\r\n\r\n"
           "[-" + servers + "e2e-plain]\r\n[-" + servers + "e2e-tls]\r\n[-" + configs + "e2e-tls]\r\n\r\n"
           "[" + servers + "e2e-plain]\r\n\"Address\"=\"127.0.0.1\"\r\n\"Port\"=\"" + plainPort + "\"\r\n"
           "\"ConnectionSecurityLevel\"=\"\"\r\n\r\n"
           "[" + servers + "e2e-tls]\r\n\"Address\"=\"127.0.0.1\"\r\n\"Port\"=\"" + tlsPort + "\"\r\n"
           "\"ServicePrincipalName\"=\"not/used\"\r\n\"ConnectionSecurityLevel\"=\"10\"\r\n\r\n"
           "[" + configs + "e2e-tls]\r\n\"VerifyPeer\"=\"1\"\r\n\"CAfile\"=\"" + ca + "\"\r\n";
}

class ServerNames : public ::testing::Test {
protected:
    void TearDown() override { remove_registry("e2e-servers.reg"); }
};

TEST_F(ServerNames, APlainDefinitionConnectsByName) {
    std::string first;
    OnePeer peer{PlainEcho{&first}};
    ASSERT_TRUE(install_registry("e2e-servers.reg", servers_registry(peer.port(), "1", "")));
    timeval tv = timeout_ms(10000);
    TraceCapture trace;
    RavlinkContext *pc = RavlinkToServer("e2e-plain", &tv);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityLevel(pc), 0); // an empty level text
    EXPECT_EQ(RavlinkGetSecurityType(pc), 0u);
    EXPECT_EQ(round_trip(pc, "by name"), "by name");
    RavlinkClose(pc);
    EXPECT_TRUE(trace.has("[4]RavlinkToServer(e2e-plain,")) << trace.all();
    EXPECT_TRUE(trace.has(",no username,no password,no authority)\n"));
    // The definition's values reach the connect, with the default principal name.
    EXPECT_TRUE(trace.has("[4]RavlinkLoginToHostPort(127.0.0.1," + peer.port() + ",")) << trace.all();
    EXPECT_TRUE(trace.has(",0,no username,no password,no authority,sedrin)\n")) << trace.all();
}

TEST_F(ServerNames, AnUnknownServerReturnsNullAndLeavesTheErrorState) {
    ASSERT_TRUE(install_registry("e2e-servers.reg", servers_registry("1", "1", "")));
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
