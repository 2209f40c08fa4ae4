// Service principal names: the local-address rule, the two forms with their case rules, the
// output size, and the error texts that leave the error code alone.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "kerberos/computer_name.h"
#include "net/socket_library.h"
#include "support/loopback.h"

namespace {

std::string spn(const char *host, const char *type, const char *prefix, int size = 512) {
    char out[512] = "";
    if (!RavlinkGeneratePrincipalName(host, type, prefix, out, size)) return "failed: " + std::string(RavlinkErrorArray);
    return out;
}

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string upper(std::string s) {
    for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

class PrincipalName : public ::testing::Test {
protected:
    void SetUp() override {
        char buf[512];
        ASSERT_GT(s_getComputerName(buf, sizeof buf, 'F'), 0u);
        fqdn = buf;
        startCount = s_wsockcount();
        dwConnectionError = 4242; // a code the function must leave alone
    }
    void TearDown() override {
        EXPECT_EQ(dwConnectionError, 4242u);
        EXPECT_EQ(s_wsockcount(), startCount);
    }
    std::string fqdn;
    unsigned startCount = 0;
};

TEST_F(PrincipalName, LocalAddressesStandForTheComputersDnsName) {
    std::string full = "dbsvc/" + lower(fqdn);
    std::string label = "dbsvc" + upper(fqdn.substr(0, fqdn.find('.')));
    for (const char *host : {"localhost", "LocalHost", "127.0.0.1", "::1"}) {
        EXPECT_EQ(spn(host, "1", "dbsvc"), full) << host;
        EXPECT_EQ(spn(host, "2", "DBSvc"), full) << host;
        EXPECT_EQ(spn(host, "0", "DbSvc"), label) << host;
    }
    // Only the first character of the type counts.
    EXPECT_EQ(spn("localhost", "1xyz", "dbsvc"), full);
}

TEST_F(PrincipalName, NumericAddressWithoutReverseNameGivesAnEmptyHostPart) {
    EXPECT_EQ(spn("192.0.2.1", "1", "DBSVC"), "dbsvc/");
    EXPECT_EQ(spn("192.0.2.1", "0", "DBSVC"), "dbsvc");
}

TEST_F(PrincipalName, OutputMustHoldTheTerminator) {
    std::string name = "dbsvc/" + lower(fqdn);
    int exact = static_cast<int>(name.size());
    EXPECT_EQ(spn("localhost", "1", "dbsvc", exact), "failed: OutName buffer size too small.");
    EXPECT_EQ(spn("localhost", "1", "dbsvc", exact + 1), name);
    EXPECT_EQ(spn("localhost", "1", "dbsvc", 0), "failed: OutName buffer size too small.");
    EXPECT_EQ(spn("localhost", "1", "dbsvc", -1), "failed: OutName buffer size too small.");
}

TEST_F(PrincipalName, RefusalsAndTheirTexts) {
    char out[64];
    EXPECT_EQ(RavlinkGeneratePrincipalName(nullptr, "1", "p", out, sizeof out), 0);
    EXPECT_STREQ(RavlinkErrorArray, "Missing argument to GeneratePrincipalName()");
    EXPECT_EQ(RavlinkGeneratePrincipalName("localhost", "1", "p", nullptr, 64), 0);
    EXPECT_STREQ(RavlinkErrorArray, "Missing argument to GeneratePrincipalName()");

    EXPECT_EQ(spn("localhost", "3", "dbsvc"), "failed: Invalid ServerType argument value to GeneratePrincipalName()");
    EXPECT_EQ(spn("localhost", "", "dbsvc"), "failed: Invalid ServerType argument value to GeneratePrincipalName()");

    // The host is resolved before the type is looked at.
    std::string text = spn("no-such-host.invalid", "3", "dbsvc");
    EXPECT_EQ(text.rfind("failed: Could not resolve input IPAddress argument to FQDN with getaddrinfo().\r\nReason: (", 0),
              0u)
        << text;
}

} // namespace
