// TCP connect: resolve, then try each address (IPv4 first) with a non-blocking connect under the
// caller's time-out; the first address that answers wins and clears the errors of earlier ones.
#include "net/tcp_connect.h"

#include <cstdio>
#include <string>

#include "diag/error_state.h"
#include "diag/trace.h"
#include "net/local_binding.h"
#include "net/resolver.h"
#include "net/socket_library.h"
#include "platform/codes.h"
#include "platform/sockets.h"

namespace {

enum class Attempt { Connected, NextAddress, Stop };

std::uint32_t last_code() { return static_cast<std::uint32_t>(plat::last_socket_error()); }

// The system's text for a code on one line, as FormatMessageA gives it without line breaks.
std::string one_line_message(int code) {
    std::string text = plat::system_message(static_cast<std::uint32_t>(code));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    for (char &c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

// Buffer sizes, no send delay and keep-alive, in that order (the socket is non-blocking from its
// creation). False (socket closed, error recorded) when a buffer size is refused.
bool set_options(plat::socket_t s, int family) {
    if (family == AF_INET6) plat::set_socket_option(s, plat::SocketOption::IPv6Only, 0);
    const int32_t rcvbuf = RavlinkRcvBuf, sndbuf = RavlinkSndBuf;
    if (rcvbuf != 0 && !plat::set_socket_option(s, plat::SocketOption::ReceiveBuffer, rcvbuf)) {
        s_setErrorf(last_code(), "setsockopt(sockfd,SOL_SOCKET,SO_RCVBUF,%d) failed.", rcvbuf);
        plat::close_socket(s);
        return false;
    }
    if (sndbuf != 0 && !plat::set_socket_option(s, plat::SocketOption::SendBuffer, sndbuf)) {
        s_setErrorf(last_code(), "setsockopt(sockfd,SOL_SOCKET,SO_SNDBUF,%d) failed.", sndbuf);
        plat::close_socket(s);
        return false;
    }
    plat::set_tcp_nodelay(s);
    plat::set_socket_option(s, plat::SocketOption::KeepAlive, 1);
    return true;
}

Attempt try_address(const addrinfo *ai, const struct timeval *timeout, plat::socket_t *connected) {
    plat::socket_t s = plat::open_socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
    if (s == plat::kInvalidSocket) {
        s_setError("Unable to create socket during TCP connect.", last_code());
        return Attempt::NextAddress;
    }
    if (!set_options(s, ai->ai_family)) return Attempt::Stop;
    if (s_bindto(s, ai->ai_family) != 0) {
        plat::close_socket(s);
        return Attempt::Stop;
    }
    if (plat::connect_socket(s, ai->ai_addr, static_cast<socklen_t>(ai->ai_addrlen))) {
        s_clearError();
        *connected = s;
        return Attempt::Connected;
    }
    std::uint32_t code = last_code();
    s_storeConnectionError(code);
    if (code != static_cast<std::uint32_t>(codes::kWsaWouldBlock)) {
        plat::close_socket(s);
        s_setError("TCP connect() failed.", code);
        plat::yield_processor();
        return Attempt::NextAddress;
    }
    unsigned ready = 0;
    int waited = plat::select_socket(s, plat::kWaitWrite | plat::kWaitExcept, timeout, &ready);
    if (waited < 0) {
        s_setError("TCP connect() failed.", last_code());
        plat::close_socket(s);
        return Attempt::NextAddress;
    }
    if (waited == 0) {
        plat::close_socket(s);
        s_setError("TCP connect() timed out.", 0);
        plat::yield_processor();
        return Attempt::NextAddress;
    }
    if ((ready & plat::kWaitExcept) == 0) {
        s_clearError();
        *connected = s;
        return Attempt::Connected;
    }
    int pending = plat::pending_socket_error(s);
    if (pending < 0) pending = 0;
    plat::close_socket(s);
    if (pending != 0)
        s_setError("TCP connect() failed - exception satisfied select().", static_cast<std::uint32_t>(pending));
    return Attempt::NextAddress;
}

} // namespace

int s_bindto(plat::socket_t s, int family) {
    const char *address = s_localBindingAddress();
    const char *port = s_localBindingPort();
    if (address == nullptr && port == nullptr) return 0;
    const char *shownAddress = address != nullptr ? address : "";
    const char *shownPort = port != nullptr ? port : "";
    ravlink_tracelog(1, "s_bindto(family=%d):  LocalBinding: address = %s, port=%s\n", family, shownAddress,
                     shownPort);

    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *list = nullptr;
    int result = s_resolverGetaddrinfo(address, port, &hints, &list);
    plat::set_last_socket_error(result);
    if (result != 0) {
        char text[1024];
        std::snprintf(text, sizeof text, "Unable to translate local binding address:  %s.",
                      one_line_message(result).c_str());
        s_setError(text, 0);
        ravlink_tracelog(6, "s_bindto(family=%d):  LocalBinding: address = %s, port=%s, %s\n", family,
                         shownAddress, shownPort, text);
    } else {
        if (!plat::bind_socket(s, list->ai_addr, static_cast<socklen_t>(list->ai_addrlen))) {
            result = plat::last_socket_error();
            s_setError("Unable to bind to local binding address or port.", static_cast<std::uint32_t>(result));
            ravlink_tracelog(6,
                             "s_bindto(family=%d):  Unable to bind to local binding address = %s, port=%s "
                             "failed, error = %d\n",
                             family, shownAddress, shownPort, result);
        }
        s_freeaddrinfo(list);
    }
    s_clearLocalBinding();
    return result;
}

plat::socket_t s_tcpconnect(const char *host, const char *port, const struct timeval *timeout, bool *tookUse) {
    s_storeConnectionError(0);
    *tookUse = s_wsockstart() != 0;
    if (!*tookUse) return plat::kInvalidSocket;
    addrinfo *list = s_getaddrinfo(host, port, 0, AI_CANONNAME);
    if (list == nullptr) {
        s_setError("getaddrinfo() failed during TCP connect.", last_code());
        return plat::kInvalidSocket;
    }
    plat::socket_t connected = plat::kInvalidSocket;
    bool stop = false;
    for (int family : {AF_INET, AF_INET6}) {
        for (const addrinfo *ai = list; ai != nullptr && !stop; ai = ai->ai_next) {
            if (ai->ai_family != family) continue;
            stop = try_address(ai, timeout, &connected) != Attempt::NextAddress;
        }
    }
    s_freeaddrinfo(list);
    return connected;
}
