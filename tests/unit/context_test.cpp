// Context rules that need a Kerberos-level record: switching between integrity and encryption.
#include <gtest/gtest.h>

#include "api/context.h"

TEST(ContextLevels, OnlyLevelsTwoAndThreeSwitchBetweenEachOther) {
    RavlinkContext *pc = s_allocContext();
    ASSERT_NE(pc, nullptr);
    EXPECT_FALSE(s_connectionUp(pc)); // a new record has no socket and no credentials
    pc->securityLevel = 1;
    EXPECT_EQ(RavlinkSetSecurityLevel(pc, 3), 1);
    pc->securityLevel = 2;
    EXPECT_EQ(RavlinkSetSecurityLevel(pc, 3), 3);
    EXPECT_EQ(RavlinkSetSecurityLevel(pc, 1), 3);
    EXPECT_EQ(RavlinkSetSecurityLevel(pc, 4), 3);
    EXPECT_EQ(RavlinkSetSecurityLevel(pc, 2), 2);
    EXPECT_EQ(RavlinkClose(pc), 1);
}
