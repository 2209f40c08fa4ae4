// Test support: loopback listeners of either family (with a chosen backlog, so that a full
// accept queue leaves further connects unanswered), raw sends and receives, time-outs.
#pragma once

#include <chrono>
#include <string>

#include "support/loopback.h"

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#endif

namespace testsupport {

inline timeval timeout_ms(long ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

struct TcpListener {
    ravlink_socket_t fd = RAVLINK_INVALID_SOCKET;
    int port = 0;
    explicit TcpListener(int family = AF_INET, int backlog = 16, int wantedPort = 0) {
        start_sockets();
        fd = ::socket(family, SOCK_STREAM, 0);
        sockaddr_storage a{};
        socklen_t n;
        if (family == AF_INET6) {
            auto *a6 = reinterpret_cast<sockaddr_in6 *>(&a);
            a6->sin6_family = AF_INET6;
            a6->sin6_addr = in6addr_loopback;
            a6->sin6_port = htons(static_cast<unsigned short>(wantedPort));
            n = sizeof *a6;
        } else {
            auto *a4 = reinterpret_cast<sockaddr_in *>(&a);
            a4->sin_family = AF_INET;
            a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a4->sin_port = htons(static_cast<unsigned short>(wantedPort));
            n = sizeof *a4;
        }
        if (::bind(fd, reinterpret_cast<sockaddr *>(&a), n) != 0 || ::listen(fd, backlog) != 0) {
            close_raw(fd);
            fd = RAVLINK_INVALID_SOCKET;
            return;
        }
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
        port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&a)->sin6_port
                                        : reinterpret_cast<sockaddr_in *>(&a)->sin_port);
    }
    ~TcpListener() {
        if (fd != RAVLINK_INVALID_SOCKET) close_raw(fd);
    }
    bool ok() const { return fd != RAVLINK_INVALID_SOCKET; }
    std::string port_text() const { return std::to_string(port); }
    ravlink_socket_t accept_one() { return ::accept(fd, nullptr, nullptr); }
    TcpListener(const TcpListener &) = delete;
    TcpListener &operator=(const TcpListener &) = delete;
};

// A port on 127.0.0.1 where nothing listens (taken and given back).
inline std::string closed_port() {
    TcpListener l;
    return l.port_text();
}

inline void send_raw(ravlink_socket_t s, const std::string &data) {
    size_t done = 0;
    while (done < data.size()) {
        int n = ::send(s, data.data() + done, static_cast<int>(data.size() - done), 0);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// Receives exactly n bytes (fewer when the peer closes).
inline std::string recv_raw(ravlink_socket_t s, size_t n) {
    std::string out;
    char buf[4096];
    while (out.size() < n) {
        size_t want = n - out.size() < sizeof buf ? n - out.size() : sizeof buf;
        int got = ::recv(s, buf, static_cast<int>(want), 0);
        if (got <= 0) break;
        out.append(buf, static_cast<size_t>(got));
    }
    return out;
}

// The local port of a connected socket, and the peer's port of an accepted one.
inline int local_port(ravlink_socket_t s) {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &n);
    return ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&a)->sin6_port
                                         : reinterpret_cast<sockaddr_in *>(&a)->sin_port);
}
inline int peer_port(ravlink_socket_t s) {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    ::getpeername(s, reinterpret_cast<sockaddr *>(&a), &n);
    return ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&a)->sin6_port
                                         : reinterpret_cast<sockaddr_in *>(&a)->sin_port);
}

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace testsupport
