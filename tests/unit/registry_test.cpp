// The read-only registry through the platform interface: the real registry on Windows (Wine),
// .reg files on POSIX. Both read the same .reg text.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "support/registry_fixture.h"

namespace {

using plat::Hive;

const char kRegistry[] = "Windows Registry Editor Version 5.00\r\n\r\n"
                         "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\RavlinkUnitTest]\r\n"
                         "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\RavlinkUnitTest]\r\n"
                         "[-HKEY_CURRENT_USER\\Software\\RavlinkUnitTest]\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\RavlinkUnitTest\\Both]\r\n\"View\"=\"32\"\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\RavlinkUnitTest\\Both]\r\n\"View\"=\"64\"\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\RavlinkUnitTest\\Only64]\r\n\"View\"=\"64\"\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\RavlinkUnitTest\\Values]\r\n@=\"default\"\r\n"
                         "\"Text\"=\"a \\\"quoted\\\" back\\\\slash\"\r\n\"Empty\"=\"\"\r\n\"Number\"=dword:0000002a\r\n"
                         // "%RAVLINK_REG_TEST%\x" as regedit writes an expandable string, over two lines
                         "\"Expand\"=hex(2):25,00,52,00,41,00,56,00,4c,00,49,00,4e,00,4b,00,5f,00,52,00,45,00,\\\r\n"
                         "  47,00,5f,00,54,00,45,00,53,00,54,00,25,00,5c,00,78,00,00,00\r\n"
                         "\"Binary\"=hex:33,00\r\n\"Big\"=dword:ffffffff\r\n\r\n"
                         "[HKEY_CURRENT_USER\\Software\\RavlinkUnitTest\\User]\r\n\"Text\"=\"user\"\r\n";

// What reading a value gives: a string's text and its size with the terminator, a number, or
// the step that failed with its code.
std::string read(Hive hive, const char *path, std::uint32_t access, const char *name, std::uint32_t room,
                 bool asText = false) {
    int other = 0;
    plat::RegKey key = &other;
    long rc = plat::reg_open_key(hive, path, access, &key);
    if (rc != 0) return "<open " + std::to_string(rc) + (key != nullptr ? ", a key left behind>" : ">");
    unsigned char buf[256] = {};
    std::uint32_t size = room, type = 0;
    rc = (asText ? plat::reg_query_text : plat::reg_query_value)(key, name, &type, room > 0 ? buf : nullptr, &size);
    EXPECT_EQ(plat::reg_close_key(key), 0);
    const std::string sized = " (" + std::to_string(size) + ")";
    if (rc == plat::kErrorUnsupportedType) return "<type " + std::to_string(type) + " refused>";
    if (rc != 0) return "<query " + std::to_string(rc) + (rc == plat::kErrorMoreData ? sized : "") + ">";
    if (room == 0) return "size" + sized;
    if (asText) type = plat::kRegSz; // whatever it is stored as, it reads as a string
    if (type == 4 && size == 4) return "number " + std::to_string(buf[0] | buf[1] << 8 | buf[2] << 16 | buf[3] << 24);
    if (type != plat::kRegSz) return "<type " + std::to_string(type) + ">";
    return std::string(reinterpret_cast<char *>(buf), size > 0 ? size - 1 : 0) + sized;
}

TEST(Registry, ViewsHivesKeysAndValues) {
    ASSERT_TRUE(testsupport::install_registry("registry_test.reg", testsupport::utf16le(kRegistry)));
    const Hive LM = Hive::LocalMachine, CU = Hive::CurrentUser;
    const std::uint32_t k32 = plat::kKeyRead | plat::kKeyWow64_32, k64 = plat::kKeyRead;
    const char *values = "SOFTWARE\\RavlinkUnitTest\\Values";
    const struct {
        Hive hive;
        const char *path;
        std::uint32_t access;
        const char *name, *expected;
        std::uint32_t room = 256; // 0: the size alone
        bool asText = false;      // read as the definitions do
    } cases[] = {
        // The 32-bit view of machine software is the Wow6432Node.
        {LM, "SOFTWARE\\RavlinkUnitTest\\Both", k32, "View", "32 (3)"},
        {LM, "SOFTWARE\\RavlinkUnitTest\\Both", k64, "View", "64 (3)"},
#ifdef _WIN32
        {LM, "SOFTWARE\\RavlinkUnitTest\\Only64", k32, "View", "<open 2>"}, // not there for a 32-bit reader
#else
        {LM, "SOFTWARE\\RavlinkUnitTest\\Only64", k32, "View", "64 (3)"}, // files have one view: the key as written
#endif
        // User software is shared by both views; names ignore case; the hives are apart.
        {CU, "Software\\RavlinkUnitTest\\User", k32, "Text", "user (5)"},
        {CU, "SOFTWARE\\ravlinkunittest\\USER", k64, "TEXT", "user (5)"},
        {LM, "Software\\RavlinkUnitTest\\User", k32, "Text", "<open 2>"},
        {CU, values, k32, "Text", "<open 2>"},
        // Keys above a definition exist; a prefix of a key's name is not its parent.
        {LM, "SOFTWARE\\RavlinkUnitTest", k32, "Text", "<query 2>"},
        {LM, "SOFTWARE\\RavlinkUnitTest\\Bo", k32, "View", "<open 2>"},
        // Values as RegQueryValueEx reads them; a buffer one byte short gets the size needed.
        {LM, values, k32, "Text", "a \"quoted\" back\\slash (22)"},
        {LM, values, k32, "Text", "size (22)", 0},
        {LM, values, k32, "Text", "<query 234 (22)>", 21},
        {LM, values, k32, "Empty", " (1)"},
        {LM, values, k32, "", "default (8)"},
        {LM, values, k32, nullptr, "default (8)"},
        {LM, values, k32, "Missing", "<query 2>"},
        {LM, values, k32, "Number", "number 42"},
        // Read as text: a DWORD as its unsigned number and an expandable string expanded, each
        // as a string of that text would read; any other type refused.
        {LM, values, k32, "Text", "a \"quoted\" back\\slash (22)", 256, true},
        {LM, values, k32, "Number", "42 (3)", 256, true},
        {LM, values, k32, "Big", "4294967295 (11)", 256, true},
        {LM, values, k32, "Big", "<query 234 (11)>", 10, true},
        {LM, values, k32, "Expand", "C:\\dir\\x (9)", 256, true},
        {LM, values, k32, "Expand", "size (9)", 0, true},
        {LM, values, k32, "Binary", "<type 3 refused>", 256, true},
        {LM, values, k32, "Missing", "<query 2>", 256, true},
    };
    testsupport::set_env("RAVLINK_REG_TEST", "C:\\dir");
    for (const auto &c : cases)
        EXPECT_EQ(read(c.hive, c.path, c.access, c.name, c.room, c.asText), c.expected)
            << c.path << " " << (c.name ? c.name : "(null)");
    testsupport::unset_env("RAVLINK_REG_TEST");
    testsupport::remove_registry("registry_test.reg");
}

} // namespace
