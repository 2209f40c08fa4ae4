// Connecting on loopback by address and port and by server name: failures and their texts, level
// checks, the level-11 record traces, buffer sizes, the one-time local binding, and server
// definitions in the registry (the real registry under Wine, .reg files on POSIX).
#include <gtest/gtest.h>

#include <cstring>

#include "support/loopback.h"
#include "support/registry_fixture.h"
#include "support/trace_capture.h"

namespace {

using namespace testsupport;

// Connects to 127.0.0.1 at a port with a 2 s time-out.
RavlinkContext *connect_to(const std::string &port, int32_t level = 0, const char *extra = nullptr) {
    timeval tv = timeout_ms(2000);
    return RavlinkToHostPort("127.0.0.1", port.c_str(), &tv, level, extra);
}

TEST(Connect, FailuresAndTheirTexts) {
    EXPECT_EQ(connect_to(closed_port()), nullptr);
    std::string text = RavlinkGetErrorString(nullptr);
    // Refused at once ("TCP connect() failed.") or seen after the wait ("... - exception ...").
    EXPECT_TRUE(starts_with(text, "TCP connect() failed")) << text;
    EXPECT_NE(text.find("\r\nReason: (10061, 0x274d) "), std::string::npos) << text;
    EXPECT_EQ(RavlinkGetErrorCode(nullptr), 10061u);

    timeval tv = timeout_ms(2000);
    EXPECT_EQ(RavlinkToHostPort("no-such-host.invalid", "7", &tv, 0, nullptr), nullptr);
    text = RavlinkGetErrorString(nullptr);
    EXPECT_TRUE(starts_with(text, "getaddrinfo() failed during TCP connect.\r\nReason: (110")) << text;
    uint32_t code = RavlinkGetErrorCode(nullptr);
    EXPECT_TRUE(code == 11001u || code == 11002u || code == 11004u) << code; // not found / try again / no data

    for (int32_t level : {4, 9, 12, -1}) {
        EXPECT_EQ(RavlinkToHostPort("127.0.0.1", "7", nullptr, level, nullptr), nullptr);
        EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Invalid Security Level requested.");
    }
}

// The level-11 record in the traces, and the files it names checked in their order, each failure
// recorded over the one before (the last stands until the TCP connect succeeds and clears it).
TEST(Connect, RecordTracesAndFileChecks) {
    Listener l;
    const std::string longPath = "/" + std::string(4000, 'k');
    RavlinkSSLconfig record{};
    record.Protocols = const_cast<char *>("TLSv1.2");
    record.CertFile = const_cast<char *>("/no/such/cert.pem");
    record.KeyFile = const_cast<char *>("/no/such/key.pem");
    record.CAfile = const_cast<char *>("/no/such/ca.pem");
    record.CApath = const_cast<char *>(longPath.c_str());
    std::string atConnect; // the error text when the TCP connect begins
    TraceCapture trace([&](const std::string &line) {
        if (atConnect.empty() && line.rfind("s_wsockstart() , wsastart", 0) == 0) atConnect = RavlinkGetErrorString(nullptr);
    });
    RavlinkContext *pc = connect_to(l.port_text(), 11, reinterpret_cast<const char *>(&record));
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    std::string text = RavlinkGetErrorString(nullptr);
#ifdef _WIN32
    // Wine's wtsapi32 cannot report a client name; the failed lookup's text stays, as it must.
    if (starts_with(text, "Could not obtain terminal server client name.")) text.clear();
#endif
    EXPECT_EQ(text, "");
    EXPECT_EQ(RavlinkGetErrorCode(pc), 0u);
    RavlinkClose(pc);
    EXPECT_TRUE(trace.has("RavlinkToHostPort(127.0.0.1," + l.port_text() + ",")) << trace.all();
    EXPECT_TRUE(trace.has(",11,RavlinkSSLconfig Structure)\n"));
    EXPECT_TRUE(trace.has("RavlinkSSLconfig Structure = {Protocols=TLSv1.2, KeyType=\"(NULL)\", VerifyPeer=\"(NULL)\" "
                          ",VerifyDepth=\"(NULL)\", CipherList=\"(NULL)\", Password=\"(NULL)\", "
                          "CertFile=/no/such/cert.pem, KeyFile=/no/such/key.pem, CAfile=/no/such/ca.pem, CSpath=/kkkk"));
    EXPECT_TRUE(trace.has("Converted RavlinkSSLconfig = {Protocols=TLSv1.2, KeyType=, VerifyPeer= ,VerifyDepth=, "
                          "CipherList=, Password=present, CertFile=/no/such/cert.pem, KeyFile=/no/such/key.pem, "
                          "CAfile=/no/such/ca.pem, CSpath=/kkkk"));
    const std::string all = trace.all();
    std::size_t at = 0;
    for (const std::string line : {"[6]Cannot access CertFile:  /no/such/cert.pem.\r\nReason: (2, 0x2) ",
                                   "[6]Cannot access KeyFile:  /no/such/key.pem.\r\nReason: (2, 0x2) ",
                                   "[6]Cannot access CAfile:  /no/such/ca.pem.\r\nReason: (2, 0x2) ",
                                   "[6]Cannot access CApath.\r\nReason: ("}) {
        at = all.find(line, at);
        ASSERT_NE(at, std::string::npos) << line << "\n" << all;
    }
#ifndef _WIN32
    EXPECT_TRUE(trace.has("[6]Cannot access CApath.\r\nReason: (36, 0x24) ")); // ENAMETOOLONG
#endif
    EXPECT_TRUE(starts_with(atConnect, "Cannot access CApath.\r\nReason: (")) << atConnect;
}

TEST(Connect, ReceiveBufferSizeAndTheOneTimeLocalBinding) {
    int32_t original = RavlinkSetRcvBufSize(-1);
    EXPECT_EQ(RavlinkSetRcvBufSize(-1), original); // -1 only reads
    EXPECT_EQ(RavlinkSetRcvBufSize(65536), original);
    std::string localPort = closed_port();
    ASSERT_EQ(RavlinkSetLocalBindings("127.0.0.1", localPort.c_str()), 1);
    Listener l;
    RavlinkContext *pc = connect_to(l.port_text());
    EXPECT_EQ(RavlinkSetRcvBufSize(original), 65536);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    int size = 0;
    socklen_t n = sizeof size;
    ::getsockopt(RavlinkGetSocketDescriptor(pc), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char *>(&size), &n);
    EXPECT_GE(size, 65536);
    EXPECT_EQ(local_port(RavlinkGetSocketDescriptor(pc)), std::stoi(localPort));
    RavlinkClose(pc);

    // An unresolvable binding ends the connect, with the system's text on one line, and is consumed:
    // the next connect succeeds.
    ASSERT_EQ(RavlinkSetLocalBindings("no-such-host.invalid", nullptr), 1);
    EXPECT_EQ(connect_to(l.port_text()), nullptr);
    std::string text = RavlinkGetErrorString(nullptr);
    EXPECT_TRUE(starts_with(text, "Unable to translate local binding address:  ")) << text;
    EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    pc = connect_to(l.port_text(), 0, "svc/host");
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    RavlinkClose(pc);
}

// A definition's values reach the connect, with the default principal name; the class takes the
// definition's level over its own. An unknown server returns null and records nothing.
TEST(Connect, ByServerName) {
    Listener peer;
    const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Brannoc\\Sedrin\\Servers\\e2e-plain]\r\n";
    ASSERT_TRUE(install_registry("e2e-servers.reg",
                                 "Windows Registry Editor Version 5.00\r\n\r\n[-" + key + "\r\n[" + key +
                                     "\"Address\"=\"127.0.0.1\"\r\n\"Port\"=\"" + peer.port_text() +
                                     "\"\r\n\"ConnectionSecurityLevel\"=\"\"\r\n"));
    timeval tv = timeout_ms(2000);
    TraceCapture trace;
    RavlinkContext *pc = RavlinkToServer("e2e-plain", &tv);
    EXPECT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSecurityLevel(pc), 0); // an empty level text
    EXPECT_EQ(RavlinkGetSecurityType(pc), 0u);
    RavlinkClose(pc);
    EXPECT_TRUE(trace.has("[4]RavlinkToServer(e2e-plain,")) << trace.all();
    EXPECT_TRUE(trace.has(",no username,no password,no authority)\n"));
    EXPECT_TRUE(trace.has("[4]RavlinkLoginToHostPort(127.0.0.1," + peer.port_text() + ",")) << trace.all();
    EXPECT_TRUE(trace.has(",0,no username,no password,no authority,sedrin)\n")) << trace.all();
    Ravlink r(3, "not/used"); // level 3 would need Kerberos: the definition says 0
    EXPECT_EQ(r.ConnectToServer(std::string("e2e-plain"), &tv), 1) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(r.GetSecurityLevel(), 0);

    // An earlier failure's text stays.
    EXPECT_EQ(RavlinkToHostPort("127.0.0.1", "7", nullptr, 4, nullptr), nullptr);
    EXPECT_EQ(RavlinkLoginToServer("e2e-nothing", nullptr, "user", "pw", "REALM"), nullptr);
    EXPECT_TRUE(trace.has("[4]RavlinkLoginToServer(e2e-nothing,0,user,pw,REALM)\n")) << trace.all();
    EXPECT_TRUE(trace.has("[6]ServerToHostPort(e2e-nothing) failed in RavlinkLoginToServer().\n"));
    EXPECT_EQ(r.LoginAndConnectToServer(std::string("e2e-nothing"), &tv, "user", "pw"), 0);
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Invalid Security Level requested.");
    EXPECT_EQ(RavlinkToServer(nullptr, nullptr), nullptr);
    EXPECT_TRUE(trace.has("[6]ServerToHostPort(no server) failed in RavlinkLoginToServer().\n"));
    remove_registry("e2e-servers.reg");
}

TEST(Connect, ABufferSizeTheSocketRefusesEndsTheConnect) {
    Listener l;
    int32_t original = RavlinkSetSndBufSize(-2);
    RavlinkContext *pc = connect_to(l.port_text());
    RavlinkSetSndBufSize(original);
    if (pc != nullptr) {
        RavlinkClose(pc);
        GTEST_SKIP() << "this system's sockets accept a negative send buffer size";
    }
    EXPECT_TRUE(starts_with(RavlinkGetErrorString(nullptr), "setsockopt(sockfd,SOL_SOCKET,SO_SNDBUF,-2) failed."))
        << RavlinkGetErrorString(nullptr);
}

} // namespace
