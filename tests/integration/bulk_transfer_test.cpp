// Bulk transfer at each kind of connection against real peers on loopback: volume both ways with
// a checksum, a peer that drains slowly behind small socket buffers, and a peer that stops
// reading. RAVLINK_VOLUME_BYTES sets the volume (the benchmark script runs 100 MB).
#include <gtest/gtest.h>

#ifndef _WIN32

#include <algorithm>
#include <cstring>

#include "ravlink.h"
#include "ravlink/gss_server.h"
#include "support/realm.h"
#include "support/tls_fixtures.h"

namespace {

using namespace testsupport;
using Clock = std::chrono::steady_clock;

// A byte stream that no shifted, lost or repeated piece can reproduce, and its running checksum.
struct Stream {
    std::uint64_t state = 0x9e3779b97f4a7c15ULL, hash = 0xcbf29ce484222325ULL, count = 0;
    void fill(char *out, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            out[i] = static_cast<char>(state >> 56);
        }
    }
    void add(const char *in, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) hash = (hash ^ static_cast<unsigned char>(in[i])) * 0x100000001b3ULL;
        count += n;
    }
    // Gives the next n bytes to `sink` in pieces of at most `piece`; false when the sink fails one.
    template <class Sink> bool produce(std::size_t n, std::size_t piece, Sink sink) {
        std::string buf(piece, '\0');
        for (std::size_t done = 0, k; done < n; done += k) {
            fill(&buf[0], k = std::min(piece, n - done));
            if (!sink(buf.data(), k)) return false;
        }
        return true;
    }
};
Stream expected(std::size_t n) {
    Stream check;
    Stream().produce(n, 65536, [&check](const char *b, std::size_t k) { check.add(b, k); return true; });
    return check;
}

// The server's side of one connection, whatever carries it.
struct PeerIo {
    virtual ~PeerIo() = default;
    virtual std::size_t read_some(char *buf, std::size_t n) = 0; // 0: end or failure
    virtual bool write(const char *buf, std::size_t n) = 0;
};
struct RawIo : PeerIo {
    int fd;
    explicit RawIo(int f) : fd(f) {}
    std::size_t read_some(char *buf, std::size_t n) override {
        long got = ::recv(fd, buf, n, 0);
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    bool write(const char *buf, std::size_t n) override {
        send_raw(fd, std::string(buf, n));
        return true;
    }
};
struct GssIo : PeerIo {
    tool::GssServer srv;
    std::string held;
    explicit GssIo(int fd) : srv(fd, nullptr) {
        int level = 0;
        ok = srv.read_preamble(&level) && srv.accept_context();
    }
    bool ok;
    std::size_t read_some(char *buf, std::size_t n) override {
        std::string tok;
        bool encrypted = false;
        while (held.empty())
            if (!srv.recv_frame(tok) || !srv.unwrap(tok, held, &encrypted)) return 0;
        std::size_t k = std::min(n, held.size());
        std::memcpy(buf, held.data(), k);
        held.erase(0, k);
        return k;
    }
    bool write(const char *buf, std::size_t n) override {
        std::string tok;
        return srv.wrap(std::string(buf, n), true, tok) && srv.send_frame(tok.data(), tok.size());
    }
};
struct TlsIo : PeerIo {
    SSL *ssl;
    explicit TlsIo(SSL *s) : ssl(s) {}
    std::size_t read_some(char *buf, std::size_t n) override {
        int got = SSL_read(ssl, buf, static_cast<int>(n));
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    bool write(const char *buf, std::size_t n) override { return SSL_write(ssl, buf, static_cast<int>(n)) > 0; }
};

// What the peer does: read `in` bytes (pausing after each read, in reads of at most `chunk`),
// then send `out` bytes of the stream; or, when `stall`, read nothing until the client is done.
struct Script {
    std::size_t in = 0, out = 0, chunk = 65536;
    std::chrono::microseconds pause{0};
    bool stall = false;
    int receiveBuffer = 0; // the peer socket's SO_RCVBUF; 0 the system's
    std::atomic<bool> clientDone{false};
    Stream received;
    void run(PeerIo &io) {
        if (stall) {
            for (int i = 0; i < 6000 && !clientDone; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            return;
        }
        std::string buf(chunk, '\0');
        while (received.count < in) {
            std::size_t got = io.read_some(&buf[0], std::min(chunk, static_cast<std::size_t>(in - received.count)));
            if (got == 0) return;
            received.add(buf.data(), got);
            if (pause.count() > 0) std::this_thread::sleep_for(pause);
        }
        Stream().produce(out, 65536, [&io](const char *b, std::size_t k) { return io.write(b, k); });
    }
};

// A connection at a level with its peer running `script`: 0 plain, 2 and 3 Kerberos, 11 TLS.
class Link {
public:
    Link(int level, Script &script, long timeoutMs) : tv(timeout_ms(timeoutMs)) {
        if (script.receiveBuffer > 0) // accepted sockets take it from the listener
            setsockopt(listener.fd, SOL_SOCKET, SO_RCVBUF, &script.receiveBuffer, sizeof script.receiveBuffer);
        if (level == 11) {
            tls = std::make_unique<TlsTestServer>(listener, TlsTestServer::Options{}, [&script](SSL *ssl) {
                TlsIo io(ssl);
                script.run(io);
            });
            pc = connect_tls(listener.port_text(), &tv);
            return;
        }
        server = std::thread([this, level, &script] {
            int fd = listener.accept_one();
            if (level == 0) {
                RawIo io(fd);
                script.run(io);
            } else {
                GssIo io(fd);
                if (io.ok) script.run(io);
            }
            close_raw(fd);
        });
        pc = RavlinkLoginToHostPort("127.0.0.1", listener.port_text().c_str(), &tv, level, nullptr, nullptr, nullptr,
                                    level == 0 ? nullptr : "sedrin/localhost");
    }
    ~Link() {
        RavlinkClose(pc);
        if (server.joinable()) server.join();
    }
    // Sends n bytes of the stream in sends of `piece` bytes; 1 when all went out.
    int send(std::size_t n, std::size_t piece) {
        return Stream().produce(n, piece, [this](const char *b, std::size_t k) {
            return RavlinkSend(pc, b, static_cast<std::uint32_t>(k), &tv) == 1;
        });
    }
    Stream receive(std::size_t n) {
        Stream got;
        std::string buf(65536, '\0');
        while (got.count < n) {
            std::int32_t k = static_cast<std::int32_t>(std::min<std::size_t>(buf.size(), n - got.count));
            if (RavlinkRecv(pc, &buf[0], k, &tv) != 0) break;
            got.add(buf.data(), static_cast<std::size_t>(k));
        }
        return got;
    }
    std::string error() const { return RavlinkGetErrorString(pc); }

