// Connecting by address and port on loopback: failures and their texts, level checks, the
// level-11 record traces, buffer sizes and the one-time local binding.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "support/tcp_peer.h"

namespace {

using namespace testsupport;

bool starts_with(const char *text, const char *prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

TEST(Connect, RefusedConnectionGivesTheSocketReason) {
    std::string port = closed_port();
    timeval tv = timeout_ms(2000);
    EXPECT_EQ(RavlinkToHostPort("127.0.0.1", port.c_str(), &tv, 0, nullptr), nullptr);
    const char *text = RavlinkGetErrorString(nullptr);
    // Refused at once ("TCP connect() failed.") or seen after the wait ("... - exception ...").
    EXPECT_TRUE(starts_with(text, "TCP connect() failed")) << text;
    EXPECT_NE(std::strstr(text, "\r\nReason: (10061, 0x274d) "), nullptr) << text;
    EXPECT_EQ(RavlinkGetErrorCode(nullptr), 10061u);
}

TEST(Connect, UnresolvableHostGivesTheResolverCode) {
    timeval tv = timeout_ms(2000);
    EXPECT_EQ(RavlinkToHostPort("no-such-host.invalid", "7", &tv, 0, nullptr), nullptr);
    const char *text = RavlinkGetErrorString(nullptr);
    EXPECT_TRUE(starts_with(text, "getaddrinfo() failed during TCP connect.\r\nReason: (110")) << text;
    uint32_t code = RavlinkGetErrorCode(nullptr);
    EXPECT_TRUE(code == 11001u || code == 11002u || code == 11004u) << code; // not found / try again / no data
}

TEST(Connect, LevelsOutsideTheTableAreRefused) {
    for (int32_t level : {4, 9, 12, -1}) {
        EXPECT_EQ(RavlinkToHostPort("127.0.0.1", "7", nullptr, level, nullptr), nullptr);
        EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Invalid Security Level requested.");
    }
}

TEST(Connect, TlsLevelsWithoutTheirConfigurationFailClearly) {
    TcpListener l;
    timeval tv = timeout_ms(2000);
    EXPECT_EQ(RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 11, nullptr), nullptr);
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Security level 11 needs a RavlinkSSLconfig record.");
    EXPECT_EQ(RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 10, nullptr), nullptr);
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Security level 10 needs the name of a TLS configuration.");
}

std::mutex g_linesLock;
std::vector<std::string> g_lines;
void collect(int32_t, const char *text) {
    std::lock_guard<std::mutex> hold(g_linesLock);
    g_lines.emplace_back(text);
}

TEST(Connect, RecordTracesHideThePassword) {
    TcpListener l;
    RavlinkSSLconfig record{};
    record.Protocols = const_cast<char *>("TLSv1.2");
    record.CertFile = const_cast<char *>("/no/such/cert.pem");
    g_lines.clear();
    RavlinkSetTraceCallback(collect, 99);
    timeval tv = timeout_ms(2000);
    RavlinkContext *pc =
        RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 11, reinterpret_cast<const char *>(&record));
    RavlinkSetTraceCallback(nullptr, 99);
    if (pc != nullptr) RavlinkClose(pc);

    std::string all;
    for (auto &line : g_lines) all += line;
    EXPECT_NE(all.find("RavlinkToHostPort(127.0.0.1," + l.port_text() + ",") , std::string::npos) << all;
    EXPECT_NE(all.find(",11,RavlinkSSLconfig Structure)\n"), std::string::npos) << all;
    EXPECT_NE(all.find("RavlinkSSLconfig Structure = {Protocols=TLSv1.2, KeyType=\"(NULL)\", VerifyPeer=\"(NULL)\" "
                       ",VerifyDepth=\"(NULL)\", CipherList=\"(NULL)\", Password=\"(NULL)\", "
                       "CertFile=/no/such/cert.pem, KeyFile=\"(NULL)\", CAfile=\"(NULL)\", CSpath=\"(NULL)\"}\n"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("Converted RavlinkSSLconfig = {Protocols=TLSv1.2, KeyType=, VerifyPeer= ,VerifyDepth=, "
                       "CipherList=, Password=present, CertFile=/no/such/cert.pem, KeyFile=, CAfile=, CSpath=}\n"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("Cannot access CertFile:  /no/such/cert.pem.\r\nReason: (2, 0x2) "), std::string::npos) << all;
}

TEST(Connect, ReceiveBufferSizeReachesTheSocket) {
    int32_t original = RavlinkSetRcvBufSize(-1);
    EXPECT_EQ(RavlinkSetRcvBufSize(-1), original); // -1 only reads
    EXPECT_EQ(RavlinkSetRcvBufSize(65536), original);
    EXPECT_EQ(RavlinkRcvBuf, 65536);
    TcpListener l;
    timeval tv = timeout_ms(2000);
    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr);
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    int size = 0;
    socklen_t n = sizeof size;
    ::getsockopt(RavlinkGetSocketDescriptor(pc), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char *>(&size), &n);
    EXPECT_GE(size, 65536);
    RavlinkClose(pc);
    EXPECT_EQ(RavlinkSetRcvBufSize(original), 65536);
}

