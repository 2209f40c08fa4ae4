// The terminal-session client lookup against a fake of the terminal services: the branches a real
// session rarely gives (IPv6, the unspecified addresses, family 0, unknown families, long names,
// failing queries and a missing module).
#include <gtest/gtest.h>

#include <cstring>

#include "core/context.h"
#include "net/socket_library.h"
#include "net/ts_client.h"
#include "platform/computer_name.h"
#include "platform/terminal_session.h"
#include "support/loopback.h"

namespace {

struct Session {
    bool loadFails = false, nameQueryFails = false, nameWithoutData = false, addressQueryFails = false;
    const char *missingEntry = nullptr;
    std::string name;
    std::uint32_t family = plat::kWtsAfInet;
    unsigned char address[16] = {};
    int allocated = 0, freed = 0;
};
Session g_session;
char g_module;

int fake_query(void *server, std::uint32_t session, int infoClass, char **buffer, std::uint32_t *bytes) {
    EXPECT_EQ(server, nullptr);
    EXPECT_EQ(session, 0xFFFFFFFFu);
    *buffer = nullptr;
    *bytes = 0;
    const bool isName = infoClass == plat::WTSClientName;
    if (isName ? g_session.nameQueryFails : g_session.addressQueryFails) {
        plat::set_last_error(5); // access denied
        return 0;
    }
    if (isName && g_session.nameWithoutData) return 1;
    plat::WtsClientAddress record{};
    record.AddressFamily = g_session.family;
    std::memcpy(record.Address + 2, g_session.address, 16);
    *bytes = isName ? static_cast<std::uint32_t>(g_session.name.size() + 1) : sizeof record;
    *buffer = static_cast<char *>(std::malloc(*bytes));
    std::memcpy(*buffer, isName ? static_cast<const void *>(g_session.name.c_str()) : &record, *bytes);
    ++g_session.allocated;
    return 1;
}

void fake_free(void *memory) {
    ++g_session.freed;
    std::free(memory);
}

plat::Module fake_load(const char *name) {
    if (!g_session.loadFails && std::strcmp(name, "wtsapi32.dll") == 0) return &g_module;
    plat::set_last_error(126);
    return nullptr;
}

void *fake_symbol(plat::Module module, const char *name) {
    EXPECT_EQ(module, &g_module);
    if (g_session.missingEntry != nullptr && std::strcmp(name, g_session.missingEntry) == 0) {
        plat::set_last_error(127);
        return nullptr;
    }
    if (std::strcmp(name, "WTSQuerySessionInformationA") == 0) return reinterpret_cast<void *>(&fake_query);
    if (std::strcmp(name, "WTSFreeMemory") == 0) return reinterpret_cast<void *>(&fake_free);
    return nullptr;
}

const plat::TerminalServices kFake{&fake_load, &fake_symbol};
const std::uint32_t v4 = plat::kWtsAfInet, v6 = plat::kWtsAfInet6;

using testsupport::starts_with;

class TsClient : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::start_sockets();
        g_session = Session();
        plat::set_terminal_services(&kFake);
        RavlinkSetTraceFilePtr(nullptr, 99);
        startCount = s_wsockcount();
    }
    void TearDown() override {
        plat::set_terminal_services(nullptr);
        EXPECT_EQ(g_session.allocated, g_session.freed) << "session data not released";
        EXPECT_EQ(s_wsockcount(), startCount) << "socket library reference not given back";
    }
    static void session(std::uint32_t family, const unsigned char (&address)[16], const std::string &name) {
        g_session.family = family;
        std::memcpy(g_session.address, address, 16);
        g_session.name = name;
    }
    // Runs the lookup from a clear error state, with the capacities a connection uses.
    int lookup() {
        dwConnectionError = 0;
        RavlinkErrorArray[0] = '\0';
        std::memset(address, 0, sizeof address);
        nameLength = sizeof name;
        addressLength = sizeof address;
        return s_GetTSClient(name, &nameLength, address, &addressLength);
    }
    static std::string error_text() { return RavlinkErrorArray; }

    char name[256], address[128];
    std::uint32_t nameLength = 0, addressLength = 0;
    unsigned startCount = 0;
};

TEST_F(TsClient, AddressFromTheSessionOrFromTheResolvedName) {
    struct Case {
        std::uint32_t family;
        unsigned char bytes[16];
        const char *name;
        int rc;
        const char *address, *errorHead; // address null: not looked at
    } cases[] = {
        // A usable session address is taken as it is, without resolving the name.
        {v4, {192, 0, 2, 44}, "no-such-client.invalid", 0, "192.0.2.44", ""},
        {v6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5}, "wks-v6", 0, "2001:db8::5", ""},
        // Unspecified addresses resolve the name in their own family; family 0 in any.
        {v4, {0, 0, 0, 0}, "127.0.0.9", 0, "127.0.0.9", ""},
        {v4, {0, 0, 0, 0}, "::1", 1, nullptr, "getaddrinfo(::1,NULL,2,0) failed during s_GetTSClient().\r\nReason: ("},
        {v6, {}, "::1", 0, "::1", ""},
        {v6, {}, "no-such-client.invalid", 1, "", "getaddrinfo()2 failed during s_GetTSClient().\r\nReason: ("},
        {0, {}, "::1", 0, "::1", ""},
        {0, {}, "127.0.0.1", 0, "127.0.0.1", ""},
        // Unknown families and an empty name end without an address and without a record.
        {17, {}, "wks", 1, "", ""},
        {v4, {192, 0, 2, 1}, "", 1, "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " family " + std::to_string(c.family));
        session(c.family, c.bytes, c.name);
        EXPECT_EQ(lookup(), c.rc) << error_text();
        EXPECT_EQ(nameLength, std::strlen(c.name));
        EXPECT_STREQ(address, c.address ? c.address : address);
        if (c.rc == 0) {
            EXPECT_STREQ(name, c.name);
            EXPECT_EQ(addressLength, std::strlen(c.address));
        }
        EXPECT_TRUE(*c.errorHead ? starts_with(error_text(), c.errorHead) : error_text().empty()) << error_text();
        EXPECT_EQ(dwConnectionError != 0, *c.errorHead != '\0');
    }
}

