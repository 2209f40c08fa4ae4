// Computer names by letter, and service principal names: the local-address rule, the two forms
// with their case rules, the output size, and the error texts that leave the error code alone.
#include <gtest/gtest.h>

#include <cctype>

#include "kerberos/computer_name.h"
#include "platform/computer_name.h"
#include "net/socket_library.h"
#include "support/loopback.h"

namespace {

TEST(ComputerName, LettersPickConsistentForms) {
    char full[256], host[256], netbios[256], domain[256], small[2];
    ASSERT_GT(s_getComputerName(full, sizeof full, 'F'), 0u);
    ASSERT_GT(s_getComputerName(host, sizeof host, 'H'), 0u);
    ASSERT_GT(s_getComputerName(netbios, sizeof netbios, 'B'), 0u);
    EXPECT_EQ(std::string(full).rfind(host, 0), 0u) << full << " / " << host;
    EXPECT_LE(std::string(netbios).size(), 15u);
    for (char c : std::string(netbios)) EXPECT_FALSE(std::islower(static_cast<unsigned char>(c)));
    plat::set_last_error(0);
    if (s_getComputerName(domain, sizeof domain, 'D') > 0) {
        EXPECT_EQ(std::string(full), std::string(host) + "." + domain);
    } else {
        EXPECT_EQ(plat::last_error(), 1168u); // no domain (a workgroup computer) is a reason of its own
    }
    EXPECT_EQ(s_getComputerName(small, sizeof small, 'F'), 0u); // too small is a failure
    EXPECT_EQ(s_getComputerName(full, sizeof full, 'x'), 0u);
}

std::string spn(const char *host, const char *type, const char *prefix, int size = 512) {
    char out[512] = "";
    if (!RavlinkGeneratePrincipalName(host, type, prefix, out, size)) return "failed: " + std::string(RavlinkErrorArray);
    return out;
}

// This computer's two forms, the output size and the refusals; none changes the error code or
// leaves the socket library started.
TEST(PrincipalName, FormsSizesAndRefusals) {
    char buf[512];
    ASSERT_GT(s_getComputerName(buf, sizeof buf, 'F'), 0u);
    std::string name = buf, full = "dbsvc/", label = "dbsvc";
    for (char c : name) full += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char c : name.substr(0, name.find('.'))) label += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const unsigned startCount = s_wsockcount();
    dwConnectionError = 4242;

    for (const char *host : {"localhost", "LocalHost", "127.0.0.1", "::1"}) { // the computer's DNS name
        SCOPED_TRACE(host);
        EXPECT_EQ(spn(host, "1", "dbsvc"), full);
        EXPECT_EQ(spn(host, "2", "DBSvc"), full);
        EXPECT_EQ(spn(host, "0", "DbSvc"), label);
    }
    EXPECT_EQ(spn("localhost", "1xyz", "dbsvc"), full); // only the first character of the type counts
    // A numeric address without a reverse name gives an empty host part.
    EXPECT_EQ(spn("192.0.2.1", "1", "DBSVC"), "dbsvc/");
    EXPECT_EQ(spn("192.0.2.1", "0", "DBSVC"), "dbsvc");

    const std::string small = "failed: OutName buffer size too small.",
                      badType = "failed: Invalid ServerType argument value to GeneratePrincipalName()";
    const int exact = static_cast<int>(full.size()); // the output must hold the terminator too
    EXPECT_EQ(spn("localhost", "1", "dbsvc", exact + 1), full);
    for (int size : {exact, 0, -1}) EXPECT_EQ(spn("localhost", "1", "dbsvc", size), small) << size;
    EXPECT_EQ(spn("localhost", "3", "dbsvc"), badType);
    EXPECT_EQ(spn("localhost", "", "dbsvc"), badType);
    EXPECT_EQ(RavlinkGeneratePrincipalName(nullptr, "1", "p", buf, sizeof buf), 0);
    EXPECT_STREQ(RavlinkErrorArray, "Missing argument to GeneratePrincipalName()");
    EXPECT_EQ(RavlinkGeneratePrincipalName("localhost", "1", "p", nullptr, 64), 0);
    EXPECT_STREQ(RavlinkErrorArray, "Missing argument to GeneratePrincipalName()");
    // The host is resolved before the type is looked at.
    EXPECT_PRED2(testsupport::starts_with, spn("no-such-host.invalid", "3", "dbsvc"),
                 "failed: Could not resolve input IPAddress argument to FQDN with getaddrinfo().\r\nReason: (");
    EXPECT_EQ(dwConnectionError, 4242u);
    EXPECT_EQ(s_wsockcount(), startCount);
}

} // namespace
