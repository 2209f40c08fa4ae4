// The read-only registry through the platform interface: the real registry on Windows (Wine),
// .reg files on POSIX. Both read the same .reg text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/registry.h"
#include "support/registry_fixture.h"

namespace {

using plat::Hive;

constexpr std::uint32_t kRead32 = plat::kKeyRead | plat::kKeyWow64_32;

const char kRegistry[] = "Windows Registry Editor Version 5.00\r\n\r\n"
                         "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\RavlinkUnitTest]\r\n"
                         "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\RavlinkUnitTest]\r\n"
                         "[-HKEY_CURRENT_USER\\Software\\RavlinkUnitTest]\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\RavlinkUnitTest\\Both]\r\n\"View\"=\"32\"\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\RavlinkUnitTest\\Both]\r\n\"View\"=\"64\"\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\RavlinkUnitTest\\Only64]\r\n\"View\"=\"64\"\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\RavlinkUnitTest\\Values]\r\n"
                         "@=\"default\"\r\n"
                         "\"Text\"=\"a \\\"quoted\\\" back\\\\slash\"\r\n"
                         "\"Empty\"=\"\"\r\n"
                         "\"Number\"=dword:0000002a\r\n\r\n"
                         "[HKEY_CURRENT_USER\\Software\\RavlinkUnitTest\\User]\r\n\"Text\"=\"user\"\r\n";

class RegistryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        installed_ = testsupport::install_registry("registry_test.reg", testsupport::utf16le(kRegistry));
    }
    static void TearDownTestSuite() { testsupport::remove_registry("registry_test.reg"); }
    void SetUp() override { ASSERT_TRUE(installed_) << "could not install the test registry"; }
    static bool installed_;
};
bool RegistryTest::installed_ = false;

// The text of a REG_SZ value, or where reading it failed.
std::string text(Hive hive, const char *path, std::uint32_t access, const char *name) {
    plat::RegKey key = nullptr;
    long rc = plat::reg_open_key(hive, path, access, &key);
    if (rc != 0) return "<open " + std::to_string(rc) + ">";
    char buf[256] = {};
    std::uint32_t size = sizeof buf - 1, type = 0;
    rc = plat::reg_query_value(key, name, &type, reinterpret_cast<unsigned char *>(buf), &size);
    plat::reg_close_key(key);
    if (rc != 0) return "<query " + std::to_string(rc) + ">";
    if (type != plat::kRegSz) return "<type " + std::to_string(type) + ">";
    return std::string(buf, size > 0 ? size - 1 : 0);
}

TEST_F(RegistryTest, ViewsHivesKeysAndValues) {
    const Hive LM = Hive::LocalMachine, CU = Hive::CurrentUser;
    const char *values = "SOFTWARE\\RavlinkUnitTest\\Values";
    struct Case {
        Hive hive;
        const char *path;
        std::uint32_t access;
        const char *name, *expected;
    } cases[] = {
        // The 32-bit view of machine software is the Wow6432Node.
        {LM, "SOFTWARE\\RavlinkUnitTest\\Both", kRead32, "View", "32"},
        {LM, "SOFTWARE\\RavlinkUnitTest\\Both", plat::kKeyRead, "View", "64"},
#ifdef _WIN32
        {LM, "SOFTWARE\\RavlinkUnitTest\\Only64", kRead32, "View", "<open 2>"}, // not there for a 32-bit reader
#else
        {LM, "SOFTWARE\\RavlinkUnitTest\\Only64", kRead32, "View", "64"}, // files have one view: the key as written
#endif
        // User software is shared by both views; names ignore case; the hives are apart.
        {CU, "Software\\RavlinkUnitTest\\User", kRead32, "Text", "user"},
        {CU, "SOFTWARE\\ravlinkunittest\\USER", plat::kKeyRead, "TEXT", "user"},
        {LM, "Software\\RavlinkUnitTest\\User", kRead32, "Text", "<open 2>"},
        {CU, values, kRead32, "Text", "<open 2>"},
        // Keys above a definition exist; a prefix of a key's name is not its parent.
        {LM, "SOFTWARE\\RavlinkUnitTest", kRead32, "Text", "<query 2>"},
        {LM, "SOFTWARE\\RavlinkUnitTest\\Bo", kRead32, "View", "<open 2>"},
        // Values as RegQueryValueEx reads them.
        {LM, values, kRead32, "Text", "a \"quoted\" back\\slash"},
        {LM, values, kRead32, "Empty", ""},
        {LM, values, kRead32, "", "default"},
        {LM, values, kRead32, nullptr, "default"},
        {LM, values, kRead32, "Missing", "<query 2>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + (c.name ? c.name : "(null)"));
        EXPECT_EQ(text(c.hive, c.path, c.access, c.name), c.expected);
    }
}

TEST_F(RegistryTest, SizesAndTypesAsRegQueryValueExGivesThem) {
    plat::RegKey key = nullptr;
    ASSERT_EQ(plat::reg_open_key(Hive::LocalMachine, "SOFTWARE\\RavlinkUnitTest\\Values", kRead32, &key), 0);
    // The size with the terminator, asked without a buffer.
    std::uint32_t size = 0, type = 0;
    EXPECT_EQ(plat::reg_query_value(key, "Text", &type, nullptr, &size), 0);
    EXPECT_EQ(size, std::strlen("a \"quoted\" back\\slash") + 1);
    // A buffer one byte short: more data, and the size needed.
    unsigned char buf[64];
    std::uint32_t small = size - 1;
    EXPECT_EQ(plat::reg_query_value(key, "Text", nullptr, buf, &small), plat::kErrorMoreData);
    EXPECT_EQ(small, size);
    size = sizeof buf;
    EXPECT_EQ(plat::reg_query_value(key, "Empty", nullptr, buf, &size), 0);
    EXPECT_EQ(size, 1u); // the terminator alone
    size = sizeof buf;
    EXPECT_EQ(plat::reg_query_value(key, "Number", &type, buf, &size), 0);
    EXPECT_EQ(type, 4u); // REG_DWORD: four bytes, little-endian
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(buf[0] | buf[1] << 8 | buf[2] << 16 | buf[3] << 24, 0x2a);
    EXPECT_EQ(plat::reg_close_key(key), 0);
    // A failed open leaves no key behind.
    EXPECT_EQ(plat::reg_open_key(Hive::LocalMachine, "SOFTWARE\\RavlinkUnitTest\\Nothing", kRead32, &key),
              plat::kErrorFileNotFound);
    EXPECT_EQ(key, nullptr);
}

} // namespace
