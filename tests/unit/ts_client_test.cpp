// The terminal-session client lookup against a fake of the terminal services: the branches a real
// session rarely gives (IPv6, the unspecified addresses, family 0, unknown families, long names,
// failing queries and a missing module).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "api/context.h"
#include "net/socket_library.h"
#include "net/ts_client.h"
#include "platform/computer_name.h"
#include "platform/terminal_session.h"
#include "support/loopback.h"

namespace {

struct Session {
    bool loadFails = false;
    const char *missingEntry = nullptr;
    bool nameQueryFails = false;
    bool nameWithoutData = false;
    bool addressQueryFails = false;
    std::string name;
    std::uint32_t family = plat::kWtsAfInet;
    unsigned char address[20] = {};
    int allocated = 0;
    int freed = 0;
};

Session g_session;
char g_module;

constexpr std::uint32_t kAccessDenied = 5;

char *allocate(const void *data, std::uint32_t size) {
    char *copy = static_cast<char *>(std::malloc(size));
    std::memcpy(copy, data, size);
    ++g_session.allocated;
    return copy;
}

int fake_query(void *server, std::uint32_t session, int infoClass, char **buffer, std::uint32_t *bytes) {
    EXPECT_EQ(server, nullptr);
    EXPECT_EQ(session, 0xFFFFFFFFu);
    *buffer = nullptr;
    *bytes = 0;
    if (infoClass == plat::WTSClientName) {
        if (g_session.nameQueryFails) {
            plat::set_last_error(kAccessDenied);
            return 0;
        }
        if (g_session.nameWithoutData) return 1;
        *bytes = static_cast<std::uint32_t>(g_session.name.size() + 1);
        *buffer = allocate(g_session.name.c_str(), *bytes);
        return 1;
    }
    EXPECT_EQ(infoClass, plat::WTSClientAddress);
    if (g_session.addressQueryFails) {
        plat::set_last_error(kAccessDenied);
        return 0;
    }
    plat::WtsClientAddress record{};
    record.AddressFamily = g_session.family;
    std::memcpy(record.Address, g_session.address, sizeof record.Address);
    *bytes = sizeof record;
    *buffer = allocate(&record, sizeof record);
    return 1;
}

void fake_free(void *memory) {
    ++g_session.freed;
    std::free(memory);
}

plat::Module fake_load(const char *name) {
    if (g_session.loadFails || std::strcmp(name, "wtsapi32.dll") != 0) {
        plat::set_last_error(126);
        return nullptr;
    }
    return &g_module;
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

class TsClient : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::start_sockets();
        g_session = Session();
        plat::set_terminal_services(&kFake);
        RavlinkSetTraceFilePtr(nullptr, 99);
        dwConnectionError = 0;
        RavlinkErrorArray[0] = '\0';
        startCount = s_wsockcount();
    }
    void TearDown() override {
        plat::set_terminal_services(nullptr);
        EXPECT_EQ(g_session.allocated, g_session.freed) << "session data not released";
        EXPECT_EQ(s_wsockcount(), startCount) << "socket library reference not given back";
    }

    void ipv4(unsigned char a, unsigned char b, unsigned char c, unsigned char d) {
        g_session.family = plat::kWtsAfInet;
        unsigned char bytes[4] = {a, b, c, d};
        std::memcpy(g_session.address + 2, bytes, 4);
    }
    void ipv6(const unsigned char (&bytes)[16]) {
        g_session.family = plat::kWtsAfInet6;
        std::memcpy(g_session.address + 2, bytes, 16);
    }

    // Runs the lookup with the capacities a connection uses.
    int lookup() {
        nameLength = sizeof name;
        addressLength = sizeof address;
        return s_GetTSClient(name, &nameLength, address, &addressLength);
    }

    static std::string error_text() { return RavlinkErrorArray; }
    static bool starts_with(const std::string &text, const std::string &head) { return text.rfind(head, 0) == 0; }

    char name[256];
    char address[128];
    std::uint32_t nameLength = 0;
    std::uint32_t addressLength = 0;
    unsigned startCount = 0;
};

TEST_F(TsClient, Ipv4AddressIsTakenAsItIsWithoutResolvingTheName) {
    g_session.name = "no-such-client.invalid";
    ipv4(192, 0, 2, 44);
    ASSERT_EQ(lookup(), 0) << error_text();
    EXPECT_STREQ(name, "no-such-client.invalid");
    EXPECT_EQ(nameLength, 22u);
    EXPECT_STREQ(address, "192.0.2.44");
    EXPECT_EQ(addressLength, 10u);
    EXPECT_EQ(error_text(), "");
}

