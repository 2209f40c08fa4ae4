// TLS configurations: defaults, the record and registry forms and where they differ.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "support/loopback.h"
#include "tls/ssl_settings.h"

namespace {

struct Free {
    void operator()(SSLsettings *s) const { std::free(s); }
};
using Settings = std::unique_ptr<SSLsettings, Free>;

Settings from_record(const RavlinkSSLconfig &r) { return Settings(s_SSLsettingsFromConfig(&r)); }

TEST(TlsSettings, EmptyRecordTakesTheDefaults) {
    RavlinkSSLconfig nulls{};
    char empty[] = "";
    RavlinkSSLconfig empties{empty, empty, empty, empty, empty, empty, empty, empty, empty, empty};
    for (const RavlinkSSLconfig *r : {&nulls, &empties}) {
        Settings s = from_record(*r);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->protocols, 30);
        EXPECT_EQ(s->keyType, 1);
        EXPECT_EQ(s->verifyPeer, 1);
        EXPECT_EQ(s->verifyDepth, 9);
        EXPECT_STREQ(s->cipherList, "ALL:!aNULL:!eNULL:!EXP:!SSLv2");
        EXPECT_STREQ(s->password, "");
        EXPECT_STREQ(s->certFile, "");
        EXPECT_STREQ(s->caFile, "");
        EXPECT_STREQ(s->caPath, "");
    }
}

TEST(TlsSettings, RecordNumbersAndTexts) {
    char protocols[] = " +16x", keyType[] = "2", verify[] = "0", depth[] = "-3", pw[] = "pw", cert[] = "c.pem";
    RavlinkSSLconfig r{protocols, keyType, verify, depth, nullptr, pw, cert, nullptr, nullptr, nullptr};
    Settings s = from_record(r);
    EXPECT_EQ(s->protocols, 16);
    EXPECT_EQ(s->keyType, 2);
    EXPECT_EQ(s->verifyPeer, 0);
    EXPECT_EQ(s->verifyDepth, -3);
    EXPECT_STREQ(s->password, "pw");
    EXPECT_STREQ(s->certFile, "c.pem");
    char junk[] = "abc", huge[] = "99999999999";
    RavlinkSSLconfig odd{junk, huge, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    Settings o = from_record(odd);
    EXPECT_EQ(o->protocols, 0);
    EXPECT_EQ(o->keyType, 2147483647);
}

TEST(TlsSettings, RecordCipherListIsCutTo255) {
    std::string exact(255, 'A'), longer(300, 'B');
    RavlinkSSLconfig r{};
    r.CipherList = &exact[0];
    EXPECT_EQ(std::string(from_record(r)->cipherList), exact);
    r.CipherList = &longer[0];
    EXPECT_EQ(std::string(from_record(r)->cipherList), std::string(255, 'B'));
}

#ifndef _WIN32
Settings from_registry(const std::string &name) {
    return Settings(s_SSLsettingsFromRegistry(static_cast<std::int32_t>(name.size()), name.c_str()));
}

// Named configurations from .reg files for both hives.
class TlsRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = ::testing::TempDir() + "ravlink-tls-registry-" + std::to_string(::getpid());
        std::system(("mkdir -p '" + dir_ + "'").c_str());
        testsupport::set_env("QXN_ravlink_registry_machine", (dir_ + "/machine.reg").c_str());
        testsupport::set_env("QXN_ravlink_registry_user", (dir_ + "/user.reg").c_str());
        write("machine.reg", "");
        write("user.reg", "");
    }
    void TearDown() override {
        testsupport::set_env("QXN_ravlink_registry_machine", nullptr);
        testsupport::set_env("QXN_ravlink_registry_user", nullptr);
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    // Writes a hive with sections of the configuration key: {name, lines}.
    void write(const char *file, const std::string &body) {
        std::ofstream(dir_ + "/" + file) << "Windows Registry Editor Version 5.00\r\n\r\n" << body;
    }
    // root: the key path up to the vendor's key, e.g. "HKEY_CURRENT_USER\\Software".
    static std::string section(const char *root, const std::string &name, const std::string &lines) {
        return std::string("[") + root + "\\Brannoc\\Sedrin\\SSLConfigurations\\" + name + "]\r\n" + lines +
               "\r\n";
    }
    std::string dir_;
};

