// ravlink connect HOST PORT: like nc, copies standard input to the connection and the connection
// to standard output until both ends are done. On a failure it prints the library's error text.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "command.h"
#include "ravlink.h"
#include "tool_net.h"

namespace {

// Pieces handed to one RavlinkSend: small enough that a send rarely needs more than one wait.
constexpr size_t kSendPiece = 16 * 1024;
constexpr int kReceiveBuffer = 64 * 1024;
// How long one receive waits before the loop looks at standard input again. A send waits under
// the time-out of the last receive, so this is also how long a send waits for room.
constexpr long kPollMicroseconds = 100 * 1000;

timeval to_timeval(double seconds) {
    timeval tv{};
    tv.tv_sec = static_cast<long>(seconds);
    tv.tv_usec = static_cast<long>(std::lround((seconds - static_cast<double>(tv.tv_sec)) * 1e6));
    if (tv.tv_usec >= 1000000) {
        tv.tv_sec += 1;
        tv.tv_usec -= 1000000;
    }
    return tv;
}

// Standard input, read on its own thread so that the connection is served while it blocks.
class InputPump {
public:
    InputPump() : thread_([this] { run(); }) {}
    ~InputPump() { thread_.detach(); } // a blocked read of standard input cannot be interrupted
    // Takes what has been read so far; `done` tells whether standard input has ended.
    std::string take(bool &done) {
        std::lock_guard<std::mutex> hold(lock_);
        std::string out;
        out.swap(pending_);
        done = ended_;
        return out;
    }

private:
    void run() {
        std::vector<char> buf(kSendPiece);
        for (;;) {
            size_t n = std::fread(buf.data(), 1, buf.size(), stdin);
            std::lock_guard<std::mutex> hold(lock_);
            pending_.append(buf.data(), n);
            if (std::feof(stdin) || std::ferror(stdin)) {
                ended_ = true;
                return;
            }
        }
    }
    std::mutex lock_;
    std::string pending_;
    bool ended_ = false;
    std::thread thread_;
};

int fail(RavlinkContext *pc, const char *what) {
    std::fprintf(stderr, "ravlink connect: %s\n%s\n", what, RavlinkGetErrorString(pc));
    return 1;
}

// Opens the connection the options ask for. Level 11 takes a record in place of the principal
// (its fields left to their defaults here).
RavlinkContext *open_connection(const tool::Options &o, long level, const timeval &timeout) {
    std::string principal = o.get("--principal");
    const char *last = o.has("--principal") ? principal.c_str() : nullptr;
    RavlinkSSLconfig record{};
    if (level == 11) last = reinterpret_cast<const char *>(&record);
    return RavlinkToHostPort(o.positional[0].c_str(), o.positional[1].c_str(), &timeout, static_cast<int32_t>(level),
                             last);
}

int run(const tool::Options &o) {
    if (o.positional.size() != 2) {
        std::fputs("ravlink connect: needs HOST and PORT (see ravlink connect --help)\n", stderr);
        return 2;
    }
    long level = 0, traceLevel = 0;
    double seconds = 10;
    std::string error;
    if (!o.get_long("--level", 0, level, error) || !o.get_long("--trace", 0, traceLevel, error) ||
        !o.get_seconds("--timeout", 10, seconds, error)) {
        std::fprintf(stderr, "ravlink connect: %s\n", error.c_str());
        return 2;
    }
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    tool::start_sockets();
    if (o.has("--trace")) RavlinkSetTraceFilePtr(stderr, static_cast<int32_t>(traceLevel));
    const timeval timeout = to_timeval(seconds);
    RavlinkContext *pc = open_connection(o, level, timeout);
    if (pc == nullptr) return fail(nullptr, "connect failed");

    const bool vread = o.has("--vread");
    RavlinkSetMode(pc, vread ? RAVLINK_VREAD : RAVLINK_FREAD);
    InputPump input;
    std::vector<char> buf(kReceiveBuffer);
    bool inputDone = false, sentEnd = false;
    int status = 0;
    for (;;) {
        std::string outgoing = input.take(inputDone);
        for (size_t at = 0; at < outgoing.size(); at += kSendPiece) {
            size_t n = std::min(kSendPiece, outgoing.size() - at);
            if (!RavlinkSend(pc, outgoing.data() + at, static_cast<uint32_t>(n), &timeout)) {
                status = fail(pc, "send failed");
                break;
            }
        }
        if (status != 0) break;
        if (inputDone && !sentEnd) {
            // Standard input has ended: tell the peer, then read until it closes.
            tool::shutdown_send(RavlinkGetSocketDescriptor(pc));
            sentEnd = true;
        }
        timeval wait{0, kPollMicroseconds};
        const timeval *limit = &wait;
        if (sentEnd) limit = o.has("--timeout") ? &timeout : nullptr;
        int32_t rc = RavlinkRecv(pc, buf.data(), vread ? kReceiveBuffer : 1, limit);
        if (rc == 0) {
            int32_t got = vread ? RavlinkGetRdlen(pc) : 1;
            if (got > 0) {
                std::fwrite(buf.data(), 1, static_cast<size_t>(got), stdout);
                std::fflush(stdout);
            } else if (sentEnd) {
                break; // nothing more within the time-out
            }
            continue;
        }
        if (rc == -2 && !sentEnd) continue; // FREAD: no byte within the poll interval
        if (rc == -2) break;
        if (rc == 10053 || rc == 10054) break; // the peer has closed: done
        status = fail(pc, "receive failed");
        break;
    }
    RavlinkClose(pc);
    return status;
}

const tool::Command command{
    "connect",
    "connect HOST PORT [options]",
    "copy standard input to a connection and the connection to standard output until both end (like nc)",
    {
        {"--level", "N", "security level: 0 plain (default), 1-3 Kerberos, 10/11 TLS"},
        {"--principal", "P", "service principal name (levels 0-3) or TLS configuration name (level 10)"},
        {"--timeout", "SECONDS", "time-out of the connect (default 10); when given, also how long to wait for the peer after input ends"},
        {"--vread", nullptr, "receive whatever has arrived in one call (VREAD) instead of byte by byte (FREAD)"},
        {"--trace", "LEVEL", "write the library's trace from LEVEL up (1 all ... 6 errors) to standard error"},
    },
    run};
RAVLINK_COMMAND(command);

} // namespace
