// The SSL definitions file: where it is, which server section matches, and how a
// configuration section becomes the texts of a RavlinkSSLconfig.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "config/ssl_definitions.h"
#include "config/ssl_definitions_file.h"
#include "support/registry_fixture.h"

namespace {

namespace fs = std::filesystem;
using testsupport::set_env;
using testsupport::unset_env;

using Definition = std::unique_ptr<SSLdefinition, void (*)(void *)>;

class SSLdefinitions : public ::testing::Test {
protected:
    void SetUp() override { set_env("QXN_SSLconfigurations", path_); }
    void TearDown() override {
        unset_env("QXN_SSLconfigurations");
        std::remove(path_.c_str());
    }
    void file(const std::string &text) { ASSERT_TRUE(testsupport::write_file(path_, text)); }
    static Definition find(const char *address, const char *port) {
        return Definition(s_findSSLdefinition(address, port), std::free);
    }
    std::string path_ = testsupport::temp_file("SSLdefs.ini");
};

// Every pointer of the record points at its own text inside the block.
void expect_packed(const SSLdefinition *d) {
    const char *texts = reinterpret_cast<const char *>(d + 1);
    const char *end = texts + d->length;
    char *const *fields = &d->config.Protocols;
    const char *expected = texts;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(fields[i], expected) << "field " << i;
        expected += std::strlen(fields[i]) + 1;
    }
    EXPECT_EQ(expected, end);
}

TEST_F(SSLdefinitions, AListedAddressAndPortGiveTheirConfiguration) {
    file("[srv]\naddress=Host.Example\nport=7000\nSSLConfig=cfg\nConnectionSecurityLevel=0\n\n"
         "[cfg]\nProtocols=SSLv3 TLSv1\nKeyType=rsa\nVerifyPeer=YES\nVerifyDepth=0\nPassword= secret\n"
         "certfile=/pki/client.pem\nKEYFILE=/pki/client.key\ncafile=/pki/ca.pem\n"
         "; not a key, and no comment syntax either\nCApath=/pki/ca\nVerifyHostName=yes\n[next]\nCipherList=LOW\n"
         "[other]\naddress=host.example\nport=7001\nSSLConfig=plain\nConnectionSecurityLevel=0\n\n[plain]\n"
         "Protocols=16\n[end]\n");
    Definition d = find("host.example", "7000");
    ASSERT_NE(d, nullptr);
    // The configuration ends at the next header: the cipher list after it is not its own.
    const char *expected[10] = {"30", "2", "1", "9", "ALL:!aNULL:!eNULL:!EXP:!SSLv2", " secret",
                                "/pki/client.pem", "/pki/client.key", "/pki/ca.pem", "/pki/ca"};
    for (int i = 0; i < 10; ++i) EXPECT_STREQ((&d->config.Protocols)[i], expected[i]) << "field " << i;
    expect_packed(d.get());
    EXPECT_EQ(d->verifyHostName, 1);
    EXPECT_EQ(find("host.example", "7001")->verifyHostName, 0); // off unless asked for
    // Whole texts, no name resolution.
    EXPECT_EQ(find("127.0.0.1", "7000"), nullptr);
    EXPECT_EQ(find("host.example", "700"), nullptr);
    EXPECT_EQ(find("host.exampl", "7000"), nullptr);
}

