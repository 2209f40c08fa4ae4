// TLS through the library against a raw OpenSSL client (SSL_connect / SSL_write / SSL_read on a
// blocking socket) that shares one SSL_CTX between its connections, as real clients do; same
// server (in a process of its own), same protocol version and cipher suite, in one run: the
// handshake (connect, first byte, close), the memory an open connection holds, bulk throughput,
// and small-message round trips. Goals: handshake <= 1.03x, memory <= raw + 2 KiB, bulk >= 0.95x,
// round trip <= 1.1x. A raw client that builds its SSL_CTX and loads the CA file for every
// connection is shown for reference.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ravlink.h"

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }
// The processor time of this process (the clients; the server runs in another process): on a
// shared machine it shows a client's own cost where the wall clock also shows the neighbours.
double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

constexpr const char *kCipher = "ECDHE-RSA-AES128-GCM-SHA256";
constexpr std::size_t kChunk = 64 * 1024;
constexpr std::size_t kBulkBytes = 128u * 1024 * 1024;
constexpr int kRoundTrips = 4000;
constexpr int kHandshakes = 200;
constexpr int kMessage = 64;
constexpr int kRounds = 7;
constexpr int kHeld = 200; // connections held open at once for the memory figure

std::string pki;

// The server: TLS 1.2 with one cipher suite. A connection starts with one mode byte:
// 'B' reads a 8-byte count, swallows that many bytes and answers one byte; 'E' echoes;
// 'H' answers the mode byte and ends.
SSL_CTX *server_ctx;

void serve(int fd) {
    SSL *ssl = SSL_new(server_ctx);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) {
        char mode;
        if (SSL_read(ssl, &mode, 1) == 1) {
            std::vector<char> buf(kChunk);
            if (mode == 'B') {
                unsigned long long total = 0, got = 0;
                SSL_read(ssl, &total, sizeof total);
                int n;
                while (got < total && (n = SSL_read(ssl, buf.data(), static_cast<int>(buf.size()))) > 0) got += n;
                SSL_write(ssl, "k", 1);
            } else if (mode == 'E') {
                int n;
                while ((n = SSL_read(ssl, buf.data(), static_cast<int>(buf.size()))) > 0)
                    if (SSL_write(ssl, buf.data(), n) <= 0) break;
            } else {
                SSL_write(ssl, "h", 1);
            }
        }
        SSL_shutdown(ssl);
    }
    SSL_free(ssl);
    close(fd);
}

int listen_socket(int &port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    listen(fd, 64);
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
    port = ntohs(a.sin_port);
    return fd;
}

// ---- the two clients behind one small interface ----

struct Raw {
    SSL_CTX *ctx;
    SSL *ssl = nullptr;
    int fd = -1;
    bool tcp_connect(int port) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<unsigned short>(port));
        return ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    bool connect(int port) {
        if (!tcp_connect(port)) return false;
        ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        return SSL_connect(ssl) == 1;
    }
    bool send(const void *p, std::size_t n) { return SSL_write(ssl, p, static_cast<int>(n)) == static_cast<int>(n); }
    bool recv(void *p, std::size_t n) {
        auto *c = static_cast<char *>(p);
        while (n > 0) {
            int r = SSL_read(ssl, c, static_cast<int>(n));
            if (r <= 0) return false;
            c += r;
            n -= static_cast<std::size_t>(r);
        }
        return true;
    }
    void close() {
        if (ssl) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
        }
        if (fd >= 0) ::close(fd);
        ssl = nullptr;
        fd = -1;
    }
};

// The raw client that builds its context and loads the CA file for every connection.
struct RawFresh : Raw {
    std::string ca;
    bool connect(int port) {
        ctx = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_cipher_list(ctx, kCipher);
        SSL_CTX_load_verify_locations(ctx, ca.c_str(), nullptr);
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
        return Raw::connect(port);
    }
    void close() {
        Raw::close();
        SSL_CTX_free(ctx);
        ctx = nullptr;
    }
};

