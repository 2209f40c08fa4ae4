// The client name a connection carries. On POSIX the terminal session is the SSH session: the
// client's address from SSH_CONNECTION (else SSH_CLIENT) is the client name.
#include <gtest/gtest.h>

#include <string>

#include "support/loopback.h"

#ifndef _WIN32
namespace {

using testsupport::set_env;

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

// Each case sets the session's variables itself; none is left behind.
class SshSession : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        set_env("SSH_CONNECTION", nullptr);
        set_env("SSH_CLIENT", nullptr);
    }
};

TEST_F(SshSession, ClientAddressOfTheSessionIsTheClientName) {
    EXPECT_EQ(client_name_of_new_context(), ""); // outside a session: no name and no error
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "");
    EXPECT_EQ(RavlinkGetErrorCode(nullptr), 0xFFFFFFFFu);

    struct Case {
        const char *connection, *client, *name;
    } cases[] = {
        {"192.0.2.61 52144 192.0.2.1 22", "198.51.100.9 40000 22", "192.0.2.61"},
        {"2001:db8::61 52144 2001:db8::1 22", nullptr, "2001:db8::61"},
        // A link-local address with its zone reads as no address: the name is resolved and kept.
        {"fe80::1%lo 52144 fe80::2%lo 22", nullptr, "fe80::1%lo"},
        {nullptr, "198.51.100.9 40000 22", "198.51.100.9"},
    };
    for (const Case &c : cases) {
        set_env("SSH_CONNECTION", c.connection);
        set_env("SSH_CLIENT", c.client);
        EXPECT_EQ(client_name_of_new_context(), c.name);
    }
}

// A connection made by address and port keeps the name too; the tool shows it.
TEST_F(SshSession, ToolShowsTheClientNameOfItsConnection) {
    testsupport::Listener listener;
    std::string command = std::string("SSH_CONNECTION='192.0.2.77 50000 192.0.2.1 22' \"") + RAVLINK_TEST_TOOL +
                          "\" connect 127.0.0.1 " + listener.port_text() + " --verbose --timeout 1 </dev/null 2>&1";
    std::string out = testsupport::run_capture(command);
    EXPECT_NE(out.find("connected: security level 0, plain\nclient name: 192.0.2.77\n"), std::string::npos) << out;
}

} // namespace
#endif
