// Plain connections against raw sockets on loopback, in one run: bulk throughput (64 KiB pieces,
// RavlinkSend / RavlinkRecv FREAD vs send / recv), 64-byte echo round trip, and connect + close
// (RavlinkToHostPort + RavlinkClose vs socket / connect / close). Each figure is the median of
// several rounds in which library and raw alternate. Goals: throughput >= 0.95 of raw, round
// trip <= 1.15x, connect <= 1.2x.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ravlink.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kPiece = 64 * 1024;
constexpr size_t kBulkBytes = size_t(256) << 20; // per direction and round
constexpr int kRoundTrips = 20000;
constexpr int kConnects = 2000;
constexpr int kRounds = 15;

double seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Server {
    int fd;
    int port;
    Server() {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 4096) != 0) {
            std::perror("listen");
            std::exit(1);
        }
        socklen_t n = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
        port = ntohs(a.sin_port);
    }
    ~Server() { ::close(fd); }
    std::string port_text() const { return std::to_string(port); }
};

int raw_connect(int port) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<unsigned short>(port));
    if (::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        std::perror("connect");
        std::exit(1);
    }
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return s;
}

RavlinkContext *lib_connect(const Server &server) {
    timeval tv{10, 0};
    RavlinkContext *pc = RavlinkToHostPort("127.0.0.1", server.port_text().c_str(), &tv, 0, nullptr);
    if (pc == nullptr) {
        std::fprintf(stderr, "RavlinkToHostPort: %s\n", RavlinkGetErrorString(nullptr));
        std::exit(1);
    }
    return pc;
}

void raw_send_all(int s, const char *p, size_t n) {
    while (n > 0) {
        ssize_t k = ::send(s, p, n, MSG_NOSIGNAL);
        if (k <= 0) std::exit(1);
        p += k;
        n -= static_cast<size_t>(k);
    }
}

// Receives exactly n bytes: the peers wait for the whole piece in the kernel (MSG_WAITALL); the
// measured raw client loops over plain recv calls, as a program reading pieces does.
void raw_recv_all(int s, char *p, size_t n, int flags = MSG_WAITALL) {
    while (n > 0) {
        ssize_t k = ::recv(s, p, n, flags);
        if (k <= 0) std::exit(1);
        p += k;
        n -= static_cast<size_t>(k);
    }
}

// The peer of the bulk test: accepts one client, takes kBulkBytes, then sends kBulkBytes back,
// in 64 KiB pieces.
void bulk_peer(Server &server) {
    int s = ::accept(server.fd, nullptr, nullptr);
    std::vector<char> buf(kPiece, 'p');
    for (size_t done = 0; done < kBulkBytes; done += kPiece) raw_recv_all(s, buf.data(), kPiece);
    for (size_t done = 0; done < kBulkBytes; done += kPiece) raw_send_all(s, buf.data(), kPiece);
    ::close(s);
}

double bulk_raw(Server &server) {
    std::thread peer(bulk_peer, std::ref(server));
    int c = raw_connect(server.port);
    std::vector<char> buf(kPiece, 'r');
    auto start = Clock::now();
    for (size_t done = 0; done < kBulkBytes; done += kPiece) raw_send_all(c, buf.data(), kPiece);
    for (size_t done = 0; done < kBulkBytes; done += kPiece) raw_recv_all(c, buf.data(), kPiece, 0);
    double t = seconds(start);
    peer.join();
    ::close(c);
    return 2.0 * kBulkBytes / t / 1e6;
}

// The raw client on a non-blocking socket, as the library's sockets are: each send or receive
// that would block waits with poll() and tries again. The floor of the library's ratio.
void wait_for(int s, short events) {
    pollfd p{s, events, 0};
    ::poll(&p, 1, 10000);
}