TEST_F(TsClient, UnspecifiedIpv4ResolvesTheNameInIpv4Only) {
    g_session.name = "127.0.0.9";
    ipv4(0, 0, 0, 0);
    ASSERT_EQ(lookup(), 0) << error_text();
    EXPECT_STREQ(address, "127.0.0.9");
    EXPECT_EQ(addressLength, 9u);

    // An IPv6 name cannot resolve in IPv4: the lookup fails and says how it was asked.
    g_session.name = "::1";
    EXPECT_EQ(lookup(), 1);
    EXPECT_TRUE(starts_with(error_text(), "getaddrinfo(::1,NULL,2,0) failed during s_GetTSClient().\r\nReason: ("))
        << error_text();
    EXPECT_NE(dwConnectionError, 0u);
}

TEST_F(TsClient, Ipv6AddressBecomesNumericText) {
    g_session.name = "wks-v6";
    const unsigned char doc[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x05};
    ipv6(doc);
    ASSERT_EQ(lookup(), 0) << error_text();
    EXPECT_STREQ(address, "2001:db8::5");
    EXPECT_EQ(addressLength, 11u);

    // A text that does not fit reports the size it needs.
    nameLength = sizeof name;
    addressLength = 5;
    EXPECT_EQ(s_GetTSClient(name, &nameLength, address, &addressLength), 1);
    EXPECT_EQ(addressLength, 12u);
    EXPECT_STREQ(address, "");
}

TEST_F(TsClient, UnspecifiedIpv6FallsBackToTheNameInIpv6) {
    const unsigned char any[16] = {};
    ipv6(any);
    g_session.name = "::1";
    ASSERT_EQ(lookup(), 0) << error_text();
    EXPECT_STREQ(address, "::1");

    g_session.name = "no-such-client.invalid";
    EXPECT_EQ(lookup(), 1);
    EXPECT_TRUE(starts_with(error_text(), "getaddrinfo()2 failed during s_GetTSClient().")) << error_text();
    EXPECT_EQ(addressLength, 0u);
}

TEST_F(TsClient, FamilyZeroResolvesTheNameWithAnyFamily) {
    g_session.family = 0;
    g_session.name = "::1";
    ASSERT_EQ(lookup(), 0) << error_text();
    EXPECT_STREQ(address, "::1");
    g_session.name = "127.0.0.1";
    ASSERT_EQ(lookup(), 0) << error_text();
    EXPECT_STREQ(address, "127.0.0.1");
}

TEST_F(TsClient, UnknownFamilyEndsWithoutAnAddressAndWithoutARecord) {
    g_session.family = 17;
    g_session.name = "wks";
    EXPECT_EQ(lookup(), 1);
    EXPECT_EQ(error_text(), "");
}

TEST_F(TsClient, EmptyNameEndsQuietly) {
    g_session.name = "";
    EXPECT_EQ(lookup(), 1);
    EXPECT_EQ(nameLength, 0u);
    EXPECT_EQ(error_text(), "");

    g_session.nameWithoutData = true;
    EXPECT_EQ(lookup(), 1);
    EXPECT_EQ(nameLength, 0u);
    EXPECT_EQ(error_text(), "");
}

TEST_F(TsClient, NameLongerThanTheBufferIsRefused) {
    g_session.name = std::string(256, 'w'); // with its terminator one byte too many
    ipv4(192, 0, 2, 1);
    EXPECT_EQ(lookup(), 1);
    EXPECT_EQ(error_text(), "Terminal server client name buffer too small.");
    EXPECT_EQ(dwConnectionError, 0u);

    g_session.name = std::string(255, 'w');
    EXPECT_EQ(lookup(), 0);
    EXPECT_EQ(nameLength, 255u);
}

