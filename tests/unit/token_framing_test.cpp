// Token framing over a real socket pair: frames, buffer reuse, the limits, clear text, time-outs.
#include <gtest/gtest.h>

#include "core/context.h"
#include "diag/error_state.h"
#include "kerberos/token_framing.h"
#include "support/loopback.h"

namespace {

struct Framing : ::testing::Test {
    RavlinkContext *pc = nullptr;
    ravlink_socket_t peer = RAVLINK_INVALID_SOCKET;

    void SetUp() override {
        auto [c, s] = testsupport::socket_pair();
        pc = s_allocContext();
        pc->socket = c;
        plat::set_nonblocking(c, true);
        peer = s;
        s_clearError();
    }
    void TearDown() override {
        std::free(pc->recvToken.value);
        plat::close_socket(pc->socket);
        std::free(pc->errorText);
        std::free(pc->principal);
        std::free(pc);
        testsupport::close_raw(peer);
    }
    void peer_send(const std::string &b) { ASSERT_EQ(::send(peer, b.data(), static_cast<int>(b.size()), 0), static_cast<int>(b.size())); }
    // A frame's length bytes, and a body after them.
    static std::string frame(std::uint32_t n, const std::string &body = "") {
        return std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                           static_cast<char>(n)} + body;
    }
    std::string received() const { return std::string(reinterpret_cast<char *>(pc->recvToken.value), pc->recvToken.length); }
    static std::string error_text() { return RavlinkErrorArray; }
};

TEST_F(Framing, FramesRoundTripAndTheBufferIsReused) {
    SendToken empty{0, nullptr};
    std::string body = "0123456789";
    SendToken tok{static_cast<std::uint32_t>(body.size()), &body[0]};
    ASSERT_EQ(send_token(pc, &empty), 0);
    ASSERT_EQ(send_token(pc, &tok), 0);
    char raw[18];
    ASSERT_EQ(::recv(peer, raw, 18, MSG_WAITALL), 18);
    EXPECT_EQ(std::string(raw, 18), frame(0) + frame(10, body));

    // The buffer is kept for an empty frame and one of the same size, and grows for a longer one.
    peer_send(frame(10, body) + frame(0) + frame(10, "abcdefghij") + frame(11, "abcdefghijk"));
    ASSERT_EQ(recv_token(pc, &pc->recvToken), 0);
    EXPECT_EQ(received(), body);
    unsigned char *buffer = pc->recvToken.value;
    for (const char *text : {"", "abcdefghij"}) {
        ASSERT_EQ(recv_token(pc, &pc->recvToken), 0);
        EXPECT_EQ(received(), text);
        EXPECT_EQ(pc->recvToken.value, buffer);
    }
    ASSERT_EQ(recv_token(pc, &pc->recvToken), 0);
    EXPECT_EQ(pc->recvToken.capacity, 11);
    EXPECT_EQ(received(), "abcdefghijk");
}

TEST_F(Framing, ClearTextBeforeTheContextIsReportedWithItsFirstCharacters) {
    const std::string prefix = "Unexpected clear text received during context initialization:\n '";
    peer_send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(recv_token(pc, &pc->recvToken), -1);
    EXPECT_EQ(error_text(), prefix + "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n'");
    EXPECT_EQ(dwConnectionError, 0u);
    peer_send(std::string(2000, 'x')); // at most 511 characters are shown
    EXPECT_EQ(recv_token(pc, &pc->recvToken), -1);
    EXPECT_EQ(error_text(), prefix + std::string(511, 'x') + "'");
}

TEST_F(Framing, LengthLimitsOnceTheContextExists) {
    pc->sizes.cbMaxToken = 12000;
    timeval tv{30, 0};
    s_installTimeout(pc, &tv);
    for (std::uint32_t n : {300000u, 999999u}) {
        std::thread writer([&] { peer_send(frame(n, std::string(n, 'a'))); });
        EXPECT_EQ(recv_token(pc, &pc->recvToken), 0);
        writer.join();
        EXPECT_EQ(pc->recvToken.length, static_cast<std::int32_t>(n));
        EXPECT_EQ(pc->recvToken.value[n - 1], 'a');
    }
    // Too long, or with the top bit set: refused at once, without waiting for a body.
    auto start = std::chrono::steady_clock::now();
    peer_send(frame(1000000, "tail"));
    EXPECT_EQ(recv_token(pc, &pc->recvToken), -1);
    EXPECT_EQ(error_text().rfind("Received token length (1000000) too large. \nUndecoded Message = '", 0), 0u) << error_text();
    EXPECT_EQ(dwConnectionError, 8u);
    EXPECT_EQ(pc->recvToken.value, nullptr);
    EXPECT_EQ(pc->recvToken.capacity, 0);
    peer_send(frame(0x80000010u, "xy"));
    EXPECT_EQ(recv_token(pc, &pc->recvToken), -1);
    EXPECT_EQ(error_text().rfind("Received token length (2147483664) too large.", 0), 0u) << error_text();
    EXPECT_EQ(pc->recvToken.value, nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(Framing, TheBodyWaitsAtLeastFourSecondsAndTheTimeoutIsRestored) {
    pc->sizes.cbMaxToken = 12000;
    timeval tv{1, 0};
    s_installTimeout(pc, &tv);
    peer_send(frame(3));
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1800));
        peer_send("abc");
    });
    EXPECT_EQ(recv_token(pc, &pc->recvToken), 0);
    late.join();
    EXPECT_EQ(pc->timeoutValue.tv_sec, 1);
    // The length itself waits only the connection's time-out: nothing comes, so -1, no text.
    s_clearError();
    EXPECT_EQ(recv_token(pc, &pc->recvToken), -1);
    EXPECT_EQ(pc->error, 0u);
    EXPECT_EQ(error_text(), "");
}

} // namespace
