// The read-only registry through the platform interface: the real registry on Windows (Wine),
// .reg files on POSIX. Both read the same .reg text. And on POSIX the .reg file reader itself:
// encodings, line ends, escapes, skipped lines, hive files and their defaults (fuzz/ runs the
// reader over any bytes).
#include <gtest/gtest.h>

#include "platform/registry.h"
#include "support/registry_fixture.h"
#ifndef _WIN32
#include "platform/posix/reg_file.h"
#endif

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

#ifndef _WIN32
using plat::RegFileKey;
using plat::RegFileRoot;
using testsupport::set_env;
using testsupport::unset_env;

// The data of a value as read, "dword:" before a number's, or "<none>".
std::string data(const std::vector<RegFileKey> &keys, const std::string &path, const std::string &name) {
    for (const RegFileKey &k : keys)
        if (plat::reg_name_equal(k.path, path))
            for (const auto &v : k.values)
                if (plat::reg_name_equal(v.name, name)) return (v.type == 4 ? "dword:" : "") + v.data;
    return "<none>";
}

std::string sz(const char *text) { return std::string(text) + '\0'; }

TEST(RegFile, EncodingsAndLineEnds) {
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"Name\"=\"value\"\r\n@=\"dflt\"\r\n";
    std::string lf = text;
    for (std::size_t p; (p = lf.find('\r')) != std::string::npos;) lf.erase(p, 1);
    for (const std::string &bytes : {testsupport::utf16le(text), lf, "\xEF\xBB\xBF" + lf}) {
        auto keys = plat::parse_reg_file(bytes, RegFileRoot::LocalMachine);
        ASSERT_EQ(keys.size(), 1u);
        EXPECT_EQ(keys[0].path, "SOFTWARE\\A");
        EXPECT_EQ(data(keys, "software\\a", "NAME"), sz("value"));
        EXPECT_EQ(data(keys, "SOFTWARE\\A", ""), sz("dflt"));
    }
    // UTF-16 beyond ASCII becomes UTF-8: U+00E9, U+20AC, U+1F600 (a surrogate pair); a lone surrogate U+FFFD.
    std::string bytes = testsupport::utf16le("REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"V\"=\"");
    for (unsigned u : {0xE9u, 0x20ACu, 0xD83Du, 0xDE00u, 0xD800u}) bytes += {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
    bytes += testsupport::utf16le("\"\n").substr(2);
    EXPECT_EQ(data(plat::parse_reg_file(bytes, RegFileRoot::CurrentUser), "K", "V"),
              sz("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD"));
}

TEST(RegFile, EscapesRootsAndMerging) {
    const std::string text = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\]\n"
                             "\"Quote\\\"Name\"=\"say \\\"hi\\\" to C:\\\\dir\\\\\"\n\"Other\"=\"keep \\t as written\"\n"
                             "\"Spaced\" = \"ok\"   \n\"Dword\"=dword:DEADbeef\n"
                             "[HKEY_CURRENT_USER\\SOFTWARE\\A]\n\"Name\"=\"user hive\"\n"
                             "[HKLM\\software\\a]\n\"quote\\\"name\"=\"later wins\"\n";
    auto keys = plat::parse_reg_file(text, RegFileRoot::LocalMachine);
    ASSERT_EQ(keys.size(), 1u); // the three machine sections are one key
    EXPECT_EQ(data(keys, "SOFTWARE\\A", "Quote\"Name"), sz("later wins"));
    EXPECT_EQ(data(keys, "SOFTWARE\\A", "Other"), sz("keep \\t as written"));
    EXPECT_EQ(data(keys, "SOFTWARE\\A", "Spaced"), sz("ok"));
    EXPECT_EQ(data(keys, "SOFTWARE\\A", "Dword"), std::string("dword:\xEF\xBE\xAD\xDE", 10));
    EXPECT_EQ(data(keys, "SOFTWARE\\A", "Name"), "<none>"); // the user hive's value
    EXPECT_EQ(data(plat::parse_reg_file(text, RegFileRoot::CurrentUser), "SOFTWARE\\A", "Name"), sz("user hive"));
}