// One key at a time, with either line end; values too long for their field are refused.
TEST_F(SSLdefinitions, ValueConversions) {
    const std::string path270(270, 'p'), path271(271, 'p');
    struct Case { const char *key; std::string value, field; int index; } cases[] = {
        {"Protocols", "TLSv1.2", "16", 0}, {"Protocols", "TLSv1", "28", 0},
        {"Protocols", "SSLv3 TLSv1", "30", 0}, {"Protocols", "30", "30", 0},
        {"Protocols", "TLSv1.1 TLSv1.2", "24", 0}, {"Protocols", "tlsv1.2", "0", 0},
        {"KeyType", "rsa", "2", 1}, {"KeyType", "DSA", "1", 1}, {"KeyType", "EC", "0", 1},
        {"KeyType", "2", "2", 1}, {"VerifyPeer", "no", "0", 2}, {"VerifyPeer", "Yes", "1", 2},
        {"VerifyPeer", "yesno", "0", 2}, {"VerifyPeer", "3", "3", 2}, {"VerifyDepth", "0", "9", 3},
        {"VerifyDepth", "4", "4", 3}, {"VerifyDepth", "deep", "9", 3},
        {"CipherList", "HIGH:!aNULL", "HIGH:!aNULL", 4}, {"CertFile", path270, path270, 6},
        {"KeyFile", path271, "", 7}, {"CipherList", std::string(127, 'x'), "ALL:!aNULL:!eNULL:!EXP:!SSLv2", 4},
    };
    for (const Case &k : cases) {
        for (const char *eol : {"\n", "\r\n"}) {
            SCOPED_TRACE(k.key + ("=" + k.value).substr(0, 40) + (eol[0] == '\r' ? " CRLF" : " LF"));
            file(std::string("[s]\naddress=a\nport=1\nSSLConfig=c\nConnectionSecurityLevel=0\n[c]\n") + k.key +
                 "=" + k.value + eol);
            Definition d = find("a", "1");
            ASSERT_NE(d, nullptr);
            EXPECT_EQ((&d->config.Protocols)[k.index], k.field);
        }
    }
}

// Which section, if any, a look-up of an address and a port finds.
TEST_F(SSLdefinitions, WhichSectionMatches) {
    auto srv = [](const std::string &address) {
        return "address=" + address + "\nport=1\nSSLConfig=cfg\nConnectionSecurityLevel=0\n";
    };
    const std::string cfg = "[cfg]\nVerifyDepth=3\n", a254(254, 'a'), a255(255, 'a');
    struct Case { std::string text, address, port; bool found; } cases[] = {
        // The first match decides, even when it names a missing configuration.
        {"[first]\naddress=a\nport=1\nSSLConfig=missing\nConnectionSecurityLevel=0\n[second]\n" + srv("a") + cfg,
         "a", "1", false},
        // A section for another port does not get in the way; addresses and names ignore case.
        {"[other]\naddress=a\nport=2\nSSLConfig=missing\nConnectionSecurityLevel=0\n[second]\n" + srv("a") +
             "[CFG]\nVerifyDepth=3\n", "A", "1", true},
        // TelnetPort first: the section runs to the next header and matches by TelnetPort alone.
        {"[srv]\nTelnetPort=23\n" + srv("a") + cfg, "a", "23", true},
        {"[srv]\nTelnetPort=23\n" + srv("a") + cfg, "a", "1", true},
        // The same section as the last one of the file runs into the end and is lost.
        {cfg + "[srv]\nTelnetPort=23\n" + srv("a"), "a", "1", false},
        // The four keys complete a section, even the last one; a TelnetPort after them is not read.
        {cfg + "[srv]\n" + srv("a") + "TelnetPort=23\n", "a", "1", true},
        {cfg + "[srv]\n" + srv("a") + "TelnetPort=23\n", "a", "23", false},
        // A last section without its level is lost.
        {cfg + "[srv]\naddress=a\nport=1\nSSLConfig=cfg\n", "a", "1", false},
        // Lines before any section are skipped; a header's name ends at "]" or the line's end; key
        // names ignore case.
        {"junk\n[one] trailing\nADDRESS=a\nPort=1\nConnectionSecurityLevel=12abc\nSSLConfig=cfg\n" + cfg, "a",
         "1", true},
        {"[two\naddress=a\nport=2\nTelnetPort=3\nSSLConfig=cfg\nConnectionSecurityLevel=\n" + cfg, "a", "3", true},
        // Lines are read in pieces of 1023 characters: the rest of this one is a section header.
        {"x" + std::string(1022, '-') + "[srv]\n" + srv("a") + cfg, "a", "1", true},
        // A section name of 256 characters is refused with its keys; an address must fit in 255 bytes.
        {"[" + std::string(255, 'n') + "]\n" + srv("a") + cfg, "a", "1", true},
        {"[" + std::string(256, 'n') + "]\n" + srv("a") + cfg, "a", "1", false},
        {"[s]\n" + srv(a255) + cfg, a255, "1", false},
        {"[s]\n" + srv(a254) + cfg, a254, "1", true},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.text.substr(0, 100) + " -> " + k.address.substr(0, 10) + ":" + k.port);
        file(k.text);
        Definition d = find(k.address.c_str(), k.port.c_str());
        ASSERT_EQ(d != nullptr, k.found);
        EXPECT_STREQ(d ? d->config.VerifyDepth : "3", "3");
    }
}

