// Kerberos levels 1 to 3 end to end: the library as client, a server that speaks plain GSSAPI
// (gss_accept_sec_context, gss_wrap, gss_unwrap), and the test realm's KDC.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ravlink.h"
#include "ravlink/gss_server.h"
#include "support/loopback.h"
#include "support/realm.h"

namespace {

using ravlink_tool::GssServer;

constexpr std::uint32_t kSecELogonDenied = 0x8009030C;

// A server on a loopback port that runs `body` on the first connection, in its own thread.
struct Server {
    testsupport::Listener listener;
    std::thread thread;
    explicit Server(std::function<void(int fd)> body) {
        thread = std::thread([this, body] {
            int fd = listener.accept_one();
            body(fd);
            ::close(fd);
        });
    }
    ~Server() {
        if (thread.joinable()) thread.join();
    }
    std::string port() const { return listener.port_text(); }
};

// Accepts the context with the realm's server keys and checks what the client asked for.
void accept(GssServer &srv, int wantedLevel) {
    int level = 0;
    ASSERT_TRUE(srv.read_preamble(&level)) << srv.error();
    EXPECT_EQ(level, wantedLevel);
    ASSERT_TRUE(srv.accept_context()) << srv.error();
}

void send_wrapped(GssServer &srv, const std::string &plain, bool encrypt = true) {
    std::string tok;
    ASSERT_TRUE(srv.wrap(plain, encrypt, tok)) << srv.error();
    ASSERT_TRUE(srv.send_frame(tok.data(), tok.size())) << srv.error();
}

RavlinkContext *connect(const std::string &port, int level, const char *principal = "sedrin/localhost",
                        const char *user = nullptr, const char *password = nullptr, const char *authority = nullptr,
                        long seconds = 10) {
    timeval tv{seconds, 0};
    return RavlinkLoginToHostPort("127.0.0.1", port.c_str(), &tv, level, user, password, authority, principal);
}

std::string error_text(RavlinkContext *pc = nullptr) { return RavlinkGetErrorString(pc); }

TEST(Kerberos, EchoAtEachLevelWithAPlainGssapiServer) {
    REQUIRE_REALM();
    for (int level : {1, 2, 3}) {
        SCOPED_TRACE(level);
        Server server([level](int fd) { EXPECT_EQ(ravlink_tool::serve_kerberos_connection(fd, level, nullptr, false), 0); });
        RavlinkContext *pc = connect(server.port(), level);
        ASSERT_NE(pc, nullptr) << error_text();
        EXPECT_EQ(RavlinkGetSecurityLevel(pc), level);
        EXPECT_EQ(RavlinkGetSecurityType(pc), 1u);
        std::string message = "hello at level " + std::to_string(level);
        timeval tv{10, 0};
        ASSERT_EQ(RavlinkSend(pc, message.data(), static_cast<std::uint32_t>(message.size()), &tv), 1) << error_text(pc);
        std::string back(message.size(), '\0');
        ASSERT_EQ(RavlinkRecv(pc, &back[0], static_cast<std::int32_t>(back.size()), &tv), 0) << error_text(pc);
        EXPECT_EQ(back, message);
        EXPECT_EQ(RavlinkClose(pc), 1);
    }
}

TEST(Kerberos, PreambleAndTheDefaultTarget) {
    REQUIRE_REALM();
    // Only the keys of "sedrin" itself: a connect without principal must ask for exactly that.
    std::string keytab = testsupport::Realm::get().value("RAVLINK_REALM_PASSWORD_FILE");
    keytab = keytab.substr(0, keytab.rfind('/')) + "/sedrin.keytab";
    unsigned char preamble[5] = {};
    Server server([&](int fd) {
        GssServer srv(fd, keytab.c_str());
        ASSERT_EQ(::recv(fd, preamble, 5, MSG_WAITALL), 5);
        EXPECT_TRUE(srv.accept_context()) << srv.error();
    });
    RavlinkContext *pc = connect(server.port(), 3, nullptr);
    ASSERT_NE(pc, nullptr) << error_text();
    server.thread.join();
    EXPECT_EQ(std::string(reinterpret_cast<char *>(preamble), 5), std::string("\x00\x00\x7f\x01\x03", 5));
    RavlinkClose(pc);
}

TEST(Kerberos, UserAndPassword) {
    REQUIRE_REALM();
    auto &realm = testsupport::Realm::get();
    std::string user = realm.user(), password = realm.password();
    std::string client;
    Server server([&](int fd) {
        GssServer srv(fd, nullptr);
        accept(srv, 2);
        client = srv.client();
    });
    RavlinkContext *pc = connect(server.port(), 2, "sedrin/localhost", user.c_str(), password.c_str(), "ravlink.test");
    ASSERT_NE(pc, nullptr) << error_text();
    server.thread.join();
    EXPECT_EQ(client, user + "@" + realm.realm());
    RavlinkClose(pc);

    // A wrong password: nothing connects (the listener is not even contacted).
    testsupport::Listener unused;
    pc = connect(unused.port_text(), 2, "sedrin/localhost", user.c_str(), "wrong", "ravlink.test");
    EXPECT_EQ(pc, nullptr);
    EXPECT_EQ(error_text().rfind("Unable to acquire credential handle.\r\nReason: (", 0), 0u) << error_text();
    EXPECT_EQ(RavlinkGetErrorCode(nullptr), kSecELogonDenied);
}

TEST(Kerberos, AUserWithoutAuthorityNeedsTheComputersDomain) {
    REQUIRE_REALM();
    std::string full = testsupport::run_capture("hostname -f 2>/dev/null");
    if (full.find('.') != std::string::npos) GTEST_SKIP() << "this computer is in a DNS domain";
    testsupport::Listener unused;
    RavlinkContext *pc = connect(unused.port_text(), 1, "sedrin", "alice", "pw", nullptr);
    EXPECT_EQ(pc, nullptr);
    EXPECT_EQ(error_text().rfind("Unable to get domain name.", 0), 0u) << error_text();
}

TEST(Kerberos, AServerThatAnswersWithTextOrNotAtAll) {
    REQUIRE_REALM();
    {
        Server server([](int fd) {
            GssServer raw(fd, nullptr);
            int level = 0;
            std::string first;
            ASSERT_TRUE(raw.read_preamble(&level) && raw.recv_frame(first)); // all the client sends
            const char answer[] = "HTTP/1.1 400 Bad Request\r\n\r\n";
            (void)::send(fd, answer, sizeof answer - 1, 0);
        });
        RavlinkContext *pc = connect(server.port(), 2);
        EXPECT_EQ(pc, nullptr);
        EXPECT_EQ(error_text(), "Unexpected clear text received during context initialization:\n "
                                "'HTTP/1.1 400 Bad Request\r\n\r\n'\nFailed to establish security context.");
    }
    {
        std::atomic<bool> closed{false};
        Server server([&](int fd) {
            char buf[4096];
            // Read what comes and never answer, until the client gives up and closes.
            while (::recv(fd, buf, sizeof buf, 0) > 0) {
            }
            closed = true;
        });
        RavlinkContext *pc = connect(server.port(), 2, "sedrin/localhost", nullptr, nullptr, nullptr, 1);
        EXPECT_EQ(pc, nullptr);
        server.thread.join();
        EXPECT_TRUE(closed);
        EXPECT_NE(error_text().find("Failed to establish security context."), std::string::npos) << error_text();
    }
}

TEST(Kerberos, HeldDataServesFreadsAndVreadsWithoutReadingTokens) {
    REQUIRE_REALM();
    std::atomic<int> step{0};
    std::string first(100, '\0'), second(50, '\0');
    for (int i = 0; i < 100; ++i) first[i] = static_cast<char>('A' + i % 26);
    for (int i = 0; i < 50; ++i) second[i] = static_cast<char>('a' + i % 26);
    Server server([&](int fd) {
        GssServer srv(fd, nullptr);
        accept(srv, 2);
        send_wrapped(srv, first, false);
        while (step.load() < 1) std::this_thread::yield();
        send_wrapped(srv, second, false);
        send_wrapped(srv, std::string(70, 'v'));
        while (step.load() < 2) std::this_thread::yield();
    });
    RavlinkContext *pc = connect(server.port(), 2);
    ASSERT_NE(pc, nullptr) << error_text();
    timeval tv{10, 0};
    char buf[64];
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(RavlinkRecv(pc, buf, 30, &tv), 0) << error_text(pc);
        EXPECT_EQ(std::string(buf, 30), first.substr(30 * i, 30));
    }
    step = 1; // only now is the second token on its way
    ASSERT_EQ(RavlinkRecv(pc, buf, 30, &tv), 0) << error_text(pc);
    EXPECT_EQ(std::string(buf, 30), first.substr(90, 10) + second.substr(0, 20));
    ASSERT_EQ(RavlinkRecv(pc, buf, 30, &tv), 0); // the rest of the second token
    EXPECT_EQ(std::string(buf, 30), second.substr(20, 30));

