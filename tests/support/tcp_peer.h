// Test support: time-outs, raw sends and receives, and ports of sockets, for loopback peers.
#pragma once

#include <chrono>
#include <string>

#include "support/loopback.h"

namespace testsupport {

inline timeval timeout_ms(long ms) {
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
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

// Receives exactly n bytes (fewer when the peer closes).
inline std::string recv_raw(ravlink_socket_t s, size_t n) {
    std::string out(n, '\0');
    size_t done = 0;
    for (int got; done < n && (got = ::recv(s, &out[done], static_cast<int>(n - done), 0)) > 0;)
        done += static_cast<size_t>(got);
    out.resize(done);
    return out;
}

// The local port of a socket, and the peer's port of a connected one.
inline int local_port(ravlink_socket_t s) {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &n);
    return port_of(a);
}
inline int peer_port(ravlink_socket_t s) {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    ::getpeername(s, reinterpret_cast<sockaddr *>(&a), &n);
    return port_of(a);
}

inline double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace testsupport