TEST_F(TsClient, FailuresOfTheModuleAndTheQueriesAreRecordedWithTheSystemCode) {
    g_session.name = "wks";
    g_session.loadFails = true;
    EXPECT_EQ(lookup(), 1);
    EXPECT_TRUE(starts_with(error_text(), "Could not load wtsapi32.dll\r\nReason: (126, 0x7e) ")) << error_text();
    g_session.loadFails = false;

    g_session.missingEntry = "WTSQuerySessionInformationA";
    EXPECT_EQ(lookup(), 1);
    EXPECT_TRUE(starts_with(error_text(), "Could not GetProcAddress(WTSQuerySessionInformationA)\r\nReason: (127,"));
    g_session.missingEntry = "WTSFreeMemory";
    EXPECT_EQ(lookup(), 1);
    EXPECT_TRUE(starts_with(error_text(), "Could not GetProcAddress(WTSFreeMemory\r\nReason: (127,"));
    g_session.missingEntry = nullptr;

    g_session.nameQueryFails = true;
    EXPECT_EQ(lookup(), 1);
    EXPECT_EQ(nameLength, 0u);
    EXPECT_TRUE(starts_with(error_text(), "Could not obtain terminal server client name.\r\nReason: (5, 0x5) "));
    EXPECT_EQ(dwConnectionError, kAccessDenied);
    g_session.nameQueryFails = false;

    g_session.addressQueryFails = true;
    EXPECT_EQ(lookup(), 1);
    EXPECT_TRUE(starts_with(error_text(), "could not get client address, reason = \r\nReason: (5, 0x5) "));
}

// The name a context keeps, through RavlinkInitContext on a loopback socket.
class TsClientName : public TsClient {
protected:
    RavlinkContext *open_context() {
        auto ends = testsupport::socket_pair();
        peer = ends.second;
        return RavlinkInitContext(ends.first, nullptr, 0, nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override {
        if (peer != RAVLINK_INVALID_SOCKET) testsupport::close_raw(peer);
        TsClient::TearDown();
    }
    ravlink_socket_t peer = RAVLINK_INVALID_SOCKET;
};

TEST_F(TsClientName, LengthProtocolOfAKeptName) {
    g_session.name = "WKS01";
    ipv4(192, 0, 2, 8);
    RavlinkContext *pc = open_context();
    ASSERT_NE(pc, nullptr) << error_text();
    char out[16] = "untouched";
    size_t len = 5;
    EXPECT_EQ(RavlinkGetTSClientName(pc, out, &len), 0);
    EXPECT_EQ(len, 6u);
    EXPECT_STREQ(out, "untouched");
    len = 6;
    EXPECT_EQ(RavlinkGetTSClientName(pc, out, &len), 1);
    EXPECT_EQ(len, 5u);
    EXPECT_STREQ(out, "WKS01");

    EXPECT_EQ(RavlinkGetTSClientName(pc, out, nullptr), 0);
    EXPECT_STREQ(RavlinkErrorArray, "RavlinkGetTSClientName(): invalid parameter.");
    len = 16;
    EXPECT_EQ(RavlinkGetTSClientName(nullptr, out, &len), 0);
    EXPECT_EQ(len, 0u);
    EXPECT_STREQ(RavlinkErrorArray, "RavlinkGetTSClientName(): invalid parameter.");
    RavlinkClose(pc);
}

TEST_F(TsClientName, LongNameIsKeptWhole) {
    g_session.name = std::string(200, 'n');
    ipv4(192, 0, 2, 8);
    RavlinkContext *pc = open_context();
    ASSERT_NE(pc, nullptr);
    char out[256];
    size_t len = sizeof out;
    EXPECT_EQ(RavlinkGetTSClientName(pc, out, &len), 1);
    EXPECT_EQ(len, 200u);
    EXPECT_EQ(std::string(out), g_session.name);
    RavlinkClose(pc);
}

TEST_F(TsClientName, NoNameAndFailedLookupsNeverFailTheContext) {
    g_session.name = "";
    RavlinkContext *pc = open_context();
    ASSERT_NE(pc, nullptr);
    char out[8];
    size_t len = sizeof out;
    EXPECT_EQ(RavlinkGetTSClientName(pc, out, &len), 1);
    EXPECT_EQ(len, 0u);
    RavlinkClose(pc);

    g_session.name = "no-such-client.invalid";
    ipv4(0, 0, 0, 0);
    pc = open_context();
    ASSERT_NE(pc, nullptr);
    len = sizeof out;
    EXPECT_EQ(RavlinkGetTSClientName(pc, out, &len), 1);
    EXPECT_EQ(len, 0u);
    EXPECT_TRUE(starts_with(RavlinkGetErrorString(nullptr), "getaddrinfo(no-such-client.invalid,NULL,2,0)"));
    RavlinkClose(pc);
}

} // namespace