    RavlinkSetMode(pc, 1); // VREAD
    ASSERT_EQ(RavlinkRecv(pc, buf, 50, &tv), 0);
    EXPECT_EQ(RavlinkGetRdlen(pc), 50);
    timeval shortWait{0, 200000};
    ASSERT_EQ(RavlinkRecv(pc, buf, 50, &shortWait), 0); // held data only: no token is waited for
    EXPECT_EQ(RavlinkGetRdlen(pc), 20);
    EXPECT_EQ(std::string(buf, 20), std::string(20, 'v'));
    step = 2;
    RavlinkClose(pc);
}

TEST(Kerberos, PiecesOfAtMostTheLargestTokenAndASwitchToSignedOnly) {
    REQUIRE_REALM();
    std::vector<std::pair<std::size_t, bool>> seen;
    Server server([&](int fd) {
        GssServer srv(fd, nullptr);
        accept(srv, 3);
        std::string tok, plain;
        bool encrypted = false;
        while (srv.recv_frame(tok)) {
            ASSERT_TRUE(srv.unwrap(tok, plain, &encrypted)) << srv.error();
            seen.emplace_back(plain.size(), encrypted);
        }
    });
    RavlinkContext *pc = connect(server.port(), 3);
    ASSERT_NE(pc, nullptr) << error_text();
    timeval tv{10, 0};
    const std::size_t piece = 12000;
    std::string big(3 * piece + 1, 'z');
    ASSERT_EQ(RavlinkSend(pc, big.data(), static_cast<std::uint32_t>(big.size()), &tv), 1) << error_text(pc);
    EXPECT_EQ(RavlinkSetSecurityLevel(pc, 2), 2);
    ASSERT_EQ(RavlinkSend(pc, "signed", 6, &tv), 1) << error_text(pc);
    EXPECT_EQ(RavlinkSetSecurityLevel(pc, 1), 2);
    EXPECT_EQ(RavlinkSend(pc, "", 0, &tv), 0);
    RavlinkClose(pc);
    server.thread.join();
    std::vector<std::pair<std::size_t, bool>> expected = {{piece, true}, {piece, true}, {piece, true}, {1, true}, {6, false}};
    EXPECT_EQ(seen, expected);
}

