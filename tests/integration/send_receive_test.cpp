// Sending and receiving over plain connections made by RavlinkToHostPort, against a peer on
// loopback that the test scripts: FREAD and VREAD, rdlen, time-outs, remote close, argument faults.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/tcp_peer.h"

namespace {

using namespace testsupport;

// A connection to a listener on loopback, with the accepted server end.
struct Connected {
    Listener listener;
    RavlinkContext *pc = nullptr;
    ravlink_socket_t server = RAVLINK_INVALID_SOCKET;
    explicit Connected(long timeoutMs = 2000) {
        timeval tv = timeout_ms(timeoutMs);
        pc = RavlinkToHostPort("127.0.0.1", listener.port_text().c_str(), &tv, 0, nullptr);
        if (pc != nullptr) server = listener.accept_one();
    }
    ~Connected() {
        if (pc != nullptr) RavlinkClose(pc);
        if (server != RAVLINK_INVALID_SOCKET) close_raw(server);
    }
};

TEST(SendReceive, LengthsFreadTimeOutsAndVread) {
    Connected c;
    ASSERT_NE(c.pc, nullptr) << RavlinkGetErrorString(nullptr);
    send_raw(c.server, "12345");
    char buf[100];
    timeval tv = timeout_ms(1000);
    // Length arguments are checked before the socket: neither call consumes anything.
    EXPECT_EQ(RavlinkSend(c.pc, "", 0, &tv), 1);
    EXPECT_EQ(RavlinkRecv(c.pc, buf, 0, &tv), 0);
    EXPECT_EQ(RavlinkGetRdlen(c.pc), 0);
    EXPECT_EQ(RavlinkRecv(c.pc, buf, -5, &tv), -1);
    EXPECT_STREQ(RavlinkGetErrorString(c.pc), "Negative read length requested of RavlinkRecv():  ");
    EXPECT_EQ(RavlinkRecv(c.pc, buf, 5, &tv), 0);
    EXPECT_EQ(std::memcmp(buf, "12345", 5), 0);

    // An FREAD that times out half-way fails without a code and reports no count.
    send_raw(c.server, "abcd");
    tv = timeout_ms(300);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RavlinkRecv(c.pc, buf, 10, &tv), -2);
    EXPECT_GE(seconds_since(start), 0.25);
    EXPECT_EQ(RavlinkGetRdlen(c.pc), 0);
    EXPECT_EQ(std::memcmp(buf, "abcd", 4), 0);

    // A VREAD returns what arrived, and success with no bytes when nothing does.
    EXPECT_EQ(RavlinkSetMode(c.pc, RAVLINK_VREAD), 0u);
    send_raw(c.server, std::string(30, 'v'));
    tv = timeout_ms(2000);
    EXPECT_EQ(RavlinkRecv(c.pc, buf, 100, &tv), 0);
    EXPECT_EQ(RavlinkGetRdlen(c.pc), 30);
    tv = timeout_ms(200);
    EXPECT_EQ(RavlinkRecv(c.pc, buf, 100, &tv), 0);
    EXPECT_EQ(RavlinkGetRdlen(c.pc), 0);
}

TEST(SendReceive, PeerClosingHalfWayAbortsTheRead) {
    Connected c;
    ASSERT_NE(c.pc, nullptr) << RavlinkGetErrorString(nullptr);
    send_raw(c.server, std::string(10, 'h'));
    close_raw(c.server);
    c.server = RAVLINK_INVALID_SOCKET;
    char buf[20];
    timeval tv = timeout_ms(2000);
    EXPECT_EQ(RavlinkRecv(c.pc, buf, 20, &tv), 10053);
    EXPECT_EQ(RavlinkGetRdlen(c.pc), 10);
    EXPECT_EQ(RavlinkGetErrorCode(c.pc), 10053u);
    EXPECT_NE(std::strstr(RavlinkGetErrorString(c.pc), "read_all:  remote disconnect, recv() returned 0.  "), nullptr)
        << RavlinkGetErrorString(c.pc);
}

TEST(SendReceive, PeerThatNeverReadsEndsALargeSendWithATimeOut) {
    Connected c(500); // the connect's time-out governs the send's waits
    ASSERT_NE(c.pc, nullptr) << RavlinkGetErrorString(nullptr);
    std::vector<char> big(64 * 1024 * 1024, 'x');
    timeval tv = timeout_ms(500);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RavlinkSend(c.pc, big.data(), static_cast<uint32_t>(big.size()), &tv), 0);
    EXPECT_LT(seconds_since(start), 10.0);
    EXPECT_NE(std::strstr(RavlinkGetErrorString(c.pc), "write_all:  select() timed out.  "), nullptr)
        << RavlinkGetErrorString(c.pc);
}

TEST(SendReceive, ThreadsSeeTheirOwnErrors) {
    Listener listener(AF_INET, 64);
    std::string refused = closed_port();
    std::thread server([&] {
        for (int i = 0; i < 2; ++i) {
            ravlink_socket_t s = listener.accept_one();
            send_raw(s, recv_raw(s, 8));
            close_raw(s);
        }
    });
    std::vector<std::string> failures(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            timeval tv = timeout_ms(3000);
            for (int round = 0; round < 5; ++round) {
                if (t % 4 == 0 && round == 0) { // threads 0 and 4 also echo over a connection
                    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", listener.port_text().c_str(), &tv, 0, nullptr);
                    char echo[8];
                    if (pc == nullptr || !RavlinkSend(pc, "12345678", 8, &tv) || RavlinkRecv(pc, echo, 8, &tv) != 0)
                        failures[t] = "echo failed";
                    RavlinkClose(pc);
                    continue;
                }
                // Even threads are refused by the socket, odd ones by the level check.
                RavlinkToHostPort("127.0.0.1", refused.c_str(), &tv, t % 2 == 0 ? 0 : 12 + t, nullptr);
                const char *expected = t % 2 == 0 ? "TCP connect() failed" : "Invalid Security Level requested.";
                std::this_thread::yield();
                const char *text = RavlinkGetErrorString(nullptr);
                if (std::strncmp(text, expected, std::strlen(expected)) != 0)
                    failures[t] = std::string("thread saw: ") + text;
            }
        });
    }
    for (auto &th : threads) th.join();
    server.join();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
}

} // namespace
