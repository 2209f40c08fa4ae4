// Test support: loopback listeners, connected TCP socket pairs, raw sends and receives, and small
// process helpers, for both builds (tests may use the sockets interface directly; the library may not).
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ravlink.h"

namespace testsupport {

inline void start_sockets() {
#ifdef _WIN32
    static const bool started = [] { WSADATA d; return WSAStartup(MAKEWORD(2, 2), &d) == 0; }();
    (void)started;
#endif
}

inline void close_raw(ravlink_socket_t s) {
#ifdef _WIN32
    closesocket(s);
#else
    ::close(s);
#endif
}

// The loopback address of a family with a port; returns its length.
inline socklen_t loopback_address(int family, int port, sockaddr_storage &a) {
    a = sockaddr_storage{};
    if (family == AF_INET6) {
        auto *a6 = reinterpret_cast<sockaddr_in6 *>(&a);
        a6->sin6_family = AF_INET6;
        a6->sin6_addr = in6addr_loopback;
        a6->sin6_port = htons(static_cast<unsigned short>(port));
        return sizeof *a6;
    }
    auto *a4 = reinterpret_cast<sockaddr_in *>(&a);
    a4->sin_family = AF_INET;
    a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a4->sin_port = htons(static_cast<unsigned short>(port));
    return sizeof *a4;
}

// The port of a socket's own address, and of the address a connected one is connected to.
inline int local_port(ravlink_socket_t s, bool peer = false) {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    (peer ? ::getpeername : ::getsockname)(s, reinterpret_cast<sockaddr *>(&a), &n);
    return ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&a)->sin6_port
                                         : reinterpret_cast<sockaddr_in *>(&a)->sin_port);
}
inline int peer_port(ravlink_socket_t s) { return local_port(s, true); }

// A listening socket on the loopback address with an ephemeral port; with backlog 0 a full accept
// queue leaves further connects unanswered. fd is invalid when the family has no loopback.
struct Listener {
    ravlink_socket_t fd = RAVLINK_INVALID_SOCKET;
    int port = 0;
    explicit Listener(int family = AF_INET, int backlog = 16) {
        start_sockets();
        fd = ::socket(family, SOCK_STREAM, 0);
        sockaddr_storage a;
        socklen_t n = loopback_address(family, 0, a);
        if (::bind(fd, reinterpret_cast<sockaddr *>(&a), n) != 0 || ::listen(fd, backlog) != 0) {
            close_raw(fd);
            fd = RAVLINK_INVALID_SOCKET;
            return;
        }
        port = local_port(fd);
    }
    ~Listener() {
        if (fd != RAVLINK_INVALID_SOCKET) close_raw(fd);
    }
    bool ok() const { return fd != RAVLINK_INVALID_SOCKET; }
    std::string port_text() const { return std::to_string(port); }
    ravlink_socket_t accept_one() { return ::accept(fd, nullptr, nullptr); }
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;
};

// A loopback server that runs its handler on a thread of its own for every connection it
// accepts, until it is destroyed: then it stops accepting, waits for the handlers and closes
// their sockets. Handlers bound their own waits.
class Service {
public:
    using Handler = std::function<void(ravlink_socket_t)>;
    explicit Service(Handler h) : handler_(std::move(h)), acceptor_([this] { run(); }) {}
    ~Service() {
        stop_ = true;
        acceptor_.join();
        for (std::thread &t : workers_) t.join();
    }
    std::string port_text() const { return listener_.port_text(); }
    Service(const Service &) = delete;
    Service &operator=(const Service &) = delete;

private:
    void run() {
        while (!stop_) {
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(listener_.fd, &ready);
            timeval poll = {0, 50000};
            if (::select(static_cast<int>(listener_.fd) + 1, &ready, nullptr, nullptr, &poll) <= 0) continue;
            ravlink_socket_t s = listener_.accept_one();
            if (s == RAVLINK_INVALID_SOCKET) continue;
            workers_.emplace_back([this, s] {
                handler_(s);
                close_raw(s);
            });
        }
    }
    Listener listener_{AF_INET, 128};
    Handler handler_;
    std::atomic<bool> stop_{false};
    std::vector<std::thread> workers_;
    std::thread acceptor_; // last: starts once the rest is made
};

// Bounds a test peer's receives on a socket, so that a silent client cannot hold it forever.
inline void limit_receives(ravlink_socket_t s, int seconds) {
#ifdef _WIN32
    DWORD ms = static_cast<DWORD>(seconds) * 1000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&ms), sizeof ms);