TEST(Kerberos, LargeTokensAndACorruptedOne) {
    REQUIRE_REALM();
    Server server([&](int fd) {
        GssServer srv(fd, nullptr);
        accept(srv, 3);
        send_wrapped(srv, std::string(300000, 'q'));
        std::string tok;
        ASSERT_TRUE(srv.wrap("this token is damaged on the way", true, tok));
        tok[tok.size() / 2] ^= 0x40;
        srv.send_frame(tok.data(), tok.size());
        ASSERT_TRUE(srv.recv_frame(tok)); // the client's goodbye
    });
    RavlinkContext *pc = connect(server.port(), 3);
    ASSERT_NE(pc, nullptr) << error_text();
    timeval tv{10, 0};
    std::string big(300000, '\0');
    ASSERT_EQ(RavlinkRecv(pc, &big[0], 300000, &tv), 0) << error_text(pc);
    EXPECT_EQ(big, std::string(300000, 'q'));
    char buf[64];
    std::int32_t result = RavlinkRecv(pc, buf, 10, &tv);
    EXPECT_EQ(static_cast<std::uint32_t>(result), RavlinkGetErrorCode(pc));
    EXPECT_EQ(static_cast<std::uint32_t>(result), 0x8009030Fu); // kSecMessageAltered
    EXPECT_EQ(error_text(pc).rfind("DecryptMessage() returned error in RavlinkRecv():  \r\nReason: (", 0), 0u)
        << error_text(pc);
    EXPECT_EQ(RavlinkSend(pc, "bye", 3, &tv), 1);
    RavlinkClose(pc);
}

