// The .reg file reader that stands in for the registry on POSIX: encodings, line ends,
// escapes, skipped lines, hive files and their defaults, and a bounded fuzz run.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/posix/reg_file.h"
#include "platform/registry.h"
#include "support/registry_fixture.h"

namespace {

using plat::RegFileKey;
using plat::RegFileRoot;

const plat::RegFileValue *find(const std::vector<RegFileKey> &keys, const std::string &path,
                               const std::string &name) {
    for (const RegFileKey &k : keys)
        if (plat::reg_name_equal(k.path, path))
            for (const auto &v : k.values)
                if (plat::reg_name_equal(v.name, name)) return &v;
    return nullptr;
}

std::string sz(const char *text) { return std::string(text) + '\0'; }

TEST(RegFile, Utf16WithByteOrderMarkAndCrlfReadsLikeUtf8WithLf) {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\"Name\"=\"value\"\r\n@=\"dflt\"\r\n";
    std::string lf = text;
    for (std::size_t p; (p = lf.find('\r')) != std::string::npos;) lf.erase(p, 1);
    for (const std::string &bytes : {testsupport::utf16le(text), lf, "\xEF\xBB\xBF" + lf}) {
        auto keys = plat::parse_reg_file(bytes, RegFileRoot::LocalMachine);
        ASSERT_EQ(keys.size(), 1u);
        EXPECT_EQ(keys[0].path, "SOFTWARE\\A");
        ASSERT_NE(find(keys, "software\\a", "NAME"), nullptr);
        EXPECT_EQ(find(keys, "SOFTWARE\\A", "Name")->data, sz("value"));
        EXPECT_EQ(find(keys, "SOFTWARE\\A", "")->data, sz("dflt"));
    }
}

TEST(RegFile, NonAsciiUtf16BecomesUtf8) {
    // "é" (U+00E9), "€" (U+20AC) and U+1F600 as a surrogate pair; a lone surrogate becomes U+FFFD.
    std::string bytes("\xFF\xFE", 2);
    auto add = [&](const std::string &ascii) { bytes += testsupport::utf16le(ascii).substr(2); };
    auto unit = [&](unsigned u) { bytes += static_cast<char>(u & 0xFF); bytes += static_cast<char>(u >> 8); };
    add("REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"V\"=\"");
    unit(0xE9); unit(0x20AC); unit(0xD83D); unit(0xDE00); unit(0xD800);
    add("\"\n");
    auto keys = plat::parse_reg_file(bytes, RegFileRoot::CurrentUser);
    ASSERT_NE(find(keys, "K", "V"), nullptr);
    EXPECT_EQ(find(keys, "K", "V")->data, sz("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD"));
}

TEST(RegFile, EscapesRootsAndMerging) {
    const std::string text =
        "REGEDIT4\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\]\n"
        "\"Quote\\\"Name\"=\"say \\\"hi\\\" to C:\\\\dir\\\\\"\n"
        "\"Other\"=\"keep \\t as written\"\n"
        "\"Spaced\" = \"ok\"   \n"
        "\"Dword\"=dword:DEADbeef\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\A]\n"
        "\"Name\"=\"user hive\"\n"
        "[HKLM\\software\\a]\n"
        "\"quote\\\"name\"=\"later wins\"\n";
    auto keys = plat::parse_reg_file(text, RegFileRoot::LocalMachine);
    ASSERT_EQ(keys.size(), 1u); // the three machine sections are one key
    EXPECT_EQ(find(keys, "SOFTWARE\\A", "Quote\"Name")->data, sz("later wins"));
    EXPECT_EQ(find(keys, "SOFTWARE\\A", "Other")->data, sz("keep \\t as written"));
    EXPECT_EQ(find(keys, "SOFTWARE\\A", "Spaced")->data, sz("ok"));
    EXPECT_EQ(find(keys, "SOFTWARE\\A", "Dword")->data, std::string("\xEF\xBE\xAD\xDE", 4));
    EXPECT_EQ(find(keys, "SOFTWARE\\A", "Dword")->type, 4u);
    EXPECT_EQ(find(keys, "SOFTWARE\\A", "Name"), nullptr); // the user hive's value
    auto user = plat::parse_reg_file(text, RegFileRoot::CurrentUser);
    EXPECT_EQ(find(user, "SOFTWARE\\A", "Name")->data, sz("user hive"));
}

TEST(RegFile, MalformedLinesAreSkippedAndTheRestIsRead) {
    const std::string text =
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_LOCAL_MACHINE\\K]\n"
        "\"Good1\"=\"1\"\n"
        "\"Open=\"no closing quote\n"
        "\"NoEquals\" \"x\"\n"
        "\"Trailing\"=\"x\" junk\n"
        "\"Bin\"=hex:01,02,\\\n"
        "  03,04\n"
        "\"Big\"=dword:123456789\n"
        "\"Gone\"=-\n"
        "\"Cut\"=\"ends in a backslash\\\n"
        "; a comment\n"
        "\"Good2\"=\"2\"\n"
        "[HKEY_LOCAL_MACHINE\\Broken\n"
        "\"Lost\"=\"after a broken header\"\n"
        "[-HKEY_LOCAL_MACHINE\\Deleted]\n"
        "\"Lost2\"=\"in a deletion\"\n"
        "[HKEY_USERS\\Other]\n"
        "\"Lost3\"=\"another root\"\n"
        "[HKEY_LOCAL_MACHINE\\K]\n"
        "\"Good3\"=\"3\"";
    auto keys = plat::parse_reg_file(text, RegFileRoot::LocalMachine);
    ASSERT_EQ(keys.size(), 1u);
    ASSERT_EQ(keys[0].values.size(), 3u);
    EXPECT_EQ(keys[0].values[0].name, "Good1");
    EXPECT_EQ(keys[0].values[1].name, "Good2");
    EXPECT_EQ(keys[0].values[2].name, "Good3");
}

