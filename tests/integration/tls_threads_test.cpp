// One TLS connection read by one thread while another writes it, from its first call on; and, in
// the Windows build, 32 threads mixing plain and TLS connections and failures, each thread seeing
// its own error texts (on Linux the thread stress test, thread_stress_test.cpp, holds that case
// among more peers).
#include <gtest/gtest.h>

#include "support/tls_fixtures.h"

namespace {

using namespace testsupport;

#ifdef _WIN32
constexpr std::size_t kMessage = 100;

// "plain:" or "tls:" with the thread and round, padded with dots: a stray record shows in it.
std::string message(const char *kind, int thread, int round) {
    std::string m = std::string(kind) + ":" + std::to_string(thread) + ":" + std::to_string(round) + ":";
    m.resize(kMessage, '.');
    return m;
}

// One connection: send the message, expect it back, close. Empty when all went well.
std::string echo_once(RavlinkContext *pc, const std::string &m) {
    if (pc == nullptr) return std::string("connect: ") + RavlinkGetErrorString(nullptr);
    const timeval tv = {10, 0};
    const std::string problem = echo_problem(pc, m, &tv);
    RavlinkClose(pc);
    return problem;
}

// Carries one connection to the TLS peer at `port` and reads the records the client sends: true
// when the last one before the client's end of stream was its close_notify.
bool relay_ends_with_alert(ravlink_socket_t client, const std::string &port) {
    ravlink_socket_t up = connect_raw(std::atoi(port.c_str()));
    std::string pending; // the client's bytes not yet a whole record
    int lastType = -1;
    std::size_t lastLength = 0;
    char buf[16384];
    for (;;) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(client, &ready);
        FD_SET(up, &ready);
        timeval limit = {20, 0};
        if (::select(0, &ready, nullptr, nullptr, &limit) <= 0) break;
        if (FD_ISSET(client, &ready)) {
            const int n = ::recv(client, buf, sizeof buf, 0);
            if (n <= 0) break;
            send_raw(up, std::string(buf, static_cast<std::size_t>(n)));
            pending.append(buf, static_cast<std::size_t>(n));
            while (pending.size() >= 5) {
                const std::size_t record = 5 + (static_cast<unsigned char>(pending[3]) << 8) +
                                           static_cast<unsigned char>(pending[4]);
                if (pending.size() < record) break;
                lastType = static_cast<unsigned char>(pending[0]);
                lastLength = record - 5;
                pending.erase(0, record);
            }
        }
        if (FD_ISSET(up, &ready)) {
            const int n = ::recv(up, buf, sizeof buf, 0);
            if (n <= 0) break; // the peer may end once it has the alert
            send_raw(client, std::string(buf, static_cast<std::size_t>(n)));
        }
    }
    close_raw(up);
    // TLS 1.3 hides the alert in an application record: 2 bytes, the inner type and a 16-byte tag.
    return pending.empty() && (lastType == 0x15 || (lastType == 0x17 && lastLength == 19));
}

