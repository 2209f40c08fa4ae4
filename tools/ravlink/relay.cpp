// The copy loop of `connect` and `server`: standard input to the connection, the connection to
// standard output, until both ends are done.
#include "relay.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "tool_net.h"

namespace {

// Pieces handed to one RavlinkSend: small enough that a send rarely needs more than one wait.
constexpr size_t kSendPiece = 16 * 1024;
constexpr int kReceiveBuffer = 64 * 1024;
// How long one receive waits before the loop looks at standard input again. A send waits under
// the time-out of the last receive, so this is also how long a send waits for room.
constexpr long kPollMicroseconds = 100 * 1000;

// Reads what standard input has, below the C runtime: a thread blocked here holds none of the
// runtime's stream locks, which the runtime takes at exit (Windows would hang there). 0 at the
// end of input or on an error.
size_t read_input(char *buf, size_t size) {
#ifdef _WIN32
    DWORD got = 0;
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, static_cast<DWORD>(size), &got, nullptr)) return 0;
    return got;
#else
    for (;;) {
        ssize_t n = ::read(0, buf, size);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) return 0;
    }
#endif
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
            size_t n = read_input(buf.data(), buf.size());
            std::lock_guard<std::mutex> hold(lock_);
            pending_.append(buf.data(), n);
            if (n == 0) {
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

} // namespace

namespace tool {

int report_failure(RavlinkContext *pc, const char *command, const char *what) {
    std::fprintf(stderr, "ravlink %s: %s\n%s\n", command, what, RavlinkGetErrorString(pc));
    return 1;
}

std::vector<OptionSpec> relay_options() {
    return {
        {"--timeout", "SECONDS", "time-out of the connect (default 10); when given, also how long to wait for the peer after input ends"},
        {"--vread", nullptr, "receive whatever has arrived in one call (VREAD) instead of byte by byte (FREAD)"},
        {"--trace", "LEVEL", "write the library's trace from LEVEL up (1 all ... 6 errors) to standard error"},
    };
}

bool prepare_relay(const Options &o, const char *command, timeval &timeout) {
    long traceLevel = 0;
    double seconds = 10;
    std::string error;
    if (!o.get_long("--trace", 0, traceLevel, error) || !o.get_seconds("--timeout", 10, seconds, error)) {
        std::fprintf(stderr, "ravlink %s: %s\n", command, error.c_str());
        return false;
    }
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    start_sockets();
    if (o.has("--trace")) RavlinkSetTraceFilePtr(stderr, static_cast<int32_t>(traceLevel));
    timeout = to_timeval(seconds);
    return true;
}

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

int relay(RavlinkContext *pc, const Options &o, const timeval &timeout, const char *command) {
    const bool vread = o.has("--vread");
    const bool tls = RavlinkGetSecurityType(pc) == 2;
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
                status = report_failure(pc, command, "send failed");
                break;
            }
        }
        if (status != 0) break;
        if (inputDone && !sentEnd) {
            // Standard input has ended: tell the peer, then read until it closes. TLS cannot
            // half-close a connection: there the answer is awaited for the time-out.
            if (!tls) tool::shutdown_send(RavlinkGetSocketDescriptor(pc));
            sentEnd = true;
        }
        // A TLS read waits ten thousand times the microseconds it is given, once.
        timeval wait{0, tls ? kPollMicroseconds / 10000 : kPollMicroseconds};
        const timeval *limit = &wait;
        if (sentEnd) limit = o.has("--timeout") || tls ? &timeout : nullptr;
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
        // A TLS read that times out reports -1 (the connection's code for it).
        if (tls && rc == -1) rc = -2;
        if (rc == -2 && !sentEnd) continue; // FREAD: no byte within the poll interval
        if (rc == -2) break;
        if (rc == 10053 || rc == 10054) break; // the peer has closed: done
        status = report_failure(pc, command, "receive failed");
        break;
    }
    RavlinkClose(pc);
    return status;
}

} // namespace tool
