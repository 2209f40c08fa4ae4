// Sending and receiving over plain connections, against a peer on loopback that the test
// scripts: FREAD and VREAD, rdlen, time-outs, remote close, argument faults, threads.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback.h"

using namespace testsupport;

TEST(SendReceive, ReadsOfBothModesUntilThePeerCloses) {
    ContextPair c;
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

    // The peer closing half-way through an FREAD aborts it with what arrived.
    EXPECT_EQ(RavlinkSetMode(c.pc, RAVLINK_FREAD), 1u);
    send_raw(c.server, std::string(10, 'h'));
    close_raw(c.server);
    c.server = RAVLINK_INVALID_SOCKET;
    tv = timeout_ms(2000);
    EXPECT_EQ(RavlinkRecv(c.pc, buf, 20, &tv), 10053);
    EXPECT_EQ(RavlinkGetRdlen(c.pc), 10);
    EXPECT_EQ(RavlinkGetErrorCode(c.pc), 10053u);
    EXPECT_NE(std::strstr(RavlinkGetErrorString(c.pc), "read_all:  remote disconnect, recv() returned 0.  "), nullptr)
        << RavlinkGetErrorString(c.pc);
}

TEST(SendReceive, ThreadsSeeTheirOwnErrors) {
    Listener listener(AF_INET, 64);
    std::string refused = closed_port();
    std::vector<std::string> failures(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            timeval tv = timeout_ms(3000);
            // Threads 0 and 4 first connect; even threads are refused by the socket, odd ones by the level.
            if (t % 4 == 0) {
                RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", listener.port_text().c_str(), &tv, 0, nullptr);
                if (RavlinkClose(pc) != 1) failures[t] = "connect failed";
            }
            for (int round = 0; round < 5; ++round) {
                RavlinkToHostPort("127.0.0.1", refused.c_str(), &tv, t % 2 == 0 ? 0 : 12 + t, nullptr);
                const std::string expected = t % 2 == 0 ? "TCP connect() failed" : "Invalid Security Level requested.";
                std::this_thread::yield();
                const std::string text = RavlinkGetErrorString(nullptr);
                if (text.rfind(expected, 0) != 0) failures[t] = "thread saw: " + text;
            }
        });
    }
    for (auto &th : threads) th.join();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
}