#else
    timeval limit = {seconds, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
#endif
}

// A TCP socket connected to a loopback port (its connect's result unchecked: a test looks).
inline ravlink_socket_t connect_raw(int port) {
    start_sockets();
    ravlink_socket_t s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_storage a;
    ::connect(s, reinterpret_cast<sockaddr *>(&a), loopback_address(AF_INET, port, a));
    return s;
}

// A connected pair: first the client end, then the server end.
inline std::pair<ravlink_socket_t, ravlink_socket_t> socket_pair() {
    Listener l;
    ravlink_socket_t c = connect_raw(l.port);
    return {c, l.accept_one()};
}

// A port on 127.0.0.1 where nothing listens (taken and given back).
inline std::string closed_port() { return Listener().port_text(); }

inline void send_raw(ravlink_socket_t s, const std::string &data) {
    for (size_t done = 0; done < data.size();) {
        int n = ::send(s, data.data() + done, static_cast<int>(data.size() - done), 0);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// A silent peer's session: reads and drops until the client closes (each receive bounded).
inline void drain(ravlink_socket_t s) {
    limit_receives(s, 20);
    char buf[4096];
    while (::recv(s, buf, sizeof buf, 0) > 0) {
    }
}

// A plain echo peer's session: echoes until the client closes (each receive bounded) and returns
// the whole stream it saw.
inline std::string echo_and_collect(ravlink_socket_t s) {
    limit_receives(s, 20);
    std::string got;
    char buf[4096];
    int n;
    while ((n = static_cast<int>(::recv(s, buf, sizeof buf, 0))) > 0) {
        got.append(buf, static_cast<std::size_t>(n));
        send_raw(s, std::string(buf, static_cast<std::size_t>(n)));
    }
    return got;
}

// Sends a message on a connection and reads it back whole: "" when it came back, else what went wrong.
inline std::string echo_problem(RavlinkContext *pc, const std::string &m, const timeval *tv) {
    std::string back(m.size(), '\0');
    if (RavlinkSend(pc, m.data(), static_cast<uint32_t>(m.size()), tv) != 1)
        return std::string("send: ") + RavlinkGetErrorString(pc);
    const int32_t rc = RavlinkRecv(pc, &back[0], static_cast<int32_t>(back.size()), tv);
    if (rc != 0) return "recv " + std::to_string(rc) + ": " + RavlinkGetErrorString(pc);
    return back == m ? "" : "echo differs: " + back.substr(0, 200);
}

// What the threads of a test report went wrong; summary() is "" when nothing did.
class Problems {
public:
    void add(const std::string &p) {
        std::lock_guard<std::mutex> g(m_);
        list_.push_back(p);
    }
    std::string summary() {
        std::lock_guard<std::mutex> g(m_);
        return list_.empty() ? "" : std::to_string(list_.size()) + " problems, the first: " + list_[0];
    }

private:
    std::mutex m_;
    std::vector<std::string> list_;
};

inline bool starts_with(const std::string &text, const std::string &head) { return text.rfind(head, 0) == 0; }

// How often a text holds a needle.
inline std::size_t occurrences(const std::string &text, const std::string &needle) {
    std::size_t n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

inline timeval timeout_ms(long ms) { return timeval{ms / 1000, (ms % 1000) * 1000}; }

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A level-0 context over one end of a loopback pair, its waits bounded by the time-out, and the
// other end.
struct ContextPair {
    std::pair<ravlink_socket_t, ravlink_socket_t> ends = socket_pair();
    RavlinkContext *pc;
    ravlink_socket_t server = ends.second;
    explicit ContextPair(const timeval *timeout = nullptr)
        : pc(RavlinkInitContext(ends.first, timeout, 0, nullptr, nullptr, nullptr, nullptr)) {}
    ~ContextPair() {
        RavlinkClose(pc);
        if (server != RAVLINK_INVALID_SOCKET) close_raw(server);
    }
};

// Whether the program runs under Wine (whose ntdll exports wine_get_version).
inline bool under_wine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

inline void set_env(const char *name, const char *value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

// Runs a command and returns what it printed on standard output.
inline std::string run_capture(const std::string &command) {
#ifdef _WIN32
    FILE *p = _popen(command.c_str(), "r");
#else
    FILE *p = popen(command.c_str(), "r");
#endif
    std::string out;
    if (p == nullptr) return out;
    char buf[512];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
#ifdef _WIN32
    _pclose(p);
#else
    pclose(p);
#endif
    return out;
}

} // namespace testsupport