TEST_F(TsClient, NamesTooLongOrWithoutData) {
    session(v4, {192, 0, 2, 1}, std::string(256, 'w')); // with its terminator one byte too many
    EXPECT_EQ(lookup(), 1);
    EXPECT_EQ(error_text(), "Terminal server client name buffer too small.");
    EXPECT_EQ(dwConnectionError, 0u);
    g_session.name.pop_back();
    EXPECT_EQ(lookup(), 0);
    EXPECT_EQ(nameLength, 255u);

    g_session.nameWithoutData = true; // a query that succeeds without data: no name, no record
    EXPECT_EQ(lookup(), 1);
    EXPECT_EQ(nameLength, 0u);
    EXPECT_EQ(error_text(), "");
}

TEST_F(TsClient, FailuresOfTheModuleAndTheQueriesAreRecordedWithTheSystemCode) {
    g_session.name = "wks";
    struct Step {
        bool *fails;
        const char *missingEntry, *errorHead;
    } steps[] = {
        {&g_session.loadFails, nullptr, "Could not load wtsapi32.dll\r\nReason: (126, 0x7e) "},
        {nullptr, "WTSQuerySessionInformationA",
         "Could not GetProcAddress(WTSQuerySessionInformationA)\r\nReason: (127,"},
        {nullptr, "WTSFreeMemory", "Could not GetProcAddress(WTSFreeMemory\r\nReason: (127,"},
        {&g_session.nameQueryFails, nullptr, "Could not obtain terminal server client name.\r\nReason: (5, 0x5) "},
        {&g_session.addressQueryFails, nullptr, "could not get client address, reason = \r\nReason: (5, 0x5) "},
    };
    for (const Step &step : steps) {
        if (step.fails) *step.fails = true;
        g_session.missingEntry = step.missingEntry;
        EXPECT_EQ(lookup(), 1);
        EXPECT_TRUE(starts_with(error_text(), step.errorHead)) << error_text();
        if (step.fails) *step.fails = false;
    }
}

#ifndef _WIN32
// On POSIX the terminal session is the SSH session: the client's address from SSH_CONNECTION (else
// SSH_CLIENT) is the client name; outside a session there is none, and no error.
TEST_F(TsClient, SshSessionOfTheRealTerminalServices) {
    plat::set_terminal_services(nullptr);
    struct { const char *connection, *client, *name; } cases[] = {
        {"192.0.2.61 52144 192.0.2.1 22", "198.51.100.9 40000 22", "192.0.2.61"},
        {"2001:db8::61 52144 2001:db8::1 22", nullptr, "2001:db8::61"},
        // A link-local address with its zone reads as no address: the name is resolved and kept.
        {"fe80::1%lo 52144 fe80::2%lo 22", nullptr, "fe80::1%lo"},
        {nullptr, "198.51.100.9 40000 22", "198.51.100.9"},
        {nullptr, nullptr, ""},
    };
    for (const auto &c : cases) {
        testsupport::set_env("SSH_CONNECTION", c.connection);
        testsupport::set_env("SSH_CLIENT", c.client);
        EXPECT_EQ(lookup(), *c.name ? 0 : 1) << error_text();
        EXPECT_EQ(std::string(name, nameLength), c.name);
        EXPECT_EQ(error_text(), "");
    }
}
#endif

// The name a context keeps, through RavlinkInitContext on a loopback socket.
TEST_F(TsClient, AContextKeepsTheNameWholeOrNone) {
    session(v4, {192, 0, 2, 8}, std::string(200, 'n')); // longer than the room a context starts with
    testsupport::ContextPair kept;
    RavlinkContext *pc = kept.pc;
    ASSERT_NE(pc, nullptr) << error_text();
    char out[256] = "untouched";
    size_t len = 200;
    EXPECT_EQ(RavlinkGetTSClientName(pc, out, &len), 0);
    EXPECT_EQ(len, 201u);
    EXPECT_STREQ(out, "untouched");
    EXPECT_EQ(error_text(), "RavlinkGetTSClientName(): the client name is too long for the output buffer.");
    EXPECT_EQ(RavlinkGetTSClientName(pc, out, &len), 1);
    EXPECT_EQ(len, 200u);
    EXPECT_EQ(std::string(out), g_session.name);

    EXPECT_EQ(RavlinkGetTSClientName(pc, out, nullptr), 0);
    EXPECT_EQ(error_text(), "RavlinkGetTSClientName(): invalid parameter.");
    RavlinkErrorArray[0] = '\0';
    EXPECT_EQ(RavlinkGetTSClientName(nullptr, out, &len), 0);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(error_text(), "RavlinkGetTSClientName(): invalid parameter.");

    // No name, and a failed lookup, leave none and never fail the context.
    for (const char *name : {"", "no-such-client.invalid"}) {
        session(v4, {0, 0, 0, 0}, name);
        testsupport::ContextPair c;
        ASSERT_NE(c.pc, nullptr) << name;
        len = sizeof out;
        EXPECT_EQ(RavlinkGetTSClientName(c.pc, out, &len), 1);
        EXPECT_EQ(len, 0u);
    }
    EXPECT_TRUE(starts_with(RavlinkGetErrorString(nullptr), "getaddrinfo(no-such-client.invalid,NULL,2,0)"));
}

} // namespace
