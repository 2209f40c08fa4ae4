// Computer names by letter.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "kerberos/computer_name.h"

namespace {

TEST(ComputerName, LettersPickConsistentForms) {
    char full[256], host[256], netbios[256], domain[256];
    ASSERT_GT(s_getComputerName(full, sizeof full, 'F'), 0u);
    ASSERT_GT(s_getComputerName(host, sizeof host, 'H'), 0u);
    ASSERT_GT(s_getComputerName(netbios, sizeof netbios, 'B'), 0u);
    EXPECT_EQ(std::string(full).rfind(host, 0), 0u) << full << " / " << host;
    EXPECT_LE(std::string(netbios).size(), 15u);
    for (char c : std::string(netbios)) EXPECT_FALSE(std::islower(static_cast<unsigned char>(c)));
    std::uint32_t d = s_getComputerName(domain, sizeof domain, 'D');
    if (d > 0) {
        EXPECT_EQ(std::string(full), std::string(host) + "." + domain);
    }
    char small[2];
    EXPECT_EQ(s_getComputerName(small, sizeof small, 'F'), 0u); // too small is a failure
    EXPECT_EQ(s_getComputerName(full, sizeof full, 'x'), 0u);
}

} // namespace