double bulk_same_calls(Server &server) {
    std::thread peer(bulk_peer, std::ref(server));
    int c = raw_connect(server.port);
    int one = 1;
    ioctl(c, FIONBIO, &one);
    std::vector<char> buf(kPiece, 'n');
    auto start = Clock::now();
    for (size_t done = 0; done < kBulkBytes; done += kPiece) {
        for (size_t n = 0; n < kPiece;) {
            ssize_t k = ::send(c, buf.data() + n, kPiece - n, MSG_NOSIGNAL);
            if (k > 0) n += static_cast<size_t>(k);
            else if (errno == EAGAIN) wait_for(c, POLLOUT);
            else std::exit(1);
        }
    }
    for (size_t done = 0; done < kBulkBytes; done += kPiece) {
        for (size_t n = 0; n < kPiece;) {
            ssize_t k = ::recv(c, buf.data() + n, kPiece - n, 0);
            if (k > 0) n += static_cast<size_t>(k);
            else if (k < 0 && errno == EAGAIN) wait_for(c, POLLIN);
            else std::exit(1);
        }
    }
    double t = seconds(start);
    peer.join();
    ::close(c);
    return 2.0 * kBulkBytes / t / 1e6;
}

double bulk_lib(Server &server) {
    std::thread peer(bulk_peer, std::ref(server));
    RavlinkContext *pc = lib_connect(server);
    std::vector<char> buf(kPiece, 'l');
    timeval tv{10, 0};
    auto start = Clock::now();
    for (size_t done = 0; done < kBulkBytes; done += kPiece)
        if (!RavlinkSend(pc, buf.data(), kPiece, &tv)) {
            std::fprintf(stderr, "RavlinkSend: %s\n", RavlinkGetErrorString(pc));
            std::exit(1);
        }
    for (size_t done = 0; done < kBulkBytes; done += kPiece)
        if (RavlinkRecv(pc, buf.data(), kPiece, &tv) != 0) {
            std::fprintf(stderr, "RavlinkRecv: %s\n", RavlinkGetErrorString(pc));
            std::exit(1);
        }
    double t = seconds(start);
    peer.join();
    RavlinkClose(pc);
    return 2.0 * kBulkBytes / t / 1e6;
}

void echo_peer(Server &server) {
    int s = ::accept(server.fd, nullptr, nullptr);
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char buf[64];
    for (int i = 0; i < kRoundTrips; ++i) {
        raw_recv_all(s, buf, sizeof buf);
        raw_send_all(s, buf, sizeof buf);
    }
    ::close(s);
}

double round_trip_raw(Server &server) {
    std::thread peer([&] { echo_peer(server); });
    int c = raw_connect(server.port);
    char buf[64] = {};
    auto start = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
        raw_send_all(c, buf, sizeof buf);
        raw_recv_all(c, buf, sizeof buf, 0);
    }
    double t = seconds(start);
    peer.join();
    ::close(c);
    return t / kRoundTrips * 1e6;
}

double round_trip_lib(Server &server) {
    std::thread peer([&] { echo_peer(server); });
    RavlinkContext *pc = lib_connect(server);
    char buf[64] = {};
    timeval tv{10, 0};
    auto start = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
        if (!RavlinkSend(pc, buf, sizeof buf, &tv) || RavlinkRecv(pc, buf, sizeof buf, &tv) != 0) {
            std::fprintf(stderr, "round trip: %s\n", RavlinkGetErrorString(pc));
            std::exit(1);
        }
    }
    double t = seconds(start);
    peer.join();
    RavlinkClose(pc);
    return t / kRoundTrips * 1e6;
}

// Accepts and closes kConnects connections (a fresh server each round keeps the TIME_WAIT
// states of one round away from the next).
void accept_peer(Server &server) {
    for (int i = 0; i < kConnects; ++i) {
        int s = ::accept(server.fd, nullptr, nullptr);
        if (s >= 0) ::close(s);
    }
}

double connect_raw(Server &server) {
    std::thread peer([&] { accept_peer(server); });
    auto start = Clock::now();
    for (int i = 0; i < kConnects; ++i) ::close(raw_connect(server.port));
    double t = seconds(start);
    peer.join();
    return t / kConnects * 1e6;
}

