// The client name a connection carries. On POSIX the terminal session is the SSH session: the
// client's address from SSH_CONNECTION (else SSH_CLIENT) is the client name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "support/loopback.h"

namespace {

// Opens a level-0 context on a loopback socket and returns the client name it kept ("" for none).
std::string client_name_of_new_context() {
    auto [client, server] = testsupport::socket_pair();
    RavlinkContext *pc = RavlinkInitContext(client, nullptr, 0, nullptr, nullptr, nullptr, nullptr);
    testsupport::close_raw(server);
    if (pc == nullptr) return "connect failed: " + std::string(RavlinkGetErrorString(nullptr));
    char name[256];
    size_t len = sizeof name;
    std::string result = RavlinkGetTSClientName(pc, name, &len) == 1 ? std::string(name, len) : "lookup failed";
    RavlinkClose(pc);
    return result;
}

#ifndef _WIN32
class SshSession : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto *name : {"SSH_CONNECTION", "SSH_CLIENT"}) {
            const char *v = std::getenv(name);
            saved.push_back(v ? std::make_pair(true, std::string(v)) : std::make_pair(false, std::string()));
            testsupport::set_env(name, nullptr);
        }
    }
    void TearDown() override {
        testsupport::set_env("SSH_CONNECTION", saved[0].first ? saved[0].second.c_str() : nullptr);
        testsupport::set_env("SSH_CLIENT", saved[1].first ? saved[1].second.c_str() : nullptr);
    }
    std::vector<std::pair<bool, std::string>> saved;
};

TEST_F(SshSession, ClientAddressOfTheSessionIsTheClientName) {
    testsupport::set_env("SSH_CONNECTION", "192.0.2.61 52144 192.0.2.1 22");
    testsupport::set_env("SSH_CLIENT", "198.51.100.9 40000 22");
    EXPECT_EQ(client_name_of_new_context(), "192.0.2.61");

    testsupport::set_env("SSH_CONNECTION", "2001:db8::61 52144 2001:db8::1 22");
    EXPECT_EQ(client_name_of_new_context(), "2001:db8::61");

    // A link-local address with its zone reads as no address: the name is resolved and kept.
    testsupport::set_env("SSH_CONNECTION", "fe80::1%lo 52144 fe80::2%lo 22");
    EXPECT_EQ(client_name_of_new_context(), "fe80::1%lo");
}

TEST_F(SshSession, SshClientServesWhenSshConnectionIsMissing) {
    testsupport::set_env("SSH_CLIENT", "198.51.100.9 40000 22");
    EXPECT_EQ(client_name_of_new_context(), "198.51.100.9");
}

TEST_F(SshSession, ConnectKeepsTheClientName) {
    testsupport::set_env("SSH_CONNECTION", "203.0.113.5 52144 203.0.113.1 22");
    testsupport::Listener listener;
    timeval timeout = {5, 0};
    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", listener.port_text().c_str(), &timeout, 0, nullptr);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    char name[32];
    size_t len = sizeof name;
    EXPECT_EQ(RavlinkGetTSClientName(pc, name, &len), 1);
    EXPECT_EQ(std::string(name, len), "203.0.113.5");
    RavlinkClose(pc);

    // The same through the class.
    Ravlink r(0);
    ASSERT_EQ(r.ConnectToHostPort("127.0.0.1", listener.port_text().c_str(), &timeout), 1);
    uint64_t size = 5;
    EXPECT_EQ(r.GetTSClientName(name, &size), 0);
    EXPECT_EQ(size, 12u);
    EXPECT_EQ(r.GetTSClientName(name, &size), 1);
    EXPECT_EQ(size, 11u);
    EXPECT_STREQ(name, "203.0.113.5");
}

TEST_F(SshSession, ToolShowsTheClientNameOfItsConnection) {
    testsupport::Listener listener;
    std::string command = std::string("SSH_CONNECTION='192.0.2.77 50000 192.0.2.1 22' \"") + RAVLINK_TEST_TOOL +
                          "\" connect 127.0.0.1 " + listener.port_text() + " --verbose --timeout 1 </dev/null 2>&1";
    std::string out = testsupport::run_capture(command);
    EXPECT_NE(out.find("connected: security level 0, plain\nclient name: 192.0.2.77\n"), std::string::npos) << out;
}

TEST_F(SshSession, OutsideAnSshSessionThereIsNoNameAndNoError) {
    EXPECT_EQ(client_name_of_new_context(), "");
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "");
    EXPECT_EQ(RavlinkGetErrorCode(nullptr), 0xFFFFFFFFu);
}
#else
TEST(TerminalSession, LookupThroughWtsapi32NeverFailsTheContext) {
    // Whatever the session reports (Wine has no remote-desktop client), the context is made and
    // the name, if any, can be read.
    EXPECT_NE(client_name_of_new_context().rfind("connect failed", 0), 0u);
}
#endif

} // namespace
