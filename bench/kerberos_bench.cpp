// Kerberos levels 2 and 3 against a raw GSSAPI loop over the same kind of socket (TCP loopback),
// with the same server: bulk throughput both ways, round trips, and context establishment.
// Prints library / raw ratios (1.0 = as fast as raw; the goal is >= 0.9).
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

using tool::GssServer;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kPiece = 12000;            // the library's piece size (cbMaxToken)
constexpr std::size_t kBulk = 64u * 1024 * 1024; // bytes per throughput run
constexpr int kRoundTrips = 2000;
constexpr std::size_t kSmall = 64;
constexpr int kContexts = 100;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// One server connection per call of `body`, on its own thread.
struct Server {
    testsupport::Listener listener;
    std::thread thread;
    Server(int connections, std::function<void(GssServer &)> body) {
        thread = std::thread([this, connections, body] {
            for (int i = 0; i < connections; ++i) {
                int fd = listener.accept_one();
                int one = 1;
                setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                GssServer srv(fd, nullptr);
                int level = 0;
                if (srv.read_preamble(&level) && srv.accept_context()) body(srv);
                ::close(fd);
            }
        });
    }
    ~Server() { thread.join(); }
};

// Server side of the throughput runs.
void sink(GssServer &srv) {
    std::string tok, plain;
    std::size_t total = 0;
    bool enc = false;
    while (total < kBulk && srv.recv_frame(tok) && srv.unwrap(tok, plain, &enc)) total += plain.size();
    srv.wrap("k", enc, tok);
    srv.send_frame(tok.data(), tok.size());
}
void source(GssServer &srv, bool encrypt) {
    std::string piece(kPiece, 's'), tok;
    for (std::size_t sent = 0; sent < kBulk; sent += kPiece) {
        srv.wrap(piece, encrypt, tok);
        if (!srv.send_frame(tok.data(), tok.size())) return;
    }
    srv.recv_frame(tok);
}
void echo(GssServer &srv) {
    std::string tok, plain, answer;
    bool enc = false;
    while (srv.recv_frame(tok) && srv.unwrap(tok, plain, &enc) && srv.wrap(plain, enc, answer) &&
           srv.send_frame(answer.data(), answer.size())) {
    }
}

// ---- The raw GSSAPI client ----

struct RawClient {
    int fd = -1;
    gss_ctx_id_t ctx = GSS_C_NO_CONTEXT;
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;

