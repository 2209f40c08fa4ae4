// The transport's socket calls on POSIX, with Winsock's outcomes: errno becomes a Winsock number
// in the thread's last socket error (a successful send or receive leaves 0 there, as Winsock
// does); a send never raises SIGPIPE; interrupted calls are resumed.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/codes.h"
#include "platform/posix/socket_errors.h"
#include "platform/socket_option_place.h"
#include "platform/sockets.h"

namespace plat {

namespace {

int fail() {
    set_last_socket_error(posix::wsa_from_errno(errno));
    return -1;
}

} // namespace

socket_t open_socket(int family, int type, int protocol) {
    int s = ::socket(family, type | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
    if (s < 0) fail();
    return s < 0 ? kInvalidSocket : s;
}

int connect_socket(socket_t s, const sockaddr *address, socklen_t length) {
    return ::connect(s, address, length) == 0 ? 0 : fail();
}

int bind_socket(socket_t s, const sockaddr *address, socklen_t length) {
    return ::bind(s, address, length) == 0 ? 0 : fail();
}

int send_bytes(socket_t s, const void *data, int length) {
    for (;;) {
        ssize_t n = ::send(s, data, static_cast<size_t>(length), MSG_NOSIGNAL);
        if (n >= 0) {
            set_last_socket_error(0);
            return static_cast<int>(n);
        }
        if (errno != EINTR) return fail();
    }
}

int recv_bytes(socket_t s, void *data, int length) {
    for (;;) {
        ssize_t n = ::recv(s, data, static_cast<size_t>(length), 0);
        if (n >= 0) {
            set_last_socket_error(0);
            return static_cast<int>(n);
        }
        if (errno != EINTR) return fail();
    }
}

int set_socket_option(socket_t s, SocketOption option, int value) {
    int level, name;
    if (!option_place(option, level, name)) {
        set_last_socket_error(codes::kWsaNoProtoOpt);
        return -1;
    }
    // Linux quietly turns a negative buffer size into its minimum; refuse it as a bad argument.
    if ((option == SocketOption::ReceiveBuffer || option == SocketOption::SendBuffer) && value < 0) {
        set_last_socket_error(codes::kWsaInvalid);
        return -1;
    }
    return ::setsockopt(s, level, name, &value, sizeof value) == 0 ? 0 : fail();
}

int pending_socket_error(socket_t s) {
    int err = 0;
    socklen_t n = sizeof err;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &n) != 0) return fail();
    return posix::wsa_from_errno(err);
}

} // namespace plat