// Socket handles are reused as descriptors are: a TLS session's close record written after its
// socket was closed would land in another thread's new connection. The plain peer checks each
// whole stream; TLS connections go to the Linux echo server of the test run through a relay that
// checks each ended with close_notify.
TEST(TlsThreads, ThirtyTwoThreadsMixingPlainAndTlsConnectionsKeepTheirStreamsApart) {
    TlsPeer tls(TlsPeer::Echo);
    REQUIRE_TLS_PEER(tls);
    constexpr int kThreads = 32, kRounds = 12;
    Problems problems;
    std::atomic<int> plainStreams{0}, tlsCloses{0};
    {
        Service relay([&](ravlink_socket_t s) { tlsCloses += relay_ends_with_alert(s, tls.port()); });
        Service plain([&](ravlink_socket_t s) {
            const std::string got = echo_and_collect(s);
            ++plainStreams;
            if (got.size() != kMessage || got.compare(0, 6, "plain:") != 0)
                problems.add("plain peer received " + std::to_string(got.size()) + " bytes: " + got);
        });
        const std::string refused = closed_port();
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                timeval tv = {10, 0};
                for (int r = 0; r < kRounds; ++r) {
                    std::string p;
                    switch ((t + r) % 4) {
                    case 0:
                    case 2:
                        p = echo_once(RavlinkToHostPort("127.0.0.1", plain.port_text().c_str(), &tv, 0, nullptr),
                                      message("plain", t, r));
                        break;
                    case 1:
                        p = echo_once(connect_tls(relay.port_text(), &tv), message("tls", t, r));
                        break;
                    default: { // refused by the socket or, before it, by the level: each thread sees its own text
                        const bool bySocket = t % 2 == 0;
                        RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", refused.c_str(), &tv, bySocket ? 0 : 12, nullptr);
                        const std::string text = RavlinkGetErrorString(nullptr);
                        if (pc != nullptr) p = "a refused connect returned a context";
                        else if (!starts_with(text, bySocket ? "TCP connect() failed" : "Invalid Security Level requested."))
                            p = "thread saw: " + text;
                        RavlinkClose(pc);
                    }
                    }
                    if (!p.empty()) problems.add("thread " + std::to_string(t) + " round " + std::to_string(r) + ": " + p);
                }
            });
        }
        for (std::thread &t : threads) t.join();
    } // the peers have checked every stream
    EXPECT_EQ(problems.summary(), "");
    EXPECT_EQ(plainStreams, kThreads * kRounds / 2);
    EXPECT_EQ(tlsCloses, kThreads * kRounds / 4); // each TLS connection said close_notify before its end
}
#endif

// The byte at an offset of the stream each direction carries.
unsigned char pattern(std::uint64_t offset) { return static_cast<unsigned char>(offset * 131 + (offset >> 20)); }

TEST(TlsThreads, OneThreadReadsWhileAnotherWritesFromTheFirstCallOn) {
    TlsPeer tls(TlsPeer::Echo);
    REQUIRE_TLS_PEER(tls);
    constexpr std::uint64_t kChunk = 64 * 1024;
    // A fresh connection each round, both threads starting at once; the first round moves
    // 100 MB each way.
    for (std::uint64_t total : {100ull << 20, 1ull << 20, 1ull << 20, 1ull << 20}) {
        SCOPED_TRACE(total);
        timeval tv = {30, 0};
        RavlinkContext *pc = connect_tls(tls.port(), &tv);
        ASSERT_NE(pc, nullptr) << RavlinkGetErrorString(nullptr);
        std::atomic<int> ready{0};
        std::string writeProblem, readProblem;
        std::thread writer([&] {
            std::vector<unsigned char> chunk(kChunk);
            for (++ready; ready < 2;) {
            }
            for (std::uint64_t at = 0; at < total; at += kChunk) {
                for (std::uint64_t i = 0; i < kChunk; ++i) chunk[i] = pattern(at + i);
                if (RavlinkSend(pc, chunk.data(), kChunk, &tv) != 1) {
                    writeProblem = "send at " + std::to_string(at) + ": " + RavlinkGetErrorString(pc);
                    return;
                }
            }
        });
        std::thread reader([&] {
            std::vector<unsigned char> chunk(kChunk);
            for (++ready; ready < 2;) {
            }
            for (std::uint64_t at = 0; at < total; at += kChunk) {
                int32_t rc = RavlinkRecv(pc, chunk.data(), static_cast<int32_t>(kChunk), &tv);
                if (rc != 0) {
                    readProblem = "recv " + std::to_string(rc) + " at " + std::to_string(at) + ": " +
                                  RavlinkGetErrorString(pc);
                    return;
                }
                for (std::uint64_t i = 0; i < kChunk; ++i)
                    if (chunk[i] != pattern(at + i)) {
                        readProblem = "byte " + std::to_string(at + i) + " differs";
                        return;
                    }
            }
        });
        writer.join();
        reader.join();
        EXPECT_EQ(writeProblem, "");
        EXPECT_EQ(readProblem, "");
        RavlinkClose(pc);
    }
}

} // namespace