    bool write_all(const void *p, std::size_t n) {
        auto *b = static_cast<const char *>(p);
        while (n > 0) {
            ssize_t k = ::send(fd, b, n, MSG_NOSIGNAL);
            if (k <= 0) return false;
            b += k;
            n -= static_cast<std::size_t>(k);
        }
        return true;
    }
    bool read_all(void *p, std::size_t n) { return n == 0 || ::recv(fd, p, n, MSG_WAITALL) == static_cast<ssize_t>(n); }
    bool send_frame(const void *p, std::size_t n) {
        unsigned char len[4] = {static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
                                static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
        return write_all(len, 4) && write_all(p, n);
    }
    bool recv_frame(std::vector<unsigned char> &tok) {
        unsigned char len[4];
        if (!read_all(len, 4)) return false;
        tok.resize((std::size_t(len[0]) << 24) | (len[1] << 16) | (len[2] << 8) | len[3]);
        return read_all(tok.data(), tok.size());
    }
    bool connect(int port, int level) {
        OM_uint32 minor;
        gss_OID_set_desc mechs{1, const_cast<gss_OID>(gss_mech_krb5)};
        if (GSS_ERROR(gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechs, GSS_C_INITIATE, &cred,
                                       nullptr, nullptr)))
            return false;
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<unsigned short>(port));
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) return false;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        unsigned char preamble[5] = {0, 0, 0x7F, 1, static_cast<unsigned char>(level)};
        if (!write_all(preamble, 5)) return false;
        gss_name_t target;
        gss_buffer_desc name{16, const_cast<char *>("sedrin/localhost")};
        gss_import_name(&minor, &name, GSS_KRB5_NT_PRINCIPAL_NAME, &target);
        std::vector<unsigned char> in;
        OM_uint32 major;
        do {
            gss_buffer_desc input{in.size(), in.data()}, output{0, nullptr};
            major = gss_init_sec_context(&minor, cred, &ctx, target, const_cast<gss_OID>(gss_mech_krb5),
                                         GSS_C_MUTUAL_FLAG | GSS_C_REPLAY_FLAG | GSS_C_CONF_FLAG | GSS_C_INTEG_FLAG, 0,
                                         GSS_C_NO_CHANNEL_BINDINGS, &input, nullptr, &output, nullptr, nullptr);
            bool ok = !GSS_ERROR(major) && (output.length == 0 || send_frame(output.value, output.length));
            gss_release_buffer(&minor, &output);
            if (!ok) break;
            if ((major & GSS_S_CONTINUE_NEEDED) && !recv_frame(in)) major = GSS_S_FAILURE;
        } while (major & GSS_S_CONTINUE_NEEDED);
        gss_release_name(&minor, &target);
        return !GSS_ERROR(major);
    }
    bool send(const void *data, std::size_t n, bool encrypt) {
        OM_uint32 minor;
        for (std::size_t off = 0; off < n; off += kPiece) {
            gss_buffer_desc in{std::min(kPiece, n - off), const_cast<char *>(static_cast<const char *>(data) + off)};
            gss_buffer_desc out{0, nullptr};
            if (GSS_ERROR(gss_wrap(&minor, ctx, encrypt, GSS_C_QOP_DEFAULT, &in, nullptr, &out))) return false;
            bool ok = send_frame(out.value, out.length);
            gss_release_buffer(&minor, &out);
            if (!ok) return false;
        }
        return true;
    }
    // Reads whole tokens until n bytes of plaintext arrived.
    bool recv(void *data, std::size_t n) {
        std::vector<unsigned char> tok;
        OM_uint32 minor;
        std::size_t got = 0;
        while (got < n) {
            if (!recv_frame(tok)) return false;
            gss_buffer_desc in{tok.size(), tok.data()}, out{0, nullptr};
            if (GSS_ERROR(gss_unwrap(&minor, ctx, &in, &out, nullptr, nullptr))) return false;
            std::memcpy(static_cast<char *>(data) + got, out.value, std::min(out.length, n - got));
            got += out.length;
            gss_release_buffer(&minor, &out);
        }
        return true;
    }
    ~RawClient() {
        OM_uint32 minor;
        if (ctx != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &ctx, GSS_C_NO_BUFFER);
        if (cred != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &cred);
        if (fd >= 0) ::close(fd);
    }
};

RavlinkContext *lib_connect(const Server &s, int level) {
    timeval tv{30, 0};
    return RavlinkLoginToHostPort("127.0.0.1", s.listener.port_text().c_str(), &tv, level, nullptr, nullptr, nullptr,
                                  "sedrin/localhost");
}

// ---- Measurements (seconds) ----

