// One TLS connection failing beside healthy ones, on one thread and on several at once: each
// way a connection can fail leaves the others working, and leaves nothing in the thread's
// OpenSSL error queue for the caller's next call.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/tls_fixtures.h"
#include "tls/ssl_session.h"

#ifndef _WIN32
namespace {

using namespace testsupport;

// How the failing connection fails.
enum class Failure { Verification, HandshakeStall, PeerReset, CloseNotify };
const Failure kFailures[] = {Failure::Verification, Failure::HandshakeStall, Failure::PeerReset,
                             Failure::CloseNotify};

struct Servers {
    std::atomic<int> &cleanCloses;
    Service echo{[this](ravlink_socket_t s) {
        serve_tls(s, {}, [this](SSL *ssl) { cleanCloses += echo_until_closed(ssl); });
    }};
    Service untrusted{[](ravlink_socket_t s) { serve_tls(s, TlsTestServer::untrusted(), TlsTestServer::silent); }};
    // Accepts and never answers the client's hello.
    Service stall{[](ravlink_socket_t s) {
        limit_receives(s, 20);
        char buf[4096];
        while (::recv(s, buf, sizeof buf, 0) > 0) {
        }
    }};
    Service reset{[](ravlink_socket_t s) {
        serve_tls(s, {}, [](SSL *ssl) {
            struct linger abort = {1, 0}; // the close resets the connection
            setsockopt(SSL_get_fd(ssl), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        });
    }};
    Service closing{[](ravlink_socket_t s) { serve_tls(s, {}, [](SSL *ssl) { SSL_shutdown(ssl); }); }};

    const Service &of(Failure f) const {
        switch (f) {
        case Failure::Verification: return untrusted;
        case Failure::HandshakeStall: return stall;
        case Failure::PeerReset: return reset;
        default: return closing;
        }
    }
};

RavlinkContext *connect_tls(const Service &s, const timeval *tv) {
    SslFields f = trusting();
    RavlinkSSLconfig record = f.record();
    return RavlinkToHostPort("127.0.0.1", s.port_text().c_str(), tv, 11, reinterpret_cast<const char *>(&record));
}

// An echo round trip; empty when it worked, else what went wrong.
std::string round_trip(RavlinkContext *pc, const std::string &message) {
    timeval tv = {20, 0};
    std::string back(message.size(), '\0');
    if (RavlinkSend(pc, message.data(), static_cast<uint32_t>(message.size()), &tv) != 1)
        return std::string("send: ") + RavlinkGetErrorString(pc);
    int32_t rc = RavlinkRecv(pc, &back[0], static_cast<int32_t>(back.size()), &tv);
    if (rc != 0) return "recv " + std::to_string(rc) + ": " + RavlinkGetErrorString(pc);
    return back == message ? std::string() : "echo differs: " + back;
}

// Two healthy connections; a third fails in the given way and is closed; the two still work
// and the thread's error queue is empty after each step. Returns what went wrong, if anything.
std::string fail_one_beside_two(const Servers &servers, Failure failure, int id) {
    timeval healthy = {20, 0}, tv = {1, 0}; // only the failing connection's waits are short
    RavlinkContext *a = connect_tls(servers.echo, &healthy), *b = connect_tls(servers.echo, &healthy);
    std::string problem;
    auto check = [&](const char *step, const std::string &p) {
        if (problem.empty() && !p.empty()) problem = std::string(step) + ": " + p;
        if (problem.empty() && ERR_peek_error() != 0)
            problem = std::string(step) + ": OpenSSL error left queued: " + ERR_error_string(ERR_peek_error(), nullptr);
    };
    const std::string tag = "connection " + std::to_string(id);
    check("before", round_trip(a, tag + "a") + round_trip(b, tag + "b"));

    RavlinkContext *failing = connect_tls(servers.of(failure), &tv);
    char byte;
    bool failed;
    if (failure == Failure::Verification || failure == Failure::HandshakeStall) {
        failed = RavlinkSend(failing, "x", 1, &tv) == 0;
    } else {
        failed = RavlinkRecv(failing, &byte, 1, &tv) == -6; // the peer reset or closed after the handshake
    }
    check("failing", failed ? "" : "the connection did not fail");
    RavlinkClose(failing);
    check("after close", "");
    check("after", round_trip(a, tag + "A") + round_trip(b, tag + "B"));
    RavlinkClose(a);
    RavlinkClose(b);
    check("end", "");
    return problem;
}

TEST(TlsIsolation, AFailingConnectionLeavesTheOthersOnItsThreadAndOnOtherThreadsUnharmed) {
    if (pki_dir().empty()) GTEST_SKIP() << "the test PKI could not be made";
    const HandshakeBounds saved = s_handshakeBounds;
    s_handshakeBounds.floor = std::chrono::seconds(1); // the stall fails after 1 s, not 10
    std::atomic<int> cleanCloses{0};
    {
        Servers servers{cleanCloses};
        for (Failure f : kFailures) {
            SCOPED_TRACE("one thread, failure " + std::to_string(static_cast<int>(f)));
            EXPECT_EQ(fail_one_beside_two(servers, f, 0), "");
        }
        // Every failure at once, each on its own thread, twice over.
        std::vector<std::string> problems(8);
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&, i] { problems[i] = fail_one_beside_two(servers, kFailures[i % 4], i); });
        for (std::thread &t : threads) t.join();
        for (int i = 0; i < 8; ++i) EXPECT_EQ(problems[i], "") << "thread " << i;
    }
    s_handshakeBounds = saved;
    EXPECT_EQ(cleanCloses, 2 * (4 + 8)); // every healthy connection ended with close_notify
}

} // namespace
#endif
