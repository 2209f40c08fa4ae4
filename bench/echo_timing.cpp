// Times the library against a running echo server (ravlink serve) through the public interface
// only, so that the same program runs on Linux and, as a Windows build, under Wine:
//
//   echo_timing HOST PORT LEVEL [CA-FILE | PRINCIPAL]
//
// LEVEL 11 takes the CA file that the server's certificate comes from; levels 1 to 3 take the
// server's principal (default "sedrin/localhost") and the caller's tickets. It prints the connect
// with its first exchange (the TLS handshake or the Kerberos context), the median 64-byte round
// trip, and the bulk rate of 64 KiB blocks sent and echoed back.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ravlink.h"

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

constexpr int kConnects = 10;
constexpr int kRoundTrips = 400;
constexpr std::size_t kBlock = 64 * 1024;
constexpr int kBlocks = 128; // 8 MiB each way

struct Target {
    std::string host, port, extra;
    int level = 0;
};

RavlinkContext *open(const Target &t) {
    timeval tv{10, 0};
    if (t.level == 11) {
        std::string ca = t.extra;
        RavlinkSSLconfig config{};
        config.CAfile = &ca[0];
        return RavlinkToHostPort(t.host.c_str(), t.port.c_str(), &tv, 11, reinterpret_cast<const char *>(&config));
    }
    return RavlinkToHostPort(t.host.c_str(), t.port.c_str(), &tv, t.level,
                             t.extra.empty() ? "sedrin/localhost" : t.extra.c_str());
}

bool echo(RavlinkContext *pc, const std::string &out, std::string &back) {
    timeval tv{10, 0};
    back.assign(out.size(), '\0');
    return RavlinkSend(pc, out.data(), static_cast<std::uint32_t>(out.size()), &tv) == 1 &&
           RavlinkRecv(pc, &back[0], static_cast<std::int32_t>(back.size()), &tv) == 0 && back == out;
}

int fail(RavlinkContext *pc, const char *what) {
    std::fprintf(stderr, "echo_timing: %s failed: %s\n", what, RavlinkGetErrorString(pc));
    RavlinkClose(pc);
    return 1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fputs("usage: echo_timing HOST PORT LEVEL [CA-FILE | PRINCIPAL]\n", stderr);
        return 2;
    }
    Target t{argv[1], argv[2], argc > 4 ? argv[4] : "", std::atoi(argv[3])};
    std::string back, small(64, 's'), block(kBlock, 'b');

    std::vector<double> connects;
    for (int i = 0; i < kConnects; ++i) {
        auto start = Clock::now();
        RavlinkContext *pc = open(t);
        if (pc == nullptr) return fail(nullptr, "connect");
        if (!echo(pc, small, back)) return fail(pc, "first exchange");
        connects.push_back(since(start));
        RavlinkClose(pc);
    }
    std::sort(connects.begin(), connects.end());

    RavlinkContext *pc = open(t);
    if (pc == nullptr) return fail(nullptr, "connect");
    std::vector<double> trips;
    for (int i = 0; i < kRoundTrips; ++i) {
        auto start = Clock::now();
        if (!echo(pc, small, back)) return fail(pc, "round trip");
        trips.push_back(since(start));
    }
    std::sort(trips.begin(), trips.end());
    auto start = Clock::now();
    for (int i = 0; i < kBlocks; ++i)
        if (!echo(pc, block, back)) return fail(pc, "bulk");
    double bulk = since(start);
    RavlinkClose(pc);

    std::printf("level %d: connect and first exchange %.2f ms (median of %d), round trip of 64 B %.1f us "
                "(median of %d), bulk %.1f MiB/s (%d blocks of 64 KiB echoed)\n",
                t.level, connects[connects.size() / 2] * 1e3, kConnects, trips[trips.size() / 2] * 1e6,
                kRoundTrips, kBlocks * (kBlock / 1048576.0) / bulk, kBlocks);
    return 0;
}
