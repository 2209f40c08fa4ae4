// Server definitions read from the registry (the real registry under Wine, .reg files on POSIX).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/server_definitions.h"
#include "ravlink.h"
#include "support/registry_fixture.h"

namespace {

std::vector<std::string> g_trace;
void collect(int32_t, const char *text) { g_trace.emplace_back(text); }

std::string servers(const std::string &view) {
    return "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + view + "Brannoc\\Sedrin\\Servers\\";
}

std::string definition(const std::string &name, const std::string &values, const std::string &view = "Wow6432Node\\") {
    return "[-" + servers(view) + name + "]\r\n[" + servers(view) + name + "]\r\n" + values + "\r\n";
}

std::string registry() {
    const std::string spn126(126, 'p'), spn127(127, 'p'), addr62(62, 'a'), addr63(63, 'a');
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    text += definition("unit-full", "\"Address\"=\"host.example\"\r\n\"Port\"=\"7000\"\r\n"
                                    "\"ServicePrincipalName\"=\"svc/host.example\"\r\n"
                                    "\"ConnectionSecurityLevel\"=\"3\"");
    text += definition("unit-nospn", "\"Address\"=\"h\"\r\n\"Port\"=\"1\"\r\n\"ConnectionSecurityLevel\"=\"\"");
    text += definition("unit-emptyspn", "\"Address\"=\"h\"\r\n\"Port\"=\"1\"\r\n\"ServicePrincipalName\"=\"\"\r\n"
                                        "\"ConnectionSecurityLevel\"=\"11abc\"");
    text += definition("unit-spn126", "\"Address\"=\"h\"\r\n\"Port\"=\"1\"\r\n\"ServicePrincipalName\"=\"" + spn126 +
                                      "\"\r\n\"ConnectionSecurityLevel\"=\"abc\"");
    text += definition("unit-spn127", "\"Address\"=\"h\"\r\n\"Port\"=\"1\"\r\n\"ServicePrincipalName\"=\"" + spn127 +
                                      "\"\r\n\"ConnectionSecurityLevel\"=\"10\"");
    text += definition("unit-nolevel", "\"Address\"=\"h\"\r\n\"Port\"=\"1\"");
    text += definition("unit-noport", "\"Address\"=\"h\"\r\n\"ConnectionSecurityLevel\"=\"0\"");
    text += definition("unit-noaddress", "\"Port\"=\"1\"\r\n\"ConnectionSecurityLevel\"=\"0\"");
    text += definition("unit-emptyaddress", "\"Address\"=\"\"\r\n\"Port\"=\"1\"\r\n\"ConnectionSecurityLevel\"=\"0\"");
    text += definition("unit-addr62", "\"Address\"=\"" + addr62 + "\"\r\n\"Port\"=\"1\"\r\n\"ConnectionSecurityLevel\"=\"0\"");
    text += definition("unit-addr63", "\"Address\"=\"" + addr63 + "\"\r\n\"Port\"=\"1\"\r\n\"ConnectionSecurityLevel\"=\"0\"");
    // Written in both views, and only in the 64-bit one.
    text += definition("unit-views", "\"Address\"=\"view32\"\r\n\"Port\"=\"1\"\r\n\"ConnectionSecurityLevel\"=\"0\"");
    text += definition("unit-views", "\"Address\"=\"view64\"\r\n\"Port\"=\"1\"\r\n\"ConnectionSecurityLevel\"=\"0\"", "");
    text += definition("unit-only64", "\"Address\"=\"view64\"\r\n\"Port\"=\"1\"\r\n\"ConnectionSecurityLevel\"=\"0\"", "");
    return text;
}

struct Definition {
    int ok;
    std::string address, port, principal;
    int32_t level;
};

class ServerDefinitions : public ::testing::Test {
protected:
    static void SetUpTestSuite() { installed_ = testsupport::install_registry("servers.reg", registry()); }
    static void TearDownTestSuite() { testsupport::remove_registry("servers.reg"); }
    void SetUp() override {
        ASSERT_TRUE(installed_);
        g_trace.clear();
        RavlinkSetTraceCallback(collect, 99);
    }
    void TearDown() override { RavlinkSetTraceCallback(nullptr, 99); }

