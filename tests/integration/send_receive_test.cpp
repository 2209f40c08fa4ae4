// Contexts over plain connections, against a peer on loopback that the test scripts: a caller's
// socket wrapped and released, null contexts, FREAD and VREAD, rdlen, time-outs, remote close,
// argument faults. (Threads that fail at once: the thread tests.)
#include <gtest/gtest.h>

#include <cstring>

#include "support/loopback.h"

using namespace testsupport;

TEST(Context, LevelZeroWrapsTheCallersSocket) {
    auto [client, server] = socket_pair();
    RavlinkContext *pc = RavlinkInitContext(client, nullptr, 0, nullptr, nullptr, nullptr, "svc/host");
    ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
    EXPECT_EQ(RavlinkGetSocketDescriptor(pc), client);
    EXPECT_EQ(RavlinkGetSecurityLevel(pc), 0);
    EXPECT_EQ(RavlinkGetSecurityType(pc), 0u);
    EXPECT_EQ(RavlinkGetMode(pc), 0u);
    EXPECT_EQ(RavlinkSetMode(pc, RAVLINK_VREAD), 0u);
    EXPECT_EQ(RavlinkSetMode(pc, RAVLINK_FREAD), 1u);
    EXPECT_EQ(RavlinkSetSecurityLevel(pc, 3), 0); // only a Kerberos connection at 2 or 3 switches
    EXPECT_EQ(RavlinkClose(pc), 1);
    char byte; // the context owned the socket: the peer sees the connection end
    EXPECT_EQ(::recv(server, &byte, 1, 0), 0);
    close_raw(server);

    auto [c, s] = socket_pair();
    for (int32_t level : {10, 11, -1, 4}) {
        EXPECT_EQ(RavlinkInitContext(c, nullptr, level, nullptr, nullptr, nullptr, nullptr), nullptr);
        EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Invalid Security level requested.");
        EXPECT_EQ(RavlinkGetErrorCode(nullptr), 0xFFFFFFFFu); // recorded with code 0
    }
    close_raw(c);
    close_raw(s);
}

TEST(Context, NullContextIsRefusedWithoutRecording) {
    RavlinkToHostPort("127.0.0.1", "1", nullptr, 4, nullptr); // leaves a known text
    char buf[4];
    EXPECT_EQ(RavlinkRecv(nullptr, buf, 4, nullptr), -1);
    EXPECT_EQ(RavlinkSend(nullptr, buf, 4, nullptr), 0);
    EXPECT_EQ(RavlinkClose(nullptr), 0);
    EXPECT_EQ(RavlinkGetSocketDescriptor(nullptr), RAVLINK_INVALID_SOCKET);
    EXPECT_EQ(RavlinkGetSecurityLevel(nullptr) | RavlinkGetRdlen(nullptr) | RavlinkSetSecurityLevel(nullptr, 3), 0);
    EXPECT_EQ(RavlinkGetSecurityType(nullptr) | RavlinkGetMode(nullptr) | RavlinkSetMode(nullptr, 1), 0u);
    EXPECT_STREQ(RavlinkGetErrorString(nullptr), "Invalid Security Level requested.");
    EXPECT_EQ(RavlinkGetVersion(nullptr), 15); // the length it would write (the text: the install test)
}

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

// Sends wait under the time-out that the connection holds, the connect's or the last receive's,
// not under their own argument; after a receive without one they wait without limit. A send that
// waited for room and then got it reports the whole length.
TEST(SendReceive, SendsWaitUnderTheTimeOutTheLastReceiveLeft) {
    timeval atConnect = timeout_ms(300);
    ContextPair c(&atConnect);
    ASSERT_NE(c.pc, nullptr) << RavlinkGetErrorString(nullptr);
    // Fill the connection while the peer does not read, with buffers of fixed size, until a pause
    // frees no room: the next send finds none.
    const ravlink_socket_t mine = RavlinkGetSocketDescriptor(c.pc);
    const int small = 16384;
    setsockopt(mine, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char *>(&small), sizeof small);
    setsockopt(c.server, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&small), sizeof small);
    const std::vector<char> chunk(65536, 'f');
    std::size_t filled = 0;
    for (int round = 0, added = 1; added > 0 && round < 100; ++round) {
        added = 0;
        for (int n; (n = ::send(mine, chunk.data(), static_cast<int>(chunk.size()), 0)) > 0;) added += n;
        filled += static_cast<std::size_t>(added);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string data(1000, 'd');
    timeval own = timeout_ms(120000);
    auto send = [&](const timeval *tv) { return RavlinkSend(c.pc, data.data(), static_cast<uint32_t>(data.size()), tv); };
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(send(&own), 0);
    EXPECT_NE(std::strstr(RavlinkGetErrorString(c.pc), "write_all:  select() timed out.  "), nullptr)
        << RavlinkGetErrorString(c.pc);
    char b;
    timeval atReceive = timeout_ms(200);
    EXPECT_NE(RavlinkRecv(c.pc, &b, 1, &atReceive), 0); // times out
    EXPECT_EQ(send(&own), 0);
    EXPECT_LT(seconds_since(start), 60.0); // neither send waited its own two minutes

    send_raw(c.server, "n");
    ASSERT_EQ(RavlinkRecv(c.pc, &b, 1, nullptr), 0);
    std::string tail; // the last bytes the peer reads
    std::size_t drained = 0;
    std::thread peer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500)); // longer than any limit above
        std::vector<char> buf(65536);
        for (int n; (n = ::recv(c.server, buf.data(), static_cast<int>(buf.size()), 0)) > 0;) {
            drained += static_cast<std::size_t>(n);
            tail.append(buf.data(), static_cast<std::size_t>(n));
            if (tail.size() > data.size()) tail.erase(0, tail.size() - data.size());
        }
    });
    timeval tiny = timeout_ms(1);
    EXPECT_EQ(send(&tiny), 1) << RavlinkGetErrorString(c.pc);
    RavlinkClose(c.pc); // the peer reads to the end
    c.pc = nullptr;
    peer.join();
    EXPECT_GE(drained, filled + data.size());
    EXPECT_EQ(tail, data);
}
