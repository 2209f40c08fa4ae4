// The .reg file reader that stands in for the registry on POSIX: encodings, line ends,
// escapes, skipped lines, hive files and their defaults (fuzz/ runs the reader over any bytes).
#ifndef _WIN32
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/reg_file.h"
#include "platform/registry.h"
#include "support/registry_fixture.h"

namespace {

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

} // namespace
#endif