TEST(Kerberos, ProtectedReceiveTimeoutsAndEmptyFrames) {
    REQUIRE_REALM();
    std::atomic<int> step{0};
    Server server([&](int fd) {
        GssServer srv(fd, nullptr);
        accept(srv, 2);
        ASSERT_TRUE(srv.send_frame("", 0)); // an empty frame
        std::string tok;
        ASSERT_TRUE(srv.wrap("late", false, tok));
        const unsigned char length[4] = {0, 0, 0, static_cast<unsigned char>(tok.size())};
        ASSERT_TRUE(srv.write_raw(length, 4) && srv.write_raw(tok.data(), 3)); // a part of the body only
        while (step.load() < 1) std::this_thread::yield();
    });
    RavlinkContext *pc = connect(server.port(), 2);
    ASSERT_NE(pc, nullptr) << error_text();
    RavlinkSetMode(pc, 1);
    timeval tv{1, 0};
    char buf[16];
    EXPECT_EQ(RavlinkRecv(pc, buf, 16, &tv), 0);
    EXPECT_EQ(RavlinkGetRdlen(pc), 0);
    // The next frame never completes: the body's wait (at least four seconds) ends without a code.
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RavlinkRecv(pc, buf, 16, &tv), -2);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3900));
    step = 1;
    RavlinkClose(pc);
}

TEST(Kerberos, InitContextOnAConnectedSocket) {
    REQUIRE_REALM();
    testsupport::Listener listener;
    std::thread server([&] {
        int fd = listener.accept_one();
        EXPECT_EQ(ravlink_tool::serve_kerberos_connection(fd, 2, nullptr, false), 0);
        ::close(fd);
    });
    ravlink_socket_t c = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<unsigned short>(listener.port));
    ASSERT_EQ(::connect(c, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    timeval tv{10, 0};
    RavlinkContext *pc = RavlinkInitContext(c, &tv, 2, nullptr, nullptr, nullptr, "sedrin/localhost");
    ASSERT_NE(pc, nullptr) << error_text();
    EXPECT_EQ(RavlinkGetSecurityLevel(pc), 2);
    EXPECT_EQ(RavlinkGetSecurityType(pc), 0u);
    ASSERT_EQ(RavlinkSend(pc, "ping", 4, &tv), 1);
    char buf[4];
    ASSERT_EQ(RavlinkRecv(pc, buf, 4, &tv), 0) << error_text(pc);
    EXPECT_EQ(std::string(buf, 4), "ping");
    RavlinkClose(pc);
    server.join();
}

} // namespace

#else

TEST(Kerberos, Skipped) {
    GTEST_SKIP() << "Wine's SSPI does not accept the identity form this library uses; no Kerberos under Wine";
}

#endif
