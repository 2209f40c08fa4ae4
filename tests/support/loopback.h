// Test support: connected TCP socket pairs on loopback, and small process helpers, for both
// builds (tests may use the sockets interface directly; the library may not).
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

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "ravlink.h"

namespace testsupport {

inline void start_sockets() {
#ifdef _WIN32
    static bool started = [] {
        WSADATA d;
        return WSAStartup(MAKEWORD(2, 2), &d) == 0;
    }();
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

// A listening socket on 127.0.0.1 with an ephemeral port.
struct Listener {
    ravlink_socket_t fd = RAVLINK_INVALID_SOCKET;
    int port = 0;
    Listener() {
        start_sockets();
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(fd, 16);
        socklen_t n = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n);
        port = ntohs(a.sin_port);
    }
    ~Listener() {
        if (fd != RAVLINK_INVALID_SOCKET) close_raw(fd);
    }
    std::string port_text() const { return std::to_string(port); }
    ravlink_socket_t accept_one() { return ::accept(fd, nullptr, nullptr); }
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;
};

// A connected pair: first the client end, then the server end.
inline std::pair<ravlink_socket_t, ravlink_socket_t> socket_pair() {
    Listener l;
    ravlink_socket_t c = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<unsigned short>(l.port));
    ::connect(c, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ravlink_socket_t s = l.accept_one();
    return {c, s};
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
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
#ifdef _WIN32
    _pclose(p);
#else
    pclose(p);
#endif
    return out;
}

} // namespace testsupport