double lib_send(int level) {
    Server s(1, sink);
    RavlinkContext *pc = lib_connect(s, level);
    std::vector<char> data(kBulk, 'd');
    timeval tv{30, 0};
    auto t = Clock::now();
    RavlinkSend(pc, data.data(), static_cast<std::uint32_t>(data.size()), &tv);
    char ack;
    RavlinkRecv(pc, &ack, 1, &tv);
    double secs = seconds_since(t);
    RavlinkClose(pc);
    return secs;
}
double raw_send(int level) {
    Server s(1, sink);
    RawClient c;
    c.connect(s.listener.port, level);
    std::vector<char> data(kBulk, 'd');
    auto t = Clock::now();
    c.send(data.data(), data.size(), level == 3);
    char ack;
    c.recv(&ack, 1);
    return seconds_since(t);
}
double lib_recv(int level) {
    Server s(1, [level](GssServer &srv) { source(srv, level == 3); });
    RavlinkContext *pc = lib_connect(s, level);
    std::vector<char> data(kBulk);
    timeval tv{30, 0};
    auto t = Clock::now();
    const std::int32_t chunk = 1 << 20;
    for (std::size_t off = 0; off < kBulk; off += chunk) RavlinkRecv(pc, data.data() + off, chunk, &tv);
    double secs = seconds_since(t);
    RavlinkSend(pc, "x", 1, &tv);
    RavlinkClose(pc);
    return secs;
}
double raw_recv(int level) {
    Server s(1, [level](GssServer &srv) { source(srv, level == 3); });
    RawClient c;
    c.connect(s.listener.port, level);
    std::vector<char> data(kBulk);
    auto t = Clock::now();
    c.recv(data.data(), kBulk);
    double secs = seconds_since(t);
    c.send("x", 1, level == 3);
    return secs;
}
double lib_rtt(int level) {
    Server s(1, echo);
    RavlinkContext *pc = lib_connect(s, level);
    char msg[kSmall] = {}, back[kSmall];
    timeval tv{30, 0};
    auto t = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
        RavlinkSend(pc, msg, kSmall, &tv);
        RavlinkRecv(pc, back, kSmall, &tv);
    }
    double secs = seconds_since(t);
    RavlinkClose(pc);
    return secs;
}
double raw_rtt(int level) {
    Server s(1, echo);
    RawClient c;
    c.connect(s.listener.port, level);
    char msg[kSmall] = {}, back[kSmall];
    auto t = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
        c.send(msg, kSmall, level == 3);
        c.recv(back, kSmall);
    }
    return seconds_since(t);
}
double lib_contexts() {
    Server s(kContexts, [](GssServer &) {});
    auto t = Clock::now();
    for (int i = 0; i < kContexts; ++i) RavlinkClose(lib_connect(s, 3));
    return seconds_since(t);
}
double raw_contexts() {
    Server s(kContexts, [](GssServer &) {});
    auto t = Clock::now();
    for (int i = 0; i < kContexts; ++i) {
        RawClient c;
        c.connect(s.listener.port, 3);
    }
    return seconds_since(t);
}

// Median of several alternating runs of library and raw.
const char *g_only = nullptr; // run only the measurements whose name holds this text

void report(const char *what, double (*lib)(), double (*raw)(), double units, const char *unit, int runs) {
    if (g_only != nullptr && std::strstr(what, g_only) == nullptr) return;
    std::vector<double> l, r;
    for (int i = 0; i < runs; ++i) {
        l.push_back(lib());
        r.push_back(raw());
    }
    std::sort(l.begin(), l.end());
    std::sort(r.begin(), r.end());
    double lm = l[l.size() / 2], rm = r[r.size() / 2];
    // The best runs show what each can do when the machine leaves it alone.
    std::printf("%-32s library %9.1f %-6s raw %9.1f %-6s ratio %.2f (best runs %.2f)\n", what, units / lm, unit,
                units / rm, unit, rm / lm, r.front() / l.front());
    std::fflush(stdout);
}

template <int L> double ls() { return lib_send(L); }
template <int L> double rs() { return raw_send(L); }
template <int L> double lr() { return lib_recv(L); }
template <int L> double rr() { return raw_recv(L); }
template <int L> double lt() { return lib_rtt(L); }
template <int L> double rt() { return raw_rtt(L); }

} // namespace

int main(int argc, char **argv) {
    // kerberos_bench [RUNS [ONLY]]: RUNS runs of each measurement (median), ONLY a part of a name.
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (argc > 2) g_only = argv[2];
    auto &realm = testsupport::Realm::get();
    if (!realm.ok()) {
        std::fprintf(stderr, "no test realm: %s\n", realm.reason().c_str());
        return 1;
    }
    const double mb = static_cast<double>(kBulk) / (1024 * 1024);
    std::printf("Kerberos, %d alternating runs each (medians), pieces of %zu bytes; ratio = library / raw\n", runs,
                kPiece);
    report("level 2 send throughput", ls<2>, rs<2>, mb, "MB/s", runs);
    report("level 3 send throughput", ls<3>, rs<3>, mb, "MB/s", runs);
    report("level 2 receive throughput", lr<2>, rr<2>, mb, "MB/s", runs);
    report("level 3 receive throughput", lr<3>, rr<3>, mb, "MB/s", runs);
    report("level 2 round trips (64 bytes)", lt<2>, rt<2>, kRoundTrips, "rt/s", runs);
    report("level 3 round trips (64 bytes)", lt<3>, rt<3>, kRoundTrips, "rt/s", runs);
    report("context establishment", lib_contexts, raw_contexts, kContexts, "ctx/s", runs);
    return 0;
}