    timeval tv;
    Listener listener;
    RavlinkContext *pc = nullptr;

private:
    std::thread server;
    std::unique_ptr<TlsTestServer> tls;
};

// Skips a level whose peer cannot be had here.
#define REQUIRE_PEER(level)                                                                        \
    if ((level) == 2 || (level) == 3) {                                                            \
        REQUIRE_REALM();                                                                           \
    } else if ((level) == 11) {                                                                    \
        REQUIRE_PKI();                                                                             \
    }

std::size_t volume() {
    const char *v = std::getenv("RAVLINK_VOLUME_BYTES");
    return v != nullptr && std::atoll(v) > 0 ? static_cast<std::size_t>(std::atoll(v)) : 4u << 20;
}

class Bulk : public ::testing::TestWithParam<int> {};

TEST_P(Bulk, VolumeBothWaysArrivesWhole) {
    const int level = GetParam();
    REQUIRE_PEER(level);
    const std::size_t n = volume();
    Script script;
    script.in = script.out = n;
    Link link(level, script, 30000);
    ASSERT_NE(link.pc, nullptr) << RavlinkGetErrorString(nullptr);
    const auto start = Clock::now();
    ASSERT_EQ(link.send(n, 1 << 20), 1) << link.error();
    Stream back = link.receive(n);
    const double seconds = seconds_since(start);
    Stream want = expected(n);
    EXPECT_EQ(script.received.count, n);
    EXPECT_EQ(script.received.hash, want.hash);
    EXPECT_EQ(back.count, n) << link.error();
    EXPECT_EQ(back.hash, want.hash);
    std::printf("level %d: %zu bytes each way in %.2f s (%.1f MB/s)\n", level, n, seconds, 2 * n / seconds / 1e6);
}

// A reader that drains slowly behind small socket buffers makes every send wait many times; the
// send goes on as long as each wait sees room, and all 16 MiB arrive in order.
TEST_P(Bulk, SlowReaderBehindSmallBuffersGetsEveryByte) {
    const int level = GetParam();
    REQUIRE_PEER(level);
    const std::size_t n = 16u << 20;
    Script script;
    script.in = n;
    script.out = 1; // the peer's word that it has read everything
    script.chunk = 16384;
    script.pause = std::chrono::microseconds(1500);
    script.receiveBuffer = 32768;
    RavlinkSetSndBufSize(32768);
    RavlinkSetRcvBufSize(32768);
    {
        Link link(level, script, 2000);
        RavlinkSetSndBufSize(0);
        RavlinkSetRcvBufSize(0);
        ASSERT_NE(link.pc, nullptr) << RavlinkGetErrorString(nullptr);
        EXPECT_EQ(link.send(n, 4u << 20), 1) << link.error();
        EXPECT_EQ(link.receive(1).count, 1u) << link.error();
    }
    EXPECT_EQ(script.received.count, n);
    EXPECT_EQ(script.received.hash, expected(n).hash);
}

// A peer that stops reading ends a large send after one time-out without room, with the time-out's text.
TEST_P(Bulk, StalledReaderEndsTheSendAfterOneTimeOut) {
    const int level = GetParam();
    REQUIRE_PEER(level);
    Script script;
    script.stall = true;
    Link link(level, script, 1000);
    ASSERT_NE(link.pc, nullptr) << RavlinkGetErrorString(nullptr);
    const auto start = Clock::now();
    EXPECT_EQ(link.send(64u << 20, 64u << 20), 0);
    const double seconds = seconds_since(start);
    script.clientDone = true;
    EXPECT_GE(seconds, 0.9);
    EXPECT_LT(seconds, 30.0);
    // Kerberos records the failed token send in place of the time-out's text.
    const char *text = level == 0 ? "write_all:  select() timed out.  "
                       : level == 11 ? "SSL/TLS error in SSL_write(), operation timed out"
                                     : "send_token() failed:  ";
    EXPECT_NE(link.error().find(text), std::string::npos) << link.error();
}

INSTANTIATE_TEST_SUITE_P(Levels, Bulk, ::testing::Values(0, 2, 3, 11),
                         [](const ::testing::TestParamInfo<int> &i) { return "level" + std::to_string(i.param); });

} // namespace

#endif