// The raw client on a non-blocking socket that waits with poll() whenever OpenSSL wants to read or
// write, which is how the library drives OpenSSL: it separates the cost of that design from the
// library's own.
struct RawPoll : Raw {
    bool connect(int port) {
        if (!tcp_connect(port)) return false;
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        int r;
        while ((r = SSL_connect(ssl)) != 1)
            if (!wait(r)) return false;
        return true;
    }
    bool wait(int rc) {
        int e = SSL_get_error(ssl, rc);
        if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) return false;
        pollfd p{fd, static_cast<short>(e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
        return poll(&p, 1, 1000) >= 0;
    }
    bool send(const void *p, std::size_t n) {
        int r;
        while ((r = SSL_write(ssl, p, static_cast<int>(n))) <= 0)
            if (!wait(r)) return false;
        return true;
    }
    bool recv(void *p, std::size_t n) {
        auto *c = static_cast<char *>(p);
        while (n > 0) {
            int r = SSL_read(ssl, c, static_cast<int>(n));
            if (r <= 0) {
                if (!wait(r)) return false;
                continue;
            }
            c += r;
            n -= static_cast<std::size_t>(r);
        }
        return true;
    }
};

struct Lib {
    RavlinkSSLconfig cfg;
    RavlinkContext *pc = nullptr;
    struct timeval tv = {30, 0};
    bool connect(int port) {
        std::string p = std::to_string(port);
        pc = RavlinkToHostPort("127.0.0.1", p.c_str(), &tv, 11, reinterpret_cast<const char *>(&cfg));
        return pc != nullptr;
    }
    bool send(const void *p, std::size_t n) { return RavlinkSend(pc, p, static_cast<uint32_t>(n), &tv) == 1; }
    bool recv(void *p, std::size_t n) { return RavlinkRecv(pc, p, static_cast<int32_t>(n), &tv) == 0; }
    void close() {
        RavlinkClose(pc);
        pc = nullptr;
    }
};

// One handshake (connect, first byte each way, close): its wall and processor time added to the
// client's totals.
template <class Client>
void handshake(Client &c, int port, double &wall, double &cpu) {
    const auto t = Clock::now();
    const double cpuStart = cpu_seconds();
    char h = 'H';
    if (!c.connect(port) || !c.send(&h, 1) || !c.recv(&h, 1)) {
        std::fprintf(stderr, "handshake failed: %s\n", RavlinkGetErrorString(nullptr));
        std::exit(1);
    }
    c.close();
    cpu += cpu_seconds() - cpuStart;
    wall += since(t);
}

// Heap bytes per open connection: kHeld connections made and held (each has echoed one byte),
// the growth of the heap counted, then all closed.
template <class Client>
double memory_per_connection(const Client &prototype, int port) {
    std::vector<Client> held(kHeld, prototype);
    malloc_trim(0);
    const std::size_t before = mallinfo2().uordblks;
    for (Client &c : held) {
        char m = 'E', back;
        if (!c.connect(port) || !c.send(&m, 1) || !c.send(&m, 1) || !c.recv(&back, 1)) std::exit(1);
    }
    const std::size_t after = mallinfo2().uordblks;
    for (Client &c : held) c.close();
    return static_cast<double>(after - before) / kHeld;
}

template <class Client>
double bulk(Client &c, int port) {
    std::vector<char> buf(kChunk, 'b');
    unsigned long long total = kBulkBytes;
    char mode = 'B', ack;
    if (!c.connect(port) || !c.send(&mode, 1) || !c.send(&total, sizeof total)) std::exit(1);
    auto t = Clock::now();
    for (std::size_t sent = 0; sent < kBulkBytes; sent += kChunk)
        if (!c.send(buf.data(), kChunk)) std::exit(1);
    if (!c.recv(&ack, 1)) std::exit(1);
    double s = since(t);
    c.close();
    return kBulkBytes / s / (1024.0 * 1024.0);
}

template <class Client>
double round_trips(Client &c, int port) {
    char msg[kMessage] = {'r'}, back[kMessage];
    char mode = 'E';
    if (!c.connect(port) || !c.send(&mode, 1)) std::exit(1);
    auto t = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i)
        if (!c.send(msg, sizeof msg) || !c.recv(back, sizeof back)) std::exit(1);
    double s = since(t);
    c.close();
    return s / kRoundTrips * 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One figure: raw and library medians, and the median, least and greatest of the per-round
// ratios (library over raw; for times a ratio above 1 means the library is slower).
void report(const char *name, const char *unit, double scale, const std::vector<double> &raw,
            const std::vector<double> &lib, bool higherIsBetter, double goal) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < raw.size(); ++i) ratios.push_back(lib[i] / raw[i]);
    double ratio = median(ratios);
    std::printf("%-34s raw %8.2f %-5s ravlink %8.2f %-5s ratio %.3f (rounds %.3f..%.3f)", name,
                median(raw) * scale, unit, median(lib) * scale, unit, ratio,
                *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()));
    if (goal > 0)
        std::printf("  goal %s %.2f: %s", higherIsBetter ? ">=" : "<=", goal,
                    (higherIsBetter ? ratio >= goal : ratio <= goal) ? "met" : "NOT met");
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main() {
    pki = RAVLINK_BENCH_PKI_DIR;
    std::string make = std::string("'") + RAVLINK_SOURCE_DIR + "/tests/fixtures/make_pki.sh' '" + pki + "'";
    if (std::system(make.c_str()) != 0) return 1;
    std::string ca = pki + "/ca.pem", cert = pki + "/server.pem", key = pki + "/server.key";

    // The server runs in a process of its own, so that the memory figures hold clients only.
    int port = 0;
    int lfd = listen_socket(port);
    pid_t server = fork();
    if (server == 0) {
        server_ctx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_set_max_proto_version(server_ctx, TLS1_2_VERSION);
        SSL_CTX_set_cipher_list(server_ctx, kCipher);
        SSL_CTX_use_certificate_chain_file(server_ctx, cert.c_str());
        SSL_CTX_use_PrivateKey_file(server_ctx, key.c_str(), SSL_FILETYPE_PEM);
        for (;;) {
            int fd = accept(lfd, nullptr, nullptr);
            if (fd < 0) _exit(0);
            std::thread(serve, fd).detach();
        }
    }
    close(lfd);

    Raw raw;
    raw.ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_cipher_list(raw.ctx, kCipher);
    SSL_CTX_load_verify_locations(raw.ctx, ca.c_str(), nullptr);
    SSL_CTX_set_verify(raw.ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_mode(raw.ctx, SSL_MODE_AUTO_RETRY);

    RawPoll rawPoll;
    rawPoll.ctx = raw.ctx;

    RawFresh rawFresh;
    rawFresh.ca = ca;

    Lib lib;
    std::string protocols = "16", cipher = kCipher;
    lib.cfg = RavlinkSSLconfig{&protocols[0], nullptr, nullptr, nullptr, &cipher[0],
                               nullptr,       nullptr, nullptr, &ca[0],  nullptr};

    // The clients alternate within each round; each figure is the median over the rounds of the
    // per-round ratio, which cancels most of the machine's drift between rounds.
    // Handshakes go one client after the other, the order turning each time, so that a busy
    // neighbour on a shared machine weighs on every client alike.
    std::vector<double> hs[4], cpu[4], mem[2], bw[3], rt[3];
    for (int round = 0; round < kRounds; ++round) {
        double wall[4] = {}, proc[4] = {};
        for (int i = 0; i < kHandshakes; ++i) {
            for (int k = 0; k < 4; ++k) {
                const int which = (i + k) % 4;
                if (which == 0) handshake(raw, port, wall[0], proc[0]);
                if (which == 1) handshake(lib, port, wall[1], proc[1]);
                if (which == 2) handshake(rawFresh, port, wall[2], proc[2]);
                if (which == 3) handshake(rawPoll, port, wall[3], proc[3]);
            }
        }
        for (int k = 0; k < 4; ++k) {
            hs[k].push_back(wall[k] / kHandshakes);
            cpu[k].push_back(proc[k] / kHandshakes);
        }
        mem[0].push_back(memory_per_connection(raw, port));
        mem[1].push_back(memory_per_connection(lib, port));
        bw[0].push_back(bulk(raw, port));
        bw[1].push_back(bulk(lib, port));
        bw[2].push_back(bulk(rawPoll, port));
        rt[0].push_back(round_trips(raw, port));
        rt[1].push_back(round_trips(lib, port));
        rt[2].push_back(round_trips(rawPoll, port));
    }
    std::printf("TLS 1.2, %s, loopback, medians of %d rounds (clients alternate)\n", kCipher, kRounds);
    report("handshake (connect + first byte)", "ms", 1e3, hs[0], hs[1], false, 1.03);
    report("  client processor time", "ms", 1e3, cpu[0], cpu[1], false, 1.03);
    std::printf("%-34s raw %8.1f KiB   ravlink %8.1f KiB   difference %+.1f KiB  goal <= +2.0: %s\n",
                "memory per open connection", median(mem[0]) / 1024, median(mem[1]) / 1024,
                (median(mem[1]) - median(mem[0])) / 1024,
                median(mem[1]) - median(mem[0]) <= 2048 ? "met" : "NOT met");
    report("bulk throughput (64 KiB sends)", "MiB/s", 1, bw[0], bw[1], true, 0.95);
    report("round trip (64 bytes)", "us", 1, rt[0], rt[1], false, 1.1);
    std::printf("raw OpenSSL with a new SSL_CTX and CA file per connection:\n");
    report("  handshake", "ms", 1e3, hs[2], hs[1], false, 0);
    report("  client processor time", "ms", 1e3, cpu[2], cpu[1], false, 0);
    std::printf("raw OpenSSL driven like the library (non-blocking socket, poll() when OpenSSL waits):\n");
    report("  handshake", "ms", 1e3, hs[3], hs[1], false, 0);
    report("  client processor time", "ms", 1e3, cpu[3], cpu[1], false, 0);
    report("  bulk throughput", "MiB/s", 1, bw[2], bw[1], true, 0);
    report("  round trip", "us", 1, rt[2], rt[1], false, 0);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    return 0;
}
