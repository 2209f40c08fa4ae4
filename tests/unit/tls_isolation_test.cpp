// One TLS connection failing beside healthy ones, on one thread and on several at once: each
// way a connection can fail leaves the others working, and leaves nothing in the thread's
// OpenSSL error queue for the caller's next call.
#include <gtest/gtest.h>

#include "support/tls_fixtures.h"
#include "tls/ssl_session.h"

#ifndef _WIN32
namespace {

using namespace testsupport;

// How the failing connection fails: the index of its server.
enum Failure { Verification, HandshakeStall, PeerReset, CloseNotify };

struct Servers {
    std::atomic<int> &cleanCloses;
    Service echo{[this](ravlink_socket_t s) {
        serve_tls(s, {}, [this](SSL *ssl) { cleanCloses += echo_until_closed(ssl); });
    }};
    Service untrusted{[](ravlink_socket_t s) { serve_tls(s, TlsTestServer::untrusted(), TlsTestServer::silent); }};
    // Accepts and never answers the client's hello.
    Service stall{drain};
    Service reset{[](ravlink_socket_t s) {
        serve_tls(s, {}, [](SSL *ssl) {
            struct linger abort = {1, 0}; // the close resets the connection
            setsockopt(SSL_get_fd(ssl), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        });
    }};
    Service closing{[](ravlink_socket_t s) { serve_tls(s, {}, [](SSL *ssl) { SSL_shutdown(ssl); }); }};
    const Service *failing[4] = {&untrusted, &stall, &reset, &closing};
};

// Two healthy connections; a third fails in the given way and is closed; the two still work
// and the thread's error queue is empty after each step. Returns what went wrong, if anything.
std::string fail_one_beside_two(const Servers &servers, int failure, int id) {
    timeval healthy = {20, 0}, tv = {1, 0}; // only the failing connection's waits are short
    RavlinkContext *a = connect_tls(servers.echo.port_text(), &healthy), *b = connect_tls(servers.echo.port_text(), &healthy);
    std::string problem;
    auto check = [&](const char *step, const std::string &p) {
        if (problem.empty() && !p.empty()) problem = std::string(step) + ": " + p;
        if (problem.empty() && ERR_peek_error() != 0)
            problem = std::string(step) + ": OpenSSL error left queued: " + ERR_error_string(ERR_peek_error(), nullptr);
    };
    const std::string tag = "connection " + std::to_string(id);
    check("before", echo_problem(a, tag + "a", &healthy) + echo_problem(b, tag + "b", &healthy));

    RavlinkContext *pc = connect_tls(servers.failing[failure]->port_text(), &tv);
    char byte; // a reset or a close after the handshake fails the read
    const bool failed = failure == Verification || failure == HandshakeStall ? RavlinkSend(pc, "x", 1, &tv) == 0
                                                                             : RavlinkRecv(pc, &byte, 1, &tv) == -6;
    check("failing", failed ? "" : "the connection did not fail");
    RavlinkClose(pc);
    check("after close", "");
    check("after", echo_problem(a, tag + "A", &healthy) + echo_problem(b, tag + "B", &healthy));
    RavlinkClose(a);
    RavlinkClose(b);
    check("end", "");
    return problem;
}

TEST(TlsIsolation, AFailingConnectionLeavesTheOthersOnItsThreadAndOnOtherThreadsUnharmed) {
    REQUIRE_PKI();
    const HandshakeBounds saved = s_handshakeBounds;
    s_handshakeBounds.floor = std::chrono::seconds(1); // the stall fails after 1 s, not 10
    std::atomic<int> cleanCloses{0};
    {
        Servers servers{cleanCloses};
        for (int f : {Verification, HandshakeStall, PeerReset, CloseNotify})
            EXPECT_EQ(fail_one_beside_two(servers, f, 0), "") << "one thread, failure " << f;
        // Every failure at once, each on its own thread, twice over.
        std::vector<std::string> problems(8);
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { problems[i] = fail_one_beside_two(servers, i % 4, i); });
        for (std::thread &t : threads) t.join();
        for (int i = 0; i < 8; ++i) EXPECT_EQ(problems[i], "") << "thread " << i;
    }
    s_handshakeBounds = saved;
    EXPECT_EQ(cleanCloses, 2 * (4 + 8)); // every healthy connection ended with close_notify
}

} // namespace
#endif
