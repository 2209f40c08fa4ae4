// 32 threads at once connect, echo and fail (refused, reset, time-out, verification) at levels
// 0, 3 and 11 against real peers on loopback, with a trace file on. Each thread must see only
// its own error texts, no TLS record may reach a plain connection (the plain peer checks each
// whole stream), every TLS peer sees close_notify, and no trace record may be cut into by
// another. The ThreadSanitizer build (scripts/test.sh) runs this test for data races.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <cstring>

#include "ravlink/gss_server.h"
#include "support/realm.h"
#include "support/tls_fixtures.h"

namespace {

using namespace testsupport;

// What the peers saw, read once they have finished.
struct Tally {
    Problems problems;
    std::atomic<int> tlsCloses{0}, cleanTlsCloses{0};
};

struct Peers {
    explicit Peers(Tally &t) : tally(t) {}
    Tally &tally;
    // Reads until the client closes, echoing, and checks the whole stream is one plain message.
    Service plain{[this](ravlink_socket_t s) {
        const std::string got = echo_and_collect(s);
        const std::string tail = " at level 0";
        if (!got.empty() && (got.rfind("thread ") != 0 || got.find(tail) != got.size() - tail.size()))
            tally.problems.add("plain peer received: " + got);
    }};
    Service tls{[this](ravlink_socket_t s) {
        serve_tls(s, {}, [this](SSL *ssl) { tally.cleanTlsCloses += echo_until_closed(ssl); });
    }};
    Service silentTls{[](ravlink_socket_t s) {
        serve_tls(s, {}, [](SSL *ssl) {
            char b;
            while (SSL_read(ssl, &b, 1) > 0) {
            }
        });
    }};
    Service untrusted{[](ravlink_socket_t s) { serve_tls(s, TlsTestServer::untrusted(), TlsTestServer::echo); }};
    Service kerberos{[](ravlink_socket_t s) { tool::serve_kerberos_connection(s, 3, nullptr, false); }};
    // Resets every connection (linger 0), or holds it in silence until the client goes.
    Service reset{[](ravlink_socket_t s) {
        linger l{1, 0};
        ::setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }};
    Service silent{drain};
    std::string refused = closed_port();
};

RavlinkContext *connect(const std::string &port, int level, long ms) {
    timeval tv = timeout_ms(ms);
    if (level == 11) return connect_tls(port, &tv);
    return RavlinkLoginToHostPort("127.0.0.1", port.c_str(), &tv, level, nullptr, nullptr, nullptr,
                                  level == 3 ? "sedrin/localhost" : nullptr);
}

// One scenario on one thread; "" when everything came out as expected, else what went wrong.
std::string run(Peers &p, int scenario, int level, int thread) {
    const std::string mine = "thread " + std::to_string(thread) + " says hello at level " + std::to_string(level);
    timeval tv = timeout_ms(10000);
    auto text = [](RavlinkContext *pc) { return std::string(RavlinkGetErrorString(pc)); };
    auto expect_in = [&](RavlinkContext *pc, const std::string &fragment) -> std::string {
        if (text(nullptr).find(fragment) == std::string::npos) return "thread text: " + text(nullptr);
        if (pc != nullptr && text(pc).find(fragment) == std::string::npos) return "connection text: " + text(pc);
        return "";
    };
    switch (scenario) {
    case 0: { // echo
        const std::string port = level == 0 ? p.plain.port_text() : level == 3 ? p.kerberos.port_text() : p.tls.port_text();
        RavlinkContext *pc = connect(port, level, 10000);
        if (pc == nullptr) return "connect: " + text(nullptr);
        const std::string r = echo_problem(pc, mine, &tv);
        RavlinkClose(pc);
        p.tally.tlsCloses += level == 11;
        return r;
    }
    case 1: // refused
        if (connect(p.refused, level, 10000) != nullptr) return "a refused connect succeeded";
        return expect_in(nullptr, "TCP connect() failed");
    case 2: { // reset by the peer, before any data (and, at level 3, before the context)
        // The reset may already meet the connect's own wait.
        RavlinkContext *pc = connect(p.reset.port_text(), level, 10000);
        if (pc == nullptr && expect_in(nullptr, "(10054, 0x2746)").empty()) return "";
        if (level == 3) return pc != nullptr ? "a reset context exchange succeeded" : expect_in(nullptr, "Failed to establish security context.");
        if (pc == nullptr) return "connect: " + text(nullptr);
        char buf[8];
        std::string r;
        if (level == 0)
            r = RavlinkRecv(pc, buf, 8, &tv) == 0 ? "a read from a reset peer succeeded" : expect_in(pc, "read_all:  re");
        else
            r = RavlinkSend(pc, "x", 1, &tv) == 1 ? "a send to a reset peer succeeded" : expect_in(pc, "SSL");
        RavlinkClose(pc);
        return r;
    }
    case 3: { // a silent peer: the receive, or the context exchange, runs out of time
        RavlinkContext *pc = connect(level == 11 ? p.silentTls.port_text() : p.silent.port_text(), level, 1000);
        if (level == 3) return pc != nullptr ? "a silent context exchange succeeded" : expect_in(nullptr, "Failed to establish security context.");
        if (pc == nullptr) return "connect: " + text(nullptr);
        char buf[8];
        timeval shortWait = timeout_ms(300);
        int32_t rc = RavlinkRecv(pc, buf, 8, &shortWait);
        std::string r;
        // A time-out records nothing (the texts then fall back to the library-wide one).
        if (level == 0)
            r = rc != -2 || RavlinkGetErrorCode(pc) != 0 ? "a plain time-out returned " + std::to_string(rc) : "";
        else
            r = rc != -1 || RavlinkGetErrorCode(pc) != 0xFFFFFFFFu ? "a TLS time-out returned " + std::to_string(rc) : "";
        RavlinkClose(pc);
        return r;
    }
    default: { // a TLS server that the configuration does not trust
        RavlinkContext *pc = connect(p.untrusted.port_text(), 11, 10000);
        if (pc == nullptr) return "connect: " + text(nullptr);
        std::string r = RavlinkSend(pc, "x", 1, &tv) == 1 ? "an untrusted server was accepted" : expect_in(pc, "certificate verify failed");
        RavlinkClose(pc);
        return r;
    }
    }
}

TEST(ThreadStress, ThirtyTwoThreadsConnectEchoAndFailAtLevelsZeroThreeAndEleven) {
    REQUIRE_REALM();
    REQUIRE_PKI();
    Tally tally;
    auto peers = std::make_unique<Peers>(tally);
    const std::string traceFile = "/tmp/ravlink-stress-" + std::to_string(::getpid()) + ".trace";
    char *saved = RavlinkTraceFile;
    RavlinkTraceFile = strdup(traceFile.c_str()); // the library frees it at unload
    const int savedLevel = QXNTracefileLogLevel;
    QXNTracefileLogLevel = 4;

    constexpr int kThreads = 32, kRounds = 5, kLevels[] = {0, 3, 11};
    std::vector<std::string> failures(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds && failures[t].empty(); ++round) {
                const int scenario = (t + round) % 5, level = scenario == 4 ? 11 : kLevels[(t / 5 + round) % 3];
                std::string r = run(*peers, scenario, level, t);
                if (!r.empty()) failures[t] = "scenario " + std::to_string(scenario) + " at level " + std::to_string(level) + ": " + r;
            }
        });
    for (auto &th : threads) th.join();
    free(RavlinkTraceFile);
    RavlinkTraceFile = saved;
    QXNTracefileLogLevel = savedLevel;
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
    peers.reset(); // the peers finish their sessions
    EXPECT_EQ(tally.problems.summary(), "");
    EXPECT_GT(tally.tlsCloses, 0);
    EXPECT_EQ(tally.cleanTlsCloses, tally.tlsCloses); // each echoing TLS peer saw close_notify

    // Every record starts a line with its header; a header anywhere else is a record cut into.
    std::stringstream all;
    all << std::ifstream(traceFile, std::ios::binary).rdbuf();
    std::remove(traceFile.c_str());
    const std::string trace = all.str();
    std::size_t headers = 0, misplaced = 0;
    for (std::size_t at = trace.find("pid = "); at != std::string::npos; at = trace.find("pid = ", at + 1)) {
        ++headers;
        if (at == 0 || trace[at - 1] != '\n') ++misplaced;
    }
    EXPECT_GT(headers, 500u);
    EXPECT_EQ(misplaced, 0u);
}

} // namespace

#endif