TEST_F(TlsRegistry, OnlyCertFileAndKeyFile) {
    // An export from a 64-bit machine: the 32-bit view finds the Wow6432Node copy first.
    write("machine.reg",
          section("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node", "office",
                  "\"CertFile\"=\"C:\\\\certs\\\\client.pem\"\r\n\"KeyFile\"=\"k.pem\"\r\n") +
              section("HKEY_LOCAL_MACHINE\\SOFTWARE", "office", "\"CertFile\"=\"64-bit view.pem\"\r\n"));
    EXPECT_EQ(s_SSLconfigExists("office"), 1);
    EXPECT_EQ(s_SSLconfigExists("OFFICE"), 1); // names compare without regard to case
    Settings s = from_registry("office");
    ASSERT_TRUE(s);
    EXPECT_STREQ(s->name, "office");
    EXPECT_STREQ(s->certFile, "C:\\certs\\client.pem");
    EXPECT_STREQ(s->keyFile, "k.pem");
    EXPECT_EQ(s->protocols, 30);
    EXPECT_EQ(s->verifyPeer, 1);
    EXPECT_STREQ(s->cipherList, "ALL:!aNULL:!eNULL:!EXP:!SSLv2");
    EXPECT_STREQ(s->password, "");
    EXPECT_STREQ(s->caFile, "");
}

TEST_F(TlsRegistry, EmptyValuesStayEmpty) {
    write("user.reg", section("HKEY_CURRENT_USER\\Software", "bare",
                              "\"Protocols\"=\"\"\r\n\"CipherList\"=\"\"\r\n\"VerifyDepth\"=\"4\"\r\n"));
    Settings s = from_registry("bare");
    EXPECT_EQ(s->protocols, 0);      // present but empty: 0, not the default
    EXPECT_STREQ(s->cipherList, ""); // OpenSSL's own default list then
    EXPECT_EQ(s->verifyDepth, 4);
    EXPECT_EQ(s->keyType, 1);
}

TEST_F(TlsRegistry, CurrentUserHidesLocalMachineCompletely) {
    write("machine.reg", section("HKEY_LOCAL_MACHINE\\SOFTWARE", "shared",
                                 "\"CAfile\"=\"machine-ca.pem\"\r\n\"Protocols\"=\"16\"\r\n"));
    write("user.reg", section("HKEY_CURRENT_USER\\Software", "shared", "\"Protocols\"=\"24\"\r\n"));
    Settings s = from_registry("shared");
    EXPECT_EQ(s->protocols, 24);
    EXPECT_STREQ(s->caFile, ""); // not taken from the machine's key
}

TEST_F(TlsRegistry, LongCipherListCountsAsMissing) {
    std::string exact(255, 'C'), longer(256, 'D');
    write("user.reg", section("HKEY_CURRENT_USER\\Software", "exact", "\"CipherList\"=\"" + exact + "\"\r\n") +
                          section("HKEY_CURRENT_USER\\Software", "long", "\"CipherList\"=\"" + longer + "\"\r\n" +
                                                                   "\"CertFile\"=\"" + longer + "\"\r\n"));
    EXPECT_EQ(std::string(from_registry("exact")->cipherList), exact);
    Settings s = from_registry("long");
    EXPECT_STREQ(s->cipherList, "ALL:!aNULL:!eNULL:!EXP:!SSLv2");
    EXPECT_STREQ(s->certFile, "");
}

TEST_F(TlsRegistry, NameFoundNowhereGivesDefaultsAndOverlongNamesAreRefused) {
    EXPECT_EQ(s_SSLconfigExists("nowhere"), 0);
    Settings s = from_registry("nowhere");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->protocols, 30);
    EXPECT_EQ(s->verifyPeer, 1);
    EXPECT_STREQ(s->caFile, "");
    EXPECT_STREQ(s->certFile, "");
    std::string tooLong(64, 'n');
    EXPECT_EQ(s_SSLconfigExists(tooLong.c_str()), 0);
    EXPECT_FALSE(from_registry(tooLong));
    EXPECT_TRUE(from_registry(std::string(63, 'n')));
}
#endif

} // namespace
