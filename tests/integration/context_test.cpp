// Wrapping a connected socket in a context, its properties, and its release.
#include <gtest/gtest.h>

#include <string>

#include "support/loopback.h"

using testsupport::socket_pair;

TEST(Context, LevelZeroWrapsTheCallersSocket) {
    auto [client, server] = socket_pair();
    RavlinkContext *pc = RavlinkInitContext(client, nullptr, 0, nullptr, nullptr, nullptr, "svc/host");
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSocketDescriptor(pc), client);
    EXPECT_EQ(RavlinkGetSecurityLevel(pc), 0);
    EXPECT_EQ(RavlinkGetSecurityType(pc), 0u);
    EXPECT_EQ(RavlinkGetMode(pc), 0u);
    EXPECT_EQ(RavlinkSetMode(pc, RAVLINK_VREAD), 0u);
    EXPECT_EQ(RavlinkSetMode(pc, RAVLINK_FREAD), 1u);
    EXPECT_EQ(RavlinkSetSecurityLevel(pc, 3), 0); // only a Kerberos connection at 2 or 3 switches
    EXPECT_EQ(RavlinkClose(pc), 1);
    char byte; // the context owned the socket: the peer sees the connection end
    EXPECT_EQ(::recv(server, &byte, 1, 0), 0);
    testsupport::close_raw(server);

    auto [c, s] = socket_pair();
    for (int32_t level : {10, 11, -1, 4}) {
        EXPECT_EQ(RavlinkInitContext(c, nullptr, level, nullptr, nullptr, nullptr, nullptr), nullptr);
        EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Invalid Security level requested.");
        EXPECT_EQ(RavlinkGetErrorCode(nullptr), 0xFFFFFFFFu); // recorded with code 0
    }
    testsupport::close_raw(c);
    testsupport::close_raw(s);
}

TEST(Context, NullContextIsRefusedWithoutRecording) {
    RavlinkToHostPort("127.0.0.1", "1", nullptr, 4, nullptr); // leaves a known text
    char buf[4];
    EXPECT_EQ(RavlinkRecv(nullptr, buf, 4, nullptr), -1);
    EXPECT_EQ(RavlinkSend(nullptr, buf, 4, nullptr), 0);
    EXPECT_EQ(RavlinkClose(nullptr), 0);
    EXPECT_EQ(RavlinkGetSocketDescriptor(nullptr), RAVLINK_INVALID_SOCKET);
    EXPECT_EQ(RavlinkGetSecurityLevel(nullptr) | RavlinkGetRdlen(nullptr) | RavlinkSetSecurityLevel(nullptr, 3), 0);
    EXPECT_EQ(RavlinkGetSecurityType(nullptr) | RavlinkGetMode(nullptr) | RavlinkSetMode(nullptr, 1), 0u);
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Invalid Security Level requested.");
    EXPECT_EQ(RavlinkGetVersion(nullptr), 15); // the length it would write (the text: the install test)
}
