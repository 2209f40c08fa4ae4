// TLS configurations: defaults, the record and registry forms and where they differ.
#include <gtest/gtest.h>

#include <memory>

#include "support/registry_fixture.h"
#include "tls/netssl.h"
#include "tls/ssl_settings.h"

namespace {

struct Free {
    void operator()(SSLsettings *s) const { std::free(s); }
};
using Settings = std::unique_ptr<SSLsettings, Free>;

const char kDefaultCiphers[] = "ALL:!aNULL:!eNULL:!EXP:!SSLv2";

Settings from_record(const RavlinkSSLconfig &r) { return Settings(s_SSLsettingsFromConfig(&r)); }

void expect_defaults(const Settings &s) {
    ASSERT_TRUE(s);
    EXPECT_EQ(s->protocols, 30);
    EXPECT_EQ(s->keyType, 1);
    EXPECT_EQ(s->verifyPeer, 1);
    EXPECT_EQ(s->verifyDepth, 9);
    EXPECT_STREQ(s->cipherList, kDefaultCiphers);
    for (const char *text : {s->password, s->certFile, s->keyFile, s->caFile, s->caPath})
        EXPECT_STREQ(text, "");
}

TEST(TlsSettings, EmptyRecordTakesTheDefaults) {
    char empty[] = "";
    expect_defaults(from_record(RavlinkSSLconfig{}));
    expect_defaults(from_record(RavlinkSSLconfig{empty, empty, empty, empty, empty, empty, empty, empty, empty, empty}));
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
    // The cipher list is cut to 255 characters.
    std::string exact(255, 'A'), longer(300, 'B');
    r.CipherList = &exact[0];
    EXPECT_EQ(std::string(from_record(r)->cipherList), exact);
    r.CipherList = &longer[0];
    EXPECT_EQ(std::string(from_record(r)->cipherList), std::string(255, 'B'));
}

Settings from_registry(const std::string &name) {
    return Settings(s_SSLsettingsFromRegistry(static_cast<std::int32_t>(name.size()), name.c_str()));
}

// Values as regedit makes them: DWORD numbers count as their number (read as text, as the
// registry tests check for every type), and a value of any other type refuses the configuration
// instead of weakening it.
TEST(TlsSettings, RegistryValueTypes) {
    const std::string key = "HKEY_CURRENT_USER\\Software\\Brannoc\\Sedrin\\SSLConfigurations\\";
    auto section = [&](const std::string &name, const std::string &lines) {
        return "[-" + key + name + "]\r\n[" + key + name + "]\r\n" + lines + "\r\n";
    };
    // In UTF-16, as regedit writes files of this version.
    ASSERT_TRUE(testsupport::install_registry(
        "tls-types.reg",
        testsupport::utf16le(
            "Windows Registry Editor Version 5.00\r\n\r\n" +
            section("unit-typed", "\"VerifyPeer\"=dword:00000001\r\n\"Protocols\"=dword:00000010\r\n") +
            section("unit-binary", "\"CAfile\"=\"ca.pem\"\r\n\"VerifyPeer\"=hex:01,00,00,00\r\n"))));
    Settings s = from_registry("unit-typed");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->verifyPeer, 1);
    EXPECT_EQ(s->protocols, 16);

    EXPECT_FALSE(from_registry("unit-binary"));
    EXPECT_PRED2(testsupport::starts_with, RavlinkGetErrorString(nullptr),
                 "Registry value VerifyPeer of SSL/TLS configuration unit-binary has type 3: "
                 "neither a string nor a DWORD.\r\nReason: (1630, 0x65e) ");
    testsupport::remove_registry("tls-types.reg");
}

#ifndef _WIN32

// Named configurations from one .reg file standing in for both hives.
class TlsRegistry : public ::testing::Test {
protected:
    void TearDown() override { testsupport::remove_registry("tls-settings.reg"); }
};

TEST_F(TlsRegistry, NamedConfigurations) {
    auto section = [](const char *root, const std::string &name, const std::string &lines) {
        return std::string("[") + root + "\\Brannoc\\Sedrin\\SSLConfigurations\\" + name + "]\r\n" + lines + "\r\n";
    };
    const char *machine = "HKEY_LOCAL_MACHINE\\SOFTWARE", *user = "HKEY_CURRENT_USER\\Software";
    const std::string c255(255, 'C'), d256(256, 'D');
    ASSERT_TRUE(testsupport::install_registry(
        "tls-settings.reg",
        "Windows Registry Editor Version 5.00\r\n\r\n" +
            // An export from a 64-bit machine: the 32-bit view finds the Wow6432Node copy first.
            section("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node", "office",
                    "\"CertFile\"=\"C:\\\\certs\\\\client.pem\"\r\n\"KeyFile\"=\"k.pem\"\r\n") +
            section(machine, "office", "\"CertFile\"=\"64-bit view.pem\"\r\n") +
            section(user, "bare", "\"Protocols\"=\"\"\r\n\"CipherList\"=\"\"\r\n\"VerifyDepth\"=\"4\"\r\n") +
            section(machine, "shared", "\"CAfile\"=\"machine-ca.pem\"\r\n\"Protocols\"=\"16\"\r\n") +
            section(user, "shared", "\"Protocols\"=\"24\"\r\n\"VerifyHostName\"=\"1\"\r\n") +
            section(user, "exact", "\"CipherList\"=\"" + c255 + "\"\r\n") +
            section(user, "long", "\"CipherList\"=\"" + d256 + "\"\r\n\"CertFile\"=\"" + d256 + "\"\r\n")));

    EXPECT_EQ(s_SSLconfigExists("office"), 1);
    Settings s = from_registry("office");
    ASSERT_TRUE(s);
    EXPECT_STREQ(s->name, "office");
    EXPECT_STREQ(s->certFile, "C:\\certs\\client.pem");
    EXPECT_STREQ(s->keyFile, "k.pem");
    s->certFile[0] = s->keyFile[0] = '\0';
    expect_defaults(s); // for every value not given

    s = from_registry("bare");
    EXPECT_EQ(s->protocols, 0);      // present but empty: 0, not the default
    EXPECT_STREQ(s->cipherList, ""); // OpenSSL's own default list then
    EXPECT_EQ(s->verifyDepth, 4);
    EXPECT_EQ(s->keyType, 1);

    s = from_registry("shared"); // the user's key hides the machine's completely
    EXPECT_EQ(s->protocols, 24);
    EXPECT_STREQ(s->caFile, "");
    EXPECT_EQ(s->verifyHostName, 1);
    EXPECT_EQ(from_registry("office")->verifyHostName, 0); // off unless asked for

    EXPECT_EQ(std::string(from_registry("exact")->cipherList), c255);
    s = from_registry("long"); // a value too long counts as missing
    EXPECT_STREQ(s->cipherList, kDefaultCiphers);
    EXPECT_STREQ(s->certFile, "");

    EXPECT_EQ(s_SSLconfigExists("nowhere"), 0); // found nowhere: the defaults
    expect_defaults(from_registry("nowhere"));
    std::string tooLong(64, 'n'); // names of 64 characters and more are refused
    EXPECT_EQ(s_SSLconfigExists(tooLong.c_str()), 0);
    EXPECT_FALSE(from_registry(tooLong));
    EXPECT_TRUE(from_registry(std::string(63, 'n')));
}
#endif

} // namespace
