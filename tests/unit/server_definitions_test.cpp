// Server definitions read from the registry (the real registry under Wine, .reg files on POSIX).
#include <gtest/gtest.h>

#include "config/server_definitions.h"
#include "ravlink.h"
#include "support/registry_fixture.h"

namespace {

std::vector<std::string> g_trace;
void collect(int32_t, const char *text) { g_trace.emplace_back(text); }

// A definition's values in the registry (null: absent), and what reading it must give.
struct Case {
    const char *name, *address, *port, *principal, *level;
    int ok;
    const char *wantPrincipal;
    int32_t wantLevel;
    const char *failure; // the end of the one trace line of a failure
};
const std::string kSpn126(126, 'p'), kSpn127(127, 'p'), kAddr62(62, 'a'), kAddr63(63, 'a');
const Case kCases[] = {
    {"unit-full", "host.example", "7000", "svc/host.example", "3", 1, "svc/host.example", 3, nullptr},
    // The principal name defaults to the service class when absent, empty or too long for 128
    // bytes; the level text is converted by its leading digits.
    {"unit-nospn", "h", "1", nullptr, "", 1, "sedrin", 0, nullptr},
    {"unit-emptyspn", "h", "1", "", "11abc", 1, "sedrin", 11, nullptr},
    {"unit-spn126", "h", "1", kSpn126.c_str(), "abc", 1, kSpn126.c_str(), 0, nullptr},
    {"unit-spn127", "h", "1", kSpn127.c_str(), "10", 1, "sedrin", 10, nullptr},
    // An address must fit 64 bytes.
    {"unit-addr62", kAddr62.c_str(), "1", nullptr, "0", 1, "sedrin", 0, nullptr},
    {"unit-addr63", kAddr63.c_str(), "1", nullptr, "0", 0, "", 0, "address, error = 234.\n"},
    {"unit-nolevel", "h", "1", nullptr, nullptr, 0, "", 0, "SecurityLevel, error = 2.\n"},
    {"unit-noport", "h", nullptr, nullptr, "0", 0, "", 0, "address, error = 2.\n"},
    {"unit-noaddress", nullptr, "1", nullptr, "0", 0, "", 0, "address, error = 2.\n"},
    {"unit-emptyaddress", "", "1", nullptr, "0", 0, "", 0, "address, error = 0.\n"},
};

std::string value(const char *key, const char *text) {
    return text ? "\"" + std::string(key) + "\"=\"" + text + "\"\r\n" : "";
}

std::string definition(const std::string &name, const std::string &values, const std::string &view = "Wow6432Node\\") {
    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + view + "Brannoc\\Sedrin\\Servers\\" + name + "]\r\n";
    return "[-" + key + "[" + key + values + "\r\n";
}

std::string registry() {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (const Case &c : kCases)
        text += definition(c.name, value("Address", c.address) + value("Port", c.port) +
                                       value("ServicePrincipalName", c.principal) +
                                       value("ConnectionSecurityLevel", c.level));
    // Written in both views.
    const std::string rest = value("Port", "1") + value("ConnectionSecurityLevel", "0");
    text += definition("unit-views", value("Address", "view32") + rest);
    text += definition("unit-views", value("Address", "view64") + rest, "");
    // Values of other types than text, as regedit makes them.
    const std::string hostPort = value("Address", "h") + value("Port", "1");
    text += definition("unit-dword", hostPort + "\"ConnectionSecurityLevel\"=dword:00000003\r\n");
    text += definition("unit-binarylevel", hostPort + "\"ConnectionSecurityLevel\"=hex:33,00\r\n");
    text += definition("unit-binaryspn", hostPort + "\"ServicePrincipalName\"=hex:73,00\r\n" +
                                             value("ConnectionSecurityLevel", "3"));
    return text;
}

TEST(ServerDefinitions, ValuesDefaultsFailuresAndViews) {
    ASSERT_TRUE(testsupport::install_registry("servers.reg", testsupport::utf16le(registry())));
    RavlinkSetTraceCallback(collect, 99);
    char address[64], port[32], principal[128];
    int32_t level;
    auto read = [&](const std::string &name) {
        g_trace.clear();
        return ServerToHostPort(name.c_str(), address, sizeof address, port, sizeof port, principal,
                                sizeof principal, &level);
    };
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(read(c.name), c.ok);
        if (c.ok) {
            EXPECT_STREQ(address, c.address);
            EXPECT_STREQ(port, c.port);
            EXPECT_STREQ(principal, c.wantPrincipal);
            EXPECT_EQ(level, c.wantLevel);
            EXPECT_TRUE(g_trace.empty());
        } else {
            EXPECT_EQ(g_trace, std::vector<std::string>{"ServerToHostPort(" + std::string(c.name) +
                                                        ") failed:  could not look up " + c.failure});
        }
    }
    EXPECT_EQ(read("UNIT-FULL"), 1); // names ignore case

    EXPECT_EQ(read("unit-nothing"), 0);
    EXPECT_EQ(g_trace, std::vector<std::string>{"ServerToHostPort(unit-nothing) failed:  could not open "
                                                "SOFTWARE\\Brannoc\\Sedrin\\Servers\\unit-nothing, error = 2.\n"});
    // The key path holds 255 characters at most; a longer one fails without a trace.
    const std::size_t prefix = std::string("SOFTWARE\\Brannoc\\Sedrin\\Servers\\").size();
    EXPECT_EQ(read(std::string(255 - prefix, 'n')), 0);
    EXPECT_EQ(g_trace.size(), 1u);
    EXPECT_EQ(read(std::string(256 - prefix, 'n')), 0);
    EXPECT_TRUE(g_trace.empty());

    // Definitions are read in the 32-bit view (what each view holds: the registry tests).
    EXPECT_EQ(read("unit-views"), 1);
    EXPECT_STREQ(address, "view32");

    // Values are read as text (a DWORD is its number; the registry tests hold every type); any
    // type but a string or a DWORD fails the definition with an error that names the value,
    // never a weaker default.
    EXPECT_EQ(read("unit-dword"), 1);
    EXPECT_EQ(level, 3);
    for (const char *refused : {"unit-binarylevel", "unit-binaryspn"}) {
        EXPECT_EQ(read(refused), 0);
        const std::string valueName = refused == std::string("unit-binaryspn") ? "ServicePrincipalName"
                                                                              : "ConnectionSecurityLevel";
        EXPECT_PRED2(testsupport::starts_with, RavlinkGetErrorString(nullptr),
                     "Registry value " + valueName + " of server definition " + refused +
                         " has type 3: neither a string nor a DWORD.\r\nReason: (1630, 0x65e) ");
        EXPECT_EQ(RavlinkGetErrorCode(nullptr), 1630u);
    }
    RavlinkSetTraceCallback(nullptr, 99);
    testsupport::remove_registry("servers.reg");
}

} // namespace