// The system calls every library connect must make, without the library: a non-blocking socket,
// no send delay, keep-alive, the connect, the wait for it, close. The floor of the library's ratio.
double connect_same_calls(Server &server) {
    std::thread peer([&] { accept_peer(server); });
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<unsigned short>(server.port));
    int one = 1;
    auto start = Clock::now();
    for (int i = 0; i < kConnects; ++i) {
        int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
        if (::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
            pollfd p{s, POLLOUT | POLLPRI, 0};
            ::poll(&p, 1, 10000);
        }
        ::close(s);
    }
    double t = seconds(start);
    peer.join();
    return t / kConnects * 1e6;
}

double connect_lib(Server &server) {
    std::thread peer([&] { accept_peer(server); });
    auto start = Clock::now();
    for (int i = 0; i < kConnects; ++i) RavlinkClose(lib_connect(server));
    double t = seconds(start);
    peer.join();
    return t / kConnects * 1e6;
}

template <typename Raw, typename Lib>
void measure(const char *name, const char *unit, bool higherIsBetter, double goal, Raw raw, Lib lib) {
    std::vector<double> raws, libs, ratios;
    for (int round = 0; round < kRounds; ++round) {
        Server a, b;
        // Who goes first changes every round: the second of a pair tends to find the machine warmer.
        double r, l;
        if (round % 2 == 0) {
            r = raw(a);
            l = lib(b);
        } else {
            l = lib(b);
            r = raw(a);
        }
        raws.push_back(r);
        libs.push_back(l);
        ratios.push_back(l / r);
    }
    double ratio = median(ratios);
    // Best round against best round: what is left when other load on the machine is least.
    double best = higherIsBetter ? *std::max_element(libs.begin(), libs.end()) / *std::max_element(raws.begin(), raws.end())
                                 : *std::min_element(libs.begin(), libs.end()) / *std::min_element(raws.begin(), raws.end());
    bool met = higherIsBetter ? ratio >= goal : ratio <= goal;
    // A goal of 0 marks a reference line: raw code making the library's system calls.
    char verdict[64] = "no goal: the floor of the ratio above";
    if (goal > 0)
        std::snprintf(verdict, sizeof verdict, "goal %s %.2f: %s", higherIsBetter ? ">=" : "<=", goal,
                      met ? "met" : "NOT met");
    std::printf("%-20s raw %8.1f %s  %-7s %8.1f %s  ratio %.3f (rounds %.3f..%.3f, best/best %.3f)  %s\n", name,
                median(raws), unit, goal > 0 ? "ravlink" : "calls", median(libs), unit, ratio,
                *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()),
                best, verdict);
    std::fflush(stdout);
}

} // namespace

// What one poll() of a ready socket costs here: a receive waits with poll() before recv(), one
// call more than a blocking recv(), which bounds the round trip's ratio from below.
double poll_cost_us() {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return 0;
    (void)!::write(sv[1], "x", 1);
    constexpr int n = 100000;
    auto start = Clock::now();
    for (int i = 0; i < n; ++i) {
        pollfd p{sv[0], POLLIN, 0};
        ::poll(&p, 1, 0);
    }
    double t = seconds(start);
    ::close(sv[0]);
    ::close(sv[1]);
    return t / n * 1e6;
}

// With an argument (bulk, trip, connect) only that figure is measured.
int main(int argc, char **argv) {
    auto wanted = [&](const char *name) { return argc < 2 || std::strcmp(argv[1], name) == 0; };
    std::printf("loopback, median of %d rounds (raw and ravlink alternate)\n", kRounds);
    if (wanted("bulk")) {
        measure("bulk throughput", "MB/s", true, 0.95, bulk_raw, bulk_lib);
        measure("  non-blocking, raw", "MB/s", true, 0, bulk_raw, bulk_same_calls);
    }
    if (wanted("trip")) {
        measure("64-byte round trip", "us  ", false, 1.15, round_trip_raw, round_trip_lib);
        std::printf("%-20s one poll() of a ready socket costs %.2f us on this machine\n", "", poll_cost_us());
    }
    if (wanted("connect")) {
        measure("connect + close", "us  ", false, 1.20, connect_raw, connect_lib);
        measure("  same calls, raw", "us  ", false, 0, connect_raw, connect_same_calls);
    }
    return 0;
}