// Lines that are not what they should be are skipped, and so are sections that cannot be read.
TEST(RegFile, MalformedLinesAreSkippedAndTheRestIsRead) {
    const std::string text = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n\"Good1\"=\"1\"\n"
                             "\"Open=\"no closing quote\n\"NoEquals\" \"x\"\n\"Trailing\"=\"x\" junk\n"
                             "\"Bin\"=hex:01,02,\\\n  03,04\n\"Big\"=dword:123456789\n\"Gone\"=-\n"
                             "\"Cut\"=\"ends in a backslash\\\n; a comment\n\"Good2\"=\"2\"\n"
                             "[HKEY_LOCAL_MACHINE\\Broken\n\"Lost\"=\"after a broken header\"\n"
                             "[-HKEY_LOCAL_MACHINE\\Deleted]\n\"Lost2\"=\"in a deletion\"\n"
                             "[HKEY_USERS\\Other]\n\"Lost3\"=\"another root\"\n"
                             "[HKEY_LOCAL_MACHINE\\K]\n\"Good3\"=\"3\"";
    auto keys = plat::parse_reg_file(text, RegFileRoot::LocalMachine);
    ASSERT_EQ(keys.size(), 1u);
    ASSERT_EQ(keys[0].values.size(), 4u);
    for (int i : {0, 2, 3}) EXPECT_EQ(keys[0].values[i].name, "Good" + std::to_string(i == 0 ? 1 : i));
    // A hex value goes on over lines that end in a backslash (a string's backslash does not).
    EXPECT_EQ(keys[0].values[1].name, "Bin");
    EXPECT_EQ(keys[0].values[1].type, 3u);
    EXPECT_EQ(keys[0].values[1].data, std::string("\x01\x02\x03\x04"));
}

// The code of opening a key (0: it opened).
long open_code(plat::Hive hive, const char *path, std::uint32_t access = plat::kKeyRead) {
    plat::RegKey key = nullptr;
    long rc = plat::reg_open_key(hive, path, access, &key);
    if (rc == 0) plat::reg_close_key(key);
    return rc;
}

TEST(RegFile, HiveFilesTheirDefaultsAndReadOnlyAccess) {
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "", dir = testsupport::temp_file("hive");
    ASSERT_EQ(std::system(("mkdir -p " + dir + "/xdg/ravlink " + dir + "/home/.config/ravlink").c_str()), 0);
    ASSERT_TRUE(testsupport::write_file(dir + "/xdg/ravlink/registry.reg", "[HKEY_CURRENT_USER\\Xdg]\n"));
    ASSERT_TRUE(testsupport::write_file(dir + "/home/.config/ravlink/registry.reg", "[HKEY_CURRENT_USER\\Home]\n"));
    ASSERT_TRUE(testsupport::write_file(dir + "/machine.reg", "[HKEY_LOCAL_MACHINE\\K]\n"));
    set_env("HOME", dir + "/home");
    unset_env("QXN_ravlink_registry_user");
    set_env("XDG_CONFIG_HOME", dir + "/xdg");
    EXPECT_EQ(0, open_code(plat::Hive::CurrentUser, "Xdg"));
    EXPECT_NE(0, open_code(plat::Hive::CurrentUser, "Home"));
    unset_env("XDG_CONFIG_HOME");
    EXPECT_EQ(0, open_code(plat::Hive::CurrentUser, "Home"));
    // The variable wins; a file that is not there is an empty hive.
    set_env("QXN_ravlink_registry_user", dir + "/none.reg");
    EXPECT_NE(0, open_code(plat::Hive::CurrentUser, "Home"));
    EXPECT_NE(0, open_code(plat::Hive::CurrentUser, ""));
    // Keys open for reading only: a write access is denied.
    set_env("QXN_ravlink_registry_machine", dir + "/machine.reg");
    EXPECT_EQ(5, open_code(plat::Hive::LocalMachine, "K", 0x20006 /* KEY_WRITE */));
    EXPECT_EQ(0, open_code(plat::Hive::LocalMachine, "K"));

    unset_env("QXN_ravlink_registry_machine");
    unset_env("QXN_ravlink_registry_user");
    if (!home.empty()) set_env("HOME", home);
    std::system(("rm -rf " + dir).c_str());
}

#endif

} // namespace
