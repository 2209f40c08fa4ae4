// The error state at its three scopes: library-wide, per thread and per connection.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/context.h"
#include "diag/error_state.h"
#include "platform/platform.h"

namespace {

class ErrorStateTest : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        s_setCurrentConnection(nullptr);
        s_clearError();
    }
};

TEST_F(ErrorStateTest, AppendChainsTextsWhileTheConnectionKeepsTheLastAlone) {
    RavlinkContext *pc = s_allocContext();
    ASSERT_NE(pc, nullptr);
    s_setCurrentConnection(pc);
    s_setError("A", 10054);
    s_appendError("B", 0);
    EXPECT_FALSE(plat::system_message(10054).empty());
    std::string a = "A\r\nReason: (10054, 0x2746) " + plat::system_message(10054);
    EXPECT_EQ(std::string(RavlinkErrorArray), a + "\nB");
    EXPECT_EQ(std::string(RavlinkGetErrorString(nullptr)), a + "\nB");
    EXPECT_STREQ(RavlinkGetErrorString(pc), "B");
    EXPECT_EQ(dwConnectionError, 10054u); // an append with code 0 keeps the code
    EXPECT_EQ(pc->error, 10054u);
    s_appendError("C", 10053);
    EXPECT_EQ(dwConnectionError, 10053u);
    EXPECT_EQ(pc->error, 10053u);
    // With a current connection the chain continues from the connection's own (last) text.
    EXPECT_EQ(std::string(RavlinkGetErrorString(nullptr)).rfind("B\nC\r\nReason: (10053, 0x2745) ", 0), 0u);

    // Clearing empties every scope; nothing recorded reads as all ones and an empty text.
    s_clearError();
    EXPECT_EQ(pc->error, 0u);
    EXPECT_EQ(pc->errorText, nullptr);
    EXPECT_STREQ(RavlinkErrorArray, "");
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "");
    s_setCurrentConnection(nullptr);
    EXPECT_EQ(RavlinkGetErrorCode(nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(RavlinkErrorString, RavlinkErrorArray);
    std::free(pc);
}

TEST_F(ErrorStateTest, ReasonLinesTheirAbsenceAndTheLimitsOfTexts) {
    s_setError(nullptr, 0x7ffffe01u);
    EXPECT_STREQ(RavlinkErrorArray, "Ravlink library error\r\nReason: (2147483137, 0x7ffffe01) unknown error");
    s_setError("Invalid Security level requested.", 0); // code zero: the text alone, and the code is reset
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Invalid Security level requested.");
    EXPECT_EQ(dwConnectionError, 0u);
    // Texts are cut at 1023 characters, the library-wide one at 2047.
    std::string big(3000, 'e');
    s_setError(big.c_str(), 0);
    EXPECT_EQ(std::strlen(RavlinkErrorArray), 1023u);
    s_appendError(big.c_str(), 0);
    s_appendError(big.c_str(), 0);
    EXPECT_EQ(std::strlen(RavlinkErrorArray), 2047u);
    EXPECT_EQ(std::strlen(RavlinkGetErrorString(nullptr)), 3u * 1023u + 2u); // the thread keeps it whole
}

} // namespace
