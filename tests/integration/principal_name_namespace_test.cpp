// Service principal names on a computer of our own making: `ravlink spn` runs in private UTS and
// mount namespaces with the host name build7.example.lan and a hosts file that gives one address
// a canonical name and a reverse name.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "support/loopback.h"

namespace {

#ifndef _WIN32
TEST(PrincipalNameBuild7, LocalCanonicalAndReverseNames) {
    if (geteuid() != 0) GTEST_SKIP() << "private namespaces need root (unshare --uts --mount)";
    if (std::system("unshare --uts --mount true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "unshare --uts --mount is not permitted here";
    char dir[] = "/tmp/ravlink-build7-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string folder = dir;
    std::ofstream(folder + "/hosts") << "127.0.0.1 localhost\n127.0.1.7 build7.example.lan build7 dbhost\n";
    const std::pair<const char *, const char *> cases[] = {
        {"localhost 1 dbsvc", "dbsvc/build7.example.lan"},
        {"localhost 0 dbsvc", "dbsvcBUILD7"},
        {"127.0.0.1 2 DBSvc", "dbsvc/build7.example.lan"},
        {"::1 0 DBSVC", "dbsvcBUILD7"},
        {"dbhost 1 dbsvc", "dbsvc/build7.example.lan"},   // the canonical name differs: taken
        {"127.0.1.7 1 dbsvc", "dbsvc/build7.example.lan"}, // a numeric address: its reverse name
        {"BUILD7.example.lan 0 dbsvc", "dbsvcBUILD7"},     // the canonical name is the host: reverse name
        {"127.0.1.8 1 dbsvc", "dbsvc/"},                   // no reverse name: an empty host part
        {"127.0.1.8 0 dbsvc", "dbsvc"},
        {"dbhost 3 dbsvc", "Invalid ServerType argument value to GeneratePrincipalName()"},
    };
    std::string args, expected;
    for (const auto &c : cases) {
        args += std::string(c.first) + "\n";
        expected += std::string(c.second) + "\n";
    }
    std::ofstream(folder + "/args") << args;
    // One `ravlink spn` per line of arguments, one output line each.
    std::string script = "mount --bind " + folder + "/hosts /etc/hosts && hostname build7.example.lan && "
                         "while read -r h t p; do " RAVLINK_TEST_TOOL " spn \"$h\" \"$t\" \"$p\" 2>&1 | head -n 1; done";
    std::string out = testsupport::run_capture("unshare --uts --mount sh -c '" + script + "' < " + folder + "/args");
    std::system(("rm -rf " + folder).c_str());
    EXPECT_EQ(out, expected);
}
#endif

TEST(PrincipalNameTool, PrintsTheLibrarysErrorText) {
    std::string out = testsupport::run_capture(std::string("\"") + RAVLINK_TEST_TOOL + "\" spn localhost 7 dbsvc 2>&1");
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    EXPECT_EQ(out, "Invalid ServerType argument value to GeneratePrincipalName()\n");
}

} // namespace