    static Definition read(const std::string &name) {
        char address[64] = "untouched", port[32] = "", principal[128] = "";
        int32_t level = -7;
        int ok = ServerToHostPort(name.c_str(), address, sizeof address, port, sizeof port, principal,
                                  sizeof principal, &level);
        return Definition{ok, address, port, principal, level};
    }
    static bool installed_;
};
bool ServerDefinitions::installed_ = false;

TEST_F(ServerDefinitions, AFullDefinitionGivesItsFourValues) {
    Definition d = read("unit-full");
    ASSERT_EQ(d.ok, 1);
    EXPECT_EQ(d.address, "host.example");
    EXPECT_EQ(d.port, "7000");
    EXPECT_EQ(d.principal, "svc/host.example");
    EXPECT_EQ(d.level, 3);
    EXPECT_TRUE(g_trace.empty());
    EXPECT_EQ(read("UNIT-FULL").ok, 1); // names ignore case
}

TEST_F(ServerDefinitions, PrincipalNameDefaultsToTheServiceClass) {
    EXPECT_EQ(read("unit-nospn").principal, "sedrin");
    EXPECT_EQ(read("unit-emptyspn").principal, "sedrin");
    EXPECT_EQ(read("unit-spn127").principal, "sedrin"); // does not fit 128 bytes
    EXPECT_EQ(read("unit-spn126").principal, std::string(126, 'p'));
}

TEST_F(ServerDefinitions, LevelTextIsConvertedByItsLeadingDigits) {
    EXPECT_EQ(read("unit-nospn").level, 0);     // empty
    EXPECT_EQ(read("unit-emptyspn").level, 11); // "11abc"
    EXPECT_EQ(read("unit-spn126").level, 0);    // "abc"
    EXPECT_EQ(read("unit-spn127").level, 10);
}

TEST_F(ServerDefinitions, MissingValuesFailWithTheirTraces) {
    EXPECT_EQ(read("unit-nolevel").ok, 0);
    ASSERT_EQ(g_trace.size(), 1u);
    EXPECT_EQ(g_trace[0], "ServerToHostPort(unit-nolevel) failed:  could not look up SecurityLevel, error = 2.\n");
    for (const char *name : {"unit-noport", "unit-noaddress"}) {
        g_trace.clear();
        EXPECT_EQ(read(name).ok, 0);
        ASSERT_EQ(g_trace.size(), 1u);
        EXPECT_EQ(g_trace[0], "ServerToHostPort(" + std::string(name) +
                                  ") failed:  could not look up address, error = 2.\n");
    }
    g_trace.clear();
    EXPECT_EQ(read("unit-emptyaddress").ok, 0);
    EXPECT_EQ(g_trace.at(0), "ServerToHostPort(unit-emptyaddress) failed:  could not look up address, error = 0.\n");
}

TEST_F(ServerDefinitions, AnAddressMustFitSixtyFourBytes) {
    EXPECT_EQ(read("unit-addr62").address, std::string(62, 'a'));
    EXPECT_EQ(read("unit-addr63").ok, 0);
    EXPECT_EQ(g_trace.back(), "ServerToHostPort(unit-addr63) failed:  could not look up address, error = 234.\n");
}

TEST_F(ServerDefinitions, UnknownAndOverlongNames) {
    EXPECT_EQ(read("unit-nothing").ok, 0);
    ASSERT_EQ(g_trace.size(), 1u);
    EXPECT_EQ(g_trace[0], "ServerToHostPort(unit-nothing) failed:  could not open "
                          "SOFTWARE\\Brannoc\\Sedrin\\Servers\\unit-nothing, error = 2.\n");
    // The key path holds 255 characters at most; a longer one fails without a trace.
    const std::size_t prefix = std::string("SOFTWARE\\Brannoc\\Sedrin\\Servers\\").size();
    g_trace.clear();
    EXPECT_EQ(read(std::string(255 - prefix, 'n')).ok, 0);
    EXPECT_EQ(g_trace.size(), 1u);
    g_trace.clear();
    EXPECT_EQ(read(std::string(256 - prefix, 'n')).ok, 0);
    EXPECT_TRUE(g_trace.empty());
}

TEST_F(ServerDefinitions, DefinitionsAreReadInTheThirtyTwoBitView) {
    EXPECT_EQ(read("unit-views").address, "view32");
#ifdef _WIN32
    EXPECT_EQ(read("unit-only64").ok, 0);
#else
    // A file has one view: a definition outside Wow6432Node is found when none is inside.
    EXPECT_EQ(read("unit-only64").address, "view64");
#endif
}

} // namespace