// Where the definitions file is looked for, with the three variables saved and cleared.
class SSLdefsLocation : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char *v : kVariables) {
            if (const char *p = std::getenv(v)) saved_.emplace_back(v, p);
            unset_env(v);
        }
        for (const char *where : {"x86", "plain"}) {
            fs::create_directories(dir_ / where / "Brannoc" / "Sedrin");
            ASSERT_TRUE(testsupport::write_file((dir_ / where / "Brannoc" / "Sedrin" / "SSLdefs.ini").string(), where));
        }
        ASSERT_TRUE(testsupport::write_file((dir_ / "own.ini").string(), "own"));
    }
    void TearDown() override {
        for (const char *v : kVariables) unset_env(v);
        for (auto &s : saved_) set_env(s.first.c_str(), s.second);
        fs::remove_all(dir_);
    }
    // The first word of the file opened, or "" when none.
    static std::string opened() {
        char buf[16] = {};
        if (FILE *f = s_openSSLdefs("r")) {
            if (std::fgets(buf, sizeof buf, f) == nullptr) buf[0] = '\0';
            std::fclose(f);
        }
        return buf;
    }
    static constexpr const char *kVariables[3] = {"QXN_SSLconfigurations", "CommonProgramFiles(x86)",
                                                  "CommonProgramFiles"};
    fs::path dir_ = testsupport::temp_file("common");
    std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(SSLdefsLocation, VariableThenCommonProgramFilesX86ThenCommonProgramFiles) {
    EXPECT_EQ(opened(), "");
    set_env("CommonProgramFiles", (dir_ / "plain").string());
    EXPECT_EQ(opened(), "plain");
    set_env("CommonProgramFiles(x86)", (dir_ / "x86").string());
    EXPECT_EQ(opened(), "x86");
    set_env("QXN_SSLconfigurations", (dir_ / "own.ini").string());
    EXPECT_EQ(opened(), "own");
    // Only that file: when it is missing, there is none; nor when its path is 260 characters or more.
    set_env("QXN_SSLconfigurations", (dir_ / "missing.ini").string());
    EXPECT_EQ(opened(), "");
    set_env("QXN_SSLconfigurations", (dir_ / std::string(300, 'l')).string());
    EXPECT_EQ(opened(), "");
#ifndef _WIN32 // the ANSI file calls of Windows stop at 260 characters
    // The limit is the folder variable's: a folder of 259 characters still has its file.
    unset_env("QXN_SSLconfigurations");
    const fs::path folder = dir_ / std::string(259 - dir_.string().size() - 1, 'f');
    fs::create_directories(folder / "Brannoc" / "Sedrin");
    ASSERT_TRUE(testsupport::write_file((folder / "Brannoc" / "Sedrin" / "SSLdefs.ini").string(), "long"));
    set_env("CommonProgramFiles(x86)", folder.string());
    EXPECT_EQ(opened(), "long");
    set_env("CommonProgramFiles(x86)", folder.string() + "/");
    EXPECT_EQ(opened(), "");
#endif
}

} // namespace