TEST(Connect, RefusedBufferSizeEndsTheConnect) {
    TcpListener l;
    int32_t original = RavlinkSetSndBufSize(-2);
    timeval tv = timeout_ms(2000);
    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr);
    RavlinkSetSndBufSize(original);
    if (pc != nullptr) {
        RavlinkClose(pc);
        GTEST_SKIP() << "this system's sockets accept a negative send buffer size";
    }
    EXPECT_TRUE(starts_with(RavlinkGetErrorString(nullptr), "setsockopt(sockfd,SOL_SOCKET,SO_SNDBUF,-2) failed."))
        << RavlinkGetErrorString(nullptr);
}

TEST(Connect, LocalBindingIsUsedByOneSocketOnly) {
    TcpListener l;
    std::string localPort = closed_port();
    ASSERT_EQ(RavlinkSetLocalBindings("127.0.0.1", localPort.c_str()), 1);
    timeval tv = timeout_ms(2000);
    RavlinkContext *first = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr);
    ASSERT_NE(first, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(local_port(RavlinkGetSocketDescriptor(first)), std::stoi(localPort));
    RavlinkContext *second = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr);
    ASSERT_NE(second, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_NE(local_port(RavlinkGetSocketDescriptor(second)), std::stoi(localPort));
    RavlinkClose(first);
    RavlinkClose(second);
}

TEST(Connect, UnresolvableLocalBindingEndsTheConnect) {
    TcpListener l;
    ASSERT_EQ(RavlinkSetLocalBindings("no-such-host.invalid", nullptr), 1);
    timeval tv = timeout_ms(2000);
    EXPECT_EQ(RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr), nullptr);
    const char *text = RavlinkGetErrorString(nullptr);
    EXPECT_TRUE(starts_with(text, "Unable to translate local binding address:  ")) << text;
    EXPECT_EQ(std::strchr(text, '\n'), nullptr) << text; // the system's text on one line
    // The binding was consumed: the next connect is not bound.
    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, nullptr);
    EXPECT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    RavlinkClose(pc);
}

TEST(Connect, SuccessLeavesNoErrorAndTheThreadCurrentConnection) {
    TcpListener l;
    RavlinkToHostPort("127.0.0.1", "1", nullptr, 9, nullptr);
    timeval tv = timeout_ms(2000);
    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", l.port_text().c_str(), &tv, 0, "svc/host");
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    std::string left = RavlinkGetErrorString(nullptr);
#ifdef _WIN32
    // Wine's wtsapi32 cannot report a client name; the failed lookup's text stays, as it must.
    if (starts_with(left.c_str(), "Could not obtain terminal server client name.")) left.clear();
#endif
    EXPECT_EQ(left, "");
    EXPECT_EQ(RavlinkGetErrorCode(pc), 0u);
    RavlinkClose(pc);
}

} // namespace
