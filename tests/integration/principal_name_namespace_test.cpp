// Service principal names on a computer of our own making: `ravlink spn` runs in private UTS and
// mount namespaces with the host name build7.example.lan and a hosts file that gives one address
// a canonical name and a reverse name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "support/loopback.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

#ifndef _WIN32
class Build7 : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "private namespaces need root (unshare --uts --mount)";
        if (std::system("unshare --uts --mount true >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "unshare --uts --mount is not permitted here";
        char dir[] = "/tmp/ravlink-build7-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        folder = dir;
        std::ofstream(folder + "/hosts") << "127.0.0.1 localhost\n"
                                            "127.0.1.7 build7.example.lan build7 dbhost\n";
    }
    void TearDown() override {
        if (!folder.empty()) std::system(("rm -rf " + folder).c_str());
    }

    // Runs `ravlink spn` for each line of arguments inside the namespaces; one output line each.
    std::string run(const std::string &argumentLines) {
        std::string script = "mount --bind " + folder + "/hosts /etc/hosts && hostname build7.example.lan && "
                             "while read -r h t p; do " RAVLINK_TEST_TOOL " spn \"$h\" \"$t\" \"$p\" 2>&1 "
                             "| head -n 1; done";
        std::ofstream(folder + "/args") << argumentLines;
        return testsupport::run_capture("unshare --uts --mount sh -c '" + script + "' < " + folder + "/args");
    }

    std::string folder;
};

TEST_F(Build7, LocalHostGivesTheComputersFullyQualifiedName) {
    EXPECT_EQ(run("localhost 1 dbsvc\n"
                  "localhost 0 dbsvc\n"
                  "127.0.0.1 2 DBSvc\n"
                  "::1 0 DBSVC\n"),
              "dbsvc/build7.example.lan\n"
              "dbsvcBUILD7\n"
              "dbsvc/build7.example.lan\n"
              "dbsvcBUILD7\n");
}

TEST_F(Build7, CanonicalNameOrReverseName) {
    EXPECT_EQ(run("dbhost 1 dbsvc\n"            // the canonical name differs: taken
                  "127.0.1.7 1 dbsvc\n"         // a numeric address: its reverse name
                  "BUILD7.example.lan 0 dbsvc\n" // the canonical name is the host itself: reverse name
                  "127.0.1.8 1 dbsvc\n"         // no reverse name: an empty host part
                  "127.0.1.8 0 dbsvc\n"
                  "dbhost 3 dbsvc\n"),
              "dbsvc/build7.example.lan\n"
              "dbsvc/build7.example.lan\n"
              "dbsvcBUILD7\n"
              "dbsvc/\n"
              "dbsvc\n"
              "Invalid ServerType argument value to GeneratePrincipalName()\n");
}
#endif

TEST(PrincipalNameTool, PrintsTheLibrarysErrorText) {
    std::string out = testsupport::run_capture(std::string("\"") + RAVLINK_TEST_TOOL + "\" spn localhost 7 dbsvc 2>&1");
    out.erase(std::remove(out.begin(), out.end(), '\r'), out.end());
    EXPECT_EQ(out, "Invalid ServerType argument value to GeneratePrincipalName()\n");
}

} // namespace
