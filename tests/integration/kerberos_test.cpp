// Kerberos levels 1 to 3 end to end: the library as client, a server that speaks plain GSSAPI
// (gss_accept_sec_context, gss_wrap, gss_unwrap), and the test realm's KDC. Under Wine the
// client side is Wine's Kerberos package with the host's tickets, the server the Linux tool.
#include <gtest/gtest.h>

#include "ravlink.h"
#include "support/realm.h"

namespace {

using namespace testsupport;

RavlinkContext *connect(const std::string &port, int level, const char *principal = "sedrin/localhost",
                        const char *user = nullptr, const char *password = nullptr, const char *authority = nullptr) {
    timeval tv{10, 0};
    return RavlinkLoginToHostPort("127.0.0.1", port.c_str(), &tv, level, user, password, authority, principal);
}

std::string err(RavlinkContext *pc = nullptr) { return RavlinkGetErrorString(pc); }

// Sends a message and expects it back whole.
void echo(RavlinkContext *pc, const std::string &message) {
    const timeval tv{10, 0};
    EXPECT_EQ(echo_problem(pc, message, &tv), "");
}

// What Wine's Kerberos package does not do as Windows' does: the cases that need it are skipped
// under Wine with the reason (they run on Windows and, with GSSAPI, on Linux).
constexpr const char *kWineWrap =
    "Wine's EncryptMessage lays a token out as the data followed by the rest of gss_wrap's output, a rest "
    "longer than the cbSecurityTrailer it reports (SEC_E_BUFFER_TOO_SMALL when encrypting); Windows puts the "
    "trailer first, as the library sends it and a GSSAPI peer unwraps it";
constexpr const char *kWineIdentity =
    "Wine's Kerberos package takes the user name from the identity's User field only, while the library "
    "passes it as the principal, as Windows takes it; the sign-on fails there and the library's fallback "
    "would use the host's tickets instead";
#define SKIP_UNDER_WINE(reason) \
    if (under_wine()) GTEST_SKIP() << (reason)

// Every level establishes its context with the caller's tickets, plain GSSAPI on the other side;
// level 1 then carries the caller's bytes as they are, also on a socket of the caller's.
TEST(Kerberos, ContextsAtEachLevelAndLevelOneData) {
    REQUIRE_REALM();
    for (int level : {1, 2, 3}) {
        SCOPED_TRACE(level);
        KerberosPeer peer(level);
        ASSERT_TRUE(peer.ok()) << "no Kerberos peer of level " << level;
        RavlinkContext *pc = connect(peer.port(), level, level == 3 ? nullptr : "sedrin/localhost");
        ASSERT_NE(pc, nullptr) << err();
        EXPECT_EQ(RavlinkGetSecurityLevel(pc), level);
        EXPECT_EQ(RavlinkGetSecurityType(pc), 1u);
        if (level == 1) {
            echo(pc, std::string(30000, 'p'));
            EXPECT_EQ(RavlinkSetSecurityLevel(pc, 3), 1); // only levels 2 and 3 switch
        }
        EXPECT_EQ(RavlinkClose(pc), 1);
    }
    // On a socket of the caller's: the security type is then 0.
    KerberosPeer peer(1);
    ASSERT_TRUE(peer.ok());
    ravlink_socket_t c = connect_raw(std::stoi(peer.port()));
    timeval tv{10, 0};
    RavlinkContext *pc = RavlinkInitContext(c, &tv, 1, nullptr, nullptr, nullptr, "sedrin/localhost");
    ASSERT_NE(pc, nullptr) << err();
    EXPECT_EQ(RavlinkGetSecurityLevel(pc), 1);
    EXPECT_EQ(RavlinkGetSecurityType(pc), 0u);
    echo(pc, "ping");
    RavlinkClose(pc);
    close_raw(c);
}

// Signed and encrypted messages both ways; one longer than the largest token travels in pieces.
// Level 3 goes without a principal: the target is then "sedrin", whose keys alone its server has.
TEST(Kerberos, ProtectedMessagesAtLevelsTwoAndThree) {
    REQUIRE_REALM();
    SKIP_UNDER_WINE(kWineWrap);
    std::string large(30000, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 % 251);
    for (int level : {2, 3}) {
        SCOPED_TRACE(level);
        KerberosPeer peer(level);
        ASSERT_TRUE(peer.ok()) << "no Kerberos peer of level " << level;
        RavlinkContext *pc = connect(peer.port(), level, level == 3 ? nullptr : "sedrin/localhost");
        ASSERT_NE(pc, nullptr) << err();
        echo(pc, "hello at level " + std::to_string(level));
        echo(pc, large);
        RavlinkClose(pc);
    }
}

// A login with user, password and authority, through the Ravlink class; its level-2 connection
// switches to encryption and back.
TEST(Kerberos, TheRavlinkClassWithALogin) {
    REQUIRE_REALM();
    SKIP_UNDER_WINE(kWineIdentity); // and its messages are signed and encrypted
    auto &realm = Realm::get();
    const timeval tv{10, 0};
    KerberosPeer peer(2);
    ASSERT_TRUE(peer.ok());
    Ravlink r(2, "sedrin/localhost");
    ASSERT_EQ(r.LoginAndConnectToHostPort("127.0.0.1", peer.port(), &tv, realm.user(), realm.password(),
                                          std::string("ravlink.test")), 1) << err();
    EXPECT_EQ(r.GetSecurityLevel(), 2);
    for (int level : {2, 3, 2}) {
        EXPECT_EQ(r.SetSecurityLevel(level), level);
        std::string text = "at level " + std::to_string(level), reply;
        EXPECT_EQ(r.Send(text, &tv), 1) << err();
        EXPECT_EQ(r.Receive(reply, text.size(), &tv), 0) << err();
        EXPECT_EQ(reply, text);
    }
}

#ifndef _WIN32
using tool::GssServer;

// Accepts the context with the realm's server keys and checks the level the client asked for.
void accept(GssServer &srv, int wantedLevel) {
    int level = 0;
    ASSERT_TRUE(srv.read_preamble(&level)) << srv.error();
    EXPECT_EQ(level, wantedLevel);
    ASSERT_TRUE(srv.accept_context()) << srv.error();
}

void send_wrapped(GssServer &srv, const std::string &plain, bool encrypt = true) {
    std::string tok;
    ASSERT_TRUE(srv.wrap(plain, encrypt, tok) && srv.send_frame(tok.data(), tok.size())) << srv.error();
}

// Credentials that cannot be had fail the connect before the listener is even contacted, and
// leave a caller's socket to the caller. Without tickets the host's own keys (the client keytab)
// sign on where it has them, and the failure before them is forgotten. A target the KDC does not
// know is the package's refusal, which ends a caller's socket with the context.
TEST(Kerberos, CredentialsTheHostsOwnIdentityAndAnUnknownTarget) {
    REQUIRE_REALM();
    auto &realm = Realm::get();
    Listener unused;
    EXPECT_EQ(connect(unused.port_text(), 2, "sedrin/localhost", realm.user().c_str(), "wrong", "ravlink.test"), nullptr);
    EXPECT_EQ(err().rfind("Unable to acquire credential handle.\r\nReason: (", 0), 0u) << err();
    EXPECT_NE(err().find(", 0x8009030c) The logon attempt failed ("), std::string::npos) << err();
    EXPECT_EQ(RavlinkGetErrorCode(nullptr), 0x8009030Cu); // SEC_E_LOGON_DENIED
    if (run_capture("hostname -f 2>/dev/null").find('.') == std::string::npos) {
        EXPECT_EQ(connect(unused.port_text(), 1, "sedrin", "alice", "pw"), nullptr); // a user needs a domain
        EXPECT_EQ(err().rfind("Unable to get domain name.", 0), 0u) << err();
    }

    timeval tv{10, 0};
    auto [c, s] = socket_pair();
    set_env("KRB5CCNAME", "FILE:/nonexistent/ravlink-ccache");
    EXPECT_EQ(RavlinkInitContext(c, &tv, 3, nullptr, nullptr, nullptr, "sedrin/localhost"), nullptr);
    EXPECT_EQ(err().rfind("Unable to acquire credential handle.\r\nReason: (", 0), 0u) << err();
    EXPECT_EQ(RavlinkGetErrorCode(nullptr), 0x8009030Eu); // SEC_E_NO_CREDENTIALS
    send_raw(c, "still open");
    char buf[16];
    EXPECT_EQ(::recv(s, buf, 10, MSG_WAITALL), 10);

    std::string client;
    std::thread server([&, s = s] {
        GssServer srv(s, nullptr);
        accept(srv, 1);
        client = srv.client();
    });
    set_env("KRB5_CLIENT_KTNAME", realm.vars["RAVLINK_REALM_CLIENT_KEYTAB"].c_str());
    RavlinkContext *pc = RavlinkInitContext(c, &tv, 1, nullptr, nullptr, nullptr, "sedrin");
    set_env("KRB5_CLIENT_KTNAME", nullptr);
    set_env("KRB5CCNAME", realm.vars["KRB5CCNAME"].c_str());
    server.join();
    EXPECT_NE(pc, nullptr) << err();
    EXPECT_EQ(RavlinkGetSecurityType(pc), 0u); // on a caller's socket, whatever the level
    EXPECT_EQ(client, "host/ravlink-client@" + realm.realm());
    EXPECT_EQ(err(), "");
    EXPECT_EQ(RavlinkGetErrorCode(nullptr), 0xFFFFFFFFu);
    RavlinkClose(pc);
    close_raw(s);

    auto [c2, s2] = socket_pair();
    EXPECT_EQ(RavlinkInitContext(c2, &tv, 2, nullptr, nullptr, nullptr, "nosuch/localhost"), nullptr);
    EXPECT_EQ(err().rfind("Failed to establish security context.\r\nReason: (-2146893053, 0x80090303) ", 0), 0u) << err();
    EXPECT_EQ(RavlinkGetErrorCode(nullptr), 0x80090303u); // SEC_E_TARGET_UNKNOWN
    limit_receives(s2, 10);
    EXPECT_EQ(::recv(s2, buf, 5, MSG_WAITALL), 5); // the preamble, then the end
    EXPECT_EQ(::recv(s2, buf, sizeof buf, 0), 0);
    close_raw(s2);
}

// (A server that never answers, or resets before the exchange, is one of the stress test's peers.)
TEST(Kerberos, AServerThatAnswersWithTextOrGoesAway) {
    REQUIRE_REALM();
    OneShotServer talker([](int fd) {
        GssServer raw(fd, nullptr);
        int level = 0;
        std::string first;
        ASSERT_TRUE(raw.read_preamble(&level) && raw.recv_frame(first)); // all the client sends
        const char answer[] = "HTTP/1.1 400 Bad Request\r\n\r\n";
        raw.write_raw(answer, sizeof answer - 1);
    });
    EXPECT_EQ(connect(talker.port(), 2), nullptr);
    EXPECT_EQ(err(), "Unexpected clear text received during context initialization:\n "
                     "'HTTP/1.1 400 Bad Request\r\n\r\n'\nFailed to establish security context.");
    // A server that resets the connection after the exchange: the protected frame cannot be written.
    OneShotServer gone([](int fd) {
        GssServer srv(fd, nullptr);
        accept(srv, 3);
        linger abort{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    });
    RavlinkContext *pc = connect(gone.port(), 3);
    ASSERT_NE(pc, nullptr) << err();
    gone.thread.join();
    timeval tv{10, 0};
    const std::string message(100000, 'm');
    int sent = 0;
    while (sent < 50 && RavlinkSend(pc, message.data(), static_cast<std::uint32_t>(message.size()), &tv) == 1) ++sent;
    EXPECT_LT(sent, 50);
    EXPECT_EQ(err(pc).rfind("send_token() failed:  \r\nReason: (", 0), 0u) << err(pc);
    EXPECT_NE(RavlinkGetErrorCode(pc), 0u);
    RavlinkClose(pc);
}

TEST(Kerberos, HeldDataServesFreadsAndVreadsWithoutReadingTokens) {
    REQUIRE_REALM();
    std::atomic<int> step{0};
    std::string first, second; // 100 and 50 letters
    for (int i = 0; i < 150; ++i) (i < 100 ? first : second) += static_cast<char>('A' + i % 26);
    OneShotServer server([&](int fd) {
        GssServer srv(fd, nullptr);
        accept(srv, 2);
        send_wrapped(srv, first, false);
        while (step.load() < 1) std::this_thread::yield();
        send_wrapped(srv, second, false);
        send_wrapped(srv, std::string(70, 'v'));
        while (step.load() < 2) std::this_thread::yield();
    });
    RavlinkContext *pc = connect(server.port(), 2);
    ASSERT_NE(pc, nullptr) << err();
    timeval tv{10, 0};
    char buf[64];
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(RavlinkRecv(pc, buf, 30, &tv), 0) << err(pc);
        EXPECT_EQ(std::string(buf, 30), first.substr(30 * i, 30));
    }
    step = 1; // only now is the second token on its way
    ASSERT_EQ(RavlinkRecv(pc, buf, 30, &tv), 0) << err(pc);
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

// Level 3 traffic both ways: pieces of at most the largest token, a switch to signed only and
// back, then large (signed only), empty, corrupted and unfinished tokens from the server.
TEST(Kerberos, PiecesOfTheLargestTokenAndTokensLargeEmptyCorruptedAndUnfinished) {
    REQUIRE_REALM();
    std::vector<std::pair<std::size_t, bool>> seen; // what the server unwrapped, and whether encrypted
    std::atomic<bool> done{false};
    OneShotServer server([&](int fd) {
        GssServer srv(fd, nullptr);
        accept(srv, 3);
        std::string tok, plain;
        bool encrypted = false;
        for (int i = 0; i < 5 && srv.recv_frame(tok) && srv.unwrap(tok, plain, &encrypted); ++i)
            seen.emplace_back(plain.size(), encrypted);
        send_wrapped(srv, std::string(300000, 'q'), false); // signed only, to a receiver at level 3
        ASSERT_TRUE(srv.send_frame("", 0));
        ASSERT_TRUE(srv.wrap("this token is damaged on the way", true, tok));
        tok[tok.size() / 2] ^= 0x40;
        srv.send_frame(tok.data(), tok.size());
        // Unframed tokens of the older kind (mic, wrap, delete), which crashed MIT's stream unwrap.
        for (const char *type : {"\x01\x01", "\x02\x01", "\x01\x02"}) {
            std::string raw = std::string(type, 2) + std::string(24, '\x01');
            srv.send_frame(raw.data(), raw.size());
        }
        ASSERT_TRUE(srv.recv_frame(tok) && srv.unwrap(tok, plain, &encrypted)); // the client's goodbye
        EXPECT_EQ(plain, "bye");
        const unsigned char unfinished[7] = {0, 0, 0, 100, 1, 2, 3}; // a length and a part of the body only
        ASSERT_TRUE(srv.write_raw(unfinished, 7));
        while (!done) std::this_thread::yield();
    });
    RavlinkContext *pc = connect(server.port(), 3);
    ASSERT_NE(pc, nullptr) << err();
    timeval tv{10, 0};
    std::string big(3 * 12000 + 1, 'z');
    ASSERT_EQ(RavlinkSend(pc, big.data(), static_cast<std::uint32_t>(big.size()), &tv), 1) << err(pc);
    EXPECT_EQ(RavlinkSetSecurityLevel(pc, 2), 2);
    ASSERT_EQ(RavlinkSend(pc, "signed", 6, &tv), 1) << err(pc);
    for (int32_t other : {1, 4, 0}) EXPECT_EQ(RavlinkSetSecurityLevel(pc, other), 2);
    EXPECT_EQ(RavlinkSend(pc, "", 0, &tv), 0); // sends nothing
    EXPECT_EQ(RavlinkSetSecurityLevel(pc, 3), 3);

    big.assign(300000, '\0');
    ASSERT_EQ(RavlinkRecv(pc, &big[0], 300000, &tv), 0) << err(pc);
    EXPECT_EQ(big, std::string(300000, 'q'));
    RavlinkSetMode(pc, 1); // VREAD: the empty frame gives nothing
    char buf[64];
    EXPECT_EQ(RavlinkRecv(pc, buf, 16, &tv), 0);
    EXPECT_EQ(RavlinkGetRdlen(pc), 0);
    std::int32_t result = RavlinkRecv(pc, buf, 10, &tv);
    EXPECT_EQ(static_cast<std::uint32_t>(result), RavlinkGetErrorCode(pc));
    EXPECT_EQ(static_cast<std::uint32_t>(result), 0x8009030Fu); // SEC_E_MESSAGE_ALTERED
    EXPECT_EQ(err(pc).rfind("DecryptMessage() returned error in RavlinkRecv():  \r\nReason: (", 0), 0u) << err(pc);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(RavlinkRecv(pc, buf, 10, &tv), static_cast<std::int32_t>(0x80090308u)); // SEC_E_INVALID_TOKEN
    EXPECT_EQ(RavlinkSend(pc, "bye", 3, &tv), 1);
    // The next frame never completes: the body's wait (at least four seconds) ends without a code.
    tv = {1, 0};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RavlinkRecv(pc, buf, 16, &tv), -2);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3900));
    done = true;
    RavlinkClose(pc);
    server.thread.join();
    EXPECT_EQ(seen, (std::vector<std::pair<std::size_t, bool>>{{12000, true}, {12000, true}, {12000, true}, {1, true}, {6, false}}));
}

#endif

} // namespace