// Hive files: the variables, the defaults and a missing file.
class HiveFiles : public ::testing::Test {
protected:
    void TearDown() override {
        for (const char *v : {"QXN_ravlink_registry_machine", "QXN_ravlink_registry_user",
                              "XDG_CONFIG_HOME"})
            testsupport::unset_env(v);
        if (!home_.empty()) testsupport::set_env("HOME", home_);
    }
    std::string home_ = std::getenv("HOME") ? std::getenv("HOME") : "";
};

bool opens(plat::Hive hive, const char *path) {
    plat::RegKey key = nullptr;
    long rc = plat::reg_open_key(hive, path, plat::kKeyRead, &key);
    if (rc == 0) plat::reg_close_key(key);
    return rc == 0;
}

TEST_F(HiveFiles, UserHiveDefaultsToXdgConfigHomeThenHome) {
    std::string dir = testsupport::temp_file("hive");
    ASSERT_EQ(std::system(("mkdir -p " + dir + "/xdg/ravlink " + dir + "/home/.config/ravlink").c_str()), 0);
    ASSERT_TRUE(testsupport::write_file(dir + "/xdg/ravlink/registry.reg", "[HKEY_CURRENT_USER\\Xdg]\n"));
    ASSERT_TRUE(testsupport::write_file(dir + "/home/.config/ravlink/registry.reg",
                                        "[HKEY_CURRENT_USER\\Home]\n"));
    testsupport::set_env("HOME", dir + "/home");
    testsupport::unset_env("QXN_ravlink_registry_user");
    testsupport::set_env("XDG_CONFIG_HOME", dir + "/xdg");
    EXPECT_TRUE(opens(plat::Hive::CurrentUser, "Xdg"));
    EXPECT_FALSE(opens(plat::Hive::CurrentUser, "Home"));
    testsupport::unset_env("XDG_CONFIG_HOME");
    EXPECT_TRUE(opens(plat::Hive::CurrentUser, "Home"));
    // The variable wins; a file that is not there is an empty hive.
    testsupport::set_env("QXN_ravlink_registry_user", dir + "/none.reg");
    EXPECT_FALSE(opens(plat::Hive::CurrentUser, "Home"));
    EXPECT_FALSE(opens(plat::Hive::CurrentUser, ""));
    std::system(("rm -rf " + dir).c_str());
}

TEST_F(HiveFiles, TheRegistryIsOnlyOpenedForReading) {
    std::string path = testsupport::temp_file("ro.reg");
    ASSERT_TRUE(testsupport::write_file(path, "[HKEY_LOCAL_MACHINE\\K]\n"));
    testsupport::set_env("QXN_ravlink_registry_machine", path);
    plat::RegKey key = nullptr;
    EXPECT_EQ(plat::reg_open_key(plat::Hive::LocalMachine, "K", 0x20006 /* KEY_WRITE */, &key), 5);
    EXPECT_TRUE(opens(plat::Hive::LocalMachine, "K"));
    std::remove(path.c_str());
}

// Random files and random changes to a valid one: the parser neither crashes nor reads past its
// input (run under AddressSanitizer), and whatever it returns is well-formed.
TEST(RegFile, FuzzedFilesNeverBreakTheReader) {
    const std::string seed =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Brannoc\\Sedrin\\Servers\\alpha]\r\n"
        "\"Address\"=\"host.example\"\r\n\"Port\"=\"7000\"\r\n@=\"x\\\\y\\\"z\"\r\n"
        "\"Level\"=dword:0000000a\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n\"B\"=\"C\"\r\n";
    const std::string alphabet = "[]\"\\=@:-;\r\n HKEY_LOCAL_MACHINEdword0123456789abcdef\xFF\xFE\xD8\xDC";
    std::mt19937 rng(20261206);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
    for (int round = 0; round < 20000; ++round) {
        std::string bytes;
        switch (round % 3) {
        case 0: // random bytes
            for (std::size_t n = pick(400); n > 0; --n) bytes += static_cast<char>(rng());
            break;
        case 1: // random tokens of the format
            for (std::size_t n = pick(400); n > 0; --n) bytes += alphabet[pick(alphabet.size())];
            break;
        default: { // mutations of a valid file, in either encoding
            bytes = round % 2 ? testsupport::utf16le(seed) : seed;
            for (std::size_t n = 1 + pick(8); n > 0; --n) {
                std::size_t at = pick(bytes.size() + 1);
                switch (pick(4)) {
                case 0: if (at < bytes.size()) bytes[at] = static_cast<char>(rng()); break;
                case 1: bytes.insert(at, 1, alphabet[pick(alphabet.size())]); break;
                case 2: if (at < bytes.size()) bytes.erase(at, 1 + pick(16)); break;
                default: bytes.resize(at); break;
                }
            }
        }
        }
        for (RegFileRoot root : {RegFileRoot::LocalMachine, RegFileRoot::CurrentUser}) {
            for (const RegFileKey &k : plat::parse_reg_file(bytes, root)) {
                for (const auto &v : k.values) {
                    if (v.type == plat::kRegSz) {
                        ASSERT_FALSE(v.data.empty());
                        ASSERT_EQ(v.data.back(), '\0');
                    } else {
                        ASSERT_EQ(v.type, 4u);
                        ASSERT_EQ(v.data.size(), 4u);
                    }
                }
            }
        }
    }
}

} // namespace
#endif
