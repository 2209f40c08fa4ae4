// Plain sockets for the tool, on Windows and POSIX.
#include "tool_net.h"

#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tool {

void start_sockets() {
    static bool started = [] {
#ifdef _WIN32
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
#else
        signal(SIGPIPE, SIG_IGN);
        return true;
#endif
    }();
    (void)started;
}

std::string socket_error_text() {
#ifdef _WIN32
    return "socket error " + std::to_string(WSAGetLastError());
#else
    return std::strerror(errno);
#endif
}

ravlink_socket_t listen_on(const std::string &address, const std::string &port, std::string &error) {
    start_sockets();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo *list = nullptr;
    int rc = getaddrinfo(address.empty() ? nullptr : address.c_str(), port.c_str(), &hints, &list);
    if (rc != 0) {
        error = "cannot resolve " + address + ":" + port + ": " + gai_strerror(rc);
        return RAVLINK_INVALID_SOCKET;
    }
    ravlink_socket_t s = RAVLINK_INVALID_SOCKET;
    for (addrinfo *ai = list; ai != nullptr; ai = ai->ai_next) {
        s = ::socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
        if (s == RAVLINK_INVALID_SOCKET) continue;
        int one = 1;
#ifdef _WIN32
        // On Windows SO_REUSEADDR would let another program bind the same port and take over its
        // clients; the exclusive use refuses that.
        setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&one), sizeof one);
#else
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&one), sizeof one);
#endif
        if (::bind(s, ai->ai_addr, static_cast<socklen_t>(ai->ai_addrlen)) == 0 && ::listen(s, 128) == 0) break;
        error = "cannot listen on " + address + ":" + port + ": " + socket_error_text();
        close_socket(s);
        s = RAVLINK_INVALID_SOCKET;
    }
    freeaddrinfo(list);
    return s;
}

int bound_port(ravlink_socket_t s) {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    if (getsockname(s, reinterpret_cast<sockaddr *>(&a), &n) != 0) return 0;
    if (a.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6 *>(&a)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in *>(&a)->sin_port);
}

ravlink_socket_t accept_client(ravlink_socket_t listener) {
    for (;;) {
        ravlink_socket_t c = ::accept(listener, nullptr, nullptr);
#ifndef _WIN32
        if (c == RAVLINK_INVALID_SOCKET && (errno == EINTR || errno == ECONNABORTED)) continue;
#endif
        return c;
    }
}

int send_some(ravlink_socket_t s, const void *data, int length) {
#ifdef _WIN32
    return ::send(s, static_cast<const char *>(data), length, 0);
#else
    return static_cast<int>(::send(s, data, static_cast<size_t>(length), MSG_NOSIGNAL));
#endif
}

int recv_some(ravlink_socket_t s, void *data, int length) {
    return static_cast<int>(::recv(s, static_cast<char *>(data), length, 0));
}

bool send_all(ravlink_socket_t s, const void *data, int length) {
    const char *p = static_cast<const char *>(data);
    while (length > 0) {
        int n = send_some(s, p, length);
        if (n <= 0) return false;
        p += n;
        length -= n;
    }
    return true;
}

void shutdown_send(ravlink_socket_t s) {
#ifdef _WIN32
    ::shutdown(s, SD_SEND);
#else
    ::shutdown(s, SHUT_WR);
#endif
}

void close_socket(ravlink_socket_t s) {
#ifdef _WIN32
    closesocket(s);
#else
    ::close(s);
#endif
}

} // namespace tool
