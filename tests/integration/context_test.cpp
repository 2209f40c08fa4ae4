// Wrapping a connected socket in a context, its properties, and its release.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/loopback.h"

namespace {

using testsupport::socket_pair;

TEST(Context, LevelZeroWrapsTheCallersSocket) {
    auto [client, server] = socket_pair();
    RavlinkContext *pc = RavlinkInitContext(client, nullptr, 0, nullptr, nullptr, nullptr, "svc/host");
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSocketDescriptor(pc), client);
    EXPECT_EQ(RavlinkGetSecurityLevel(pc), 0);
    EXPECT_EQ(RavlinkGetSecurityType(pc), 0u);
    EXPECT_EQ(RavlinkGetMode(pc), 0u);
    EXPECT_EQ(RavlinkGetRdlen(pc), 0);
    EXPECT_EQ(RavlinkSetMode(pc, RAVLINK_VREAD), 0u);
    EXPECT_EQ(RavlinkSetMode(pc, RAVLINK_FREAD), 1u);
    EXPECT_EQ(RavlinkSetSecurityLevel(pc, 3), 0); // only a Kerberos connection at 2 or 3 switches
    EXPECT_EQ(RavlinkGetSecurityLevel(pc), 0);

    EXPECT_EQ(RavlinkClose(pc), 1);
    // The context owned the socket: the peer sees the connection end.
    char byte;
    EXPECT_EQ(::recv(server, &byte, 1, 0), 0);
    testsupport::close_raw(server);
}

TEST(Context, LevelsAboveThreeAreRefused) {
    for (int32_t level : {10, 11, -1, 4}) {
        auto [client, server] = socket_pair();
        EXPECT_EQ(RavlinkInitContext(client, nullptr, level, nullptr, nullptr, nullptr, nullptr), nullptr);
        EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Invalid Security level requested.");
        EXPECT_EQ(RavlinkGetErrorCode(nullptr), 0xFFFFFFFFu); // recorded with code 0
        testsupport::close_raw(client);
        testsupport::close_raw(server);
    }
}

TEST(Context, NullContextGettersAreNeutral) {
    EXPECT_EQ(RavlinkClose(nullptr), 0);
    EXPECT_EQ(RavlinkGetSocketDescriptor(nullptr), RAVLINK_INVALID_SOCKET);
    EXPECT_EQ(RavlinkGetSecurityLevel(nullptr), 0);
    EXPECT_EQ(RavlinkGetSecurityType(nullptr), 0u);
    EXPECT_EQ(RavlinkGetMode(nullptr), 0u);
    EXPECT_EQ(RavlinkGetRdlen(nullptr), 0);
    EXPECT_EQ(RavlinkSetMode(nullptr, 1), 0u);
    EXPECT_EQ(RavlinkSetSecurityLevel(nullptr, 3), 0);
}

TEST(Context, VersionIsFiveDottedFieldsOfFourteenCharacters) {
    EXPECT_EQ(RavlinkGetVersion(nullptr), 15);
    char buf[32];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(RavlinkGetVersion(buf), 15);
    std::string v(buf);
    ASSERT_EQ(v.size(), 14u);
    int fields = 1;
    for (char c : v) {
        if (c == '.')
            ++fields;
        else
            EXPECT_TRUE(c >= '0' && c <= '9') << v;
    }
    EXPECT_EQ(fields, 5);
}

} // namespace
