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

// Leaves errno's Winsock number as the last socket error; -1, a failed count.
int fail() {
    set_last_socket_error(posix::wsa_from_errno(errno));
    return -1;
}

bool failed() {
    fail();
    return false;
}

} // namespace

socket_t open_socket(int family, int type, int protocol) {
    int s = ::socket(family, type | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
    if (s < 0) fail();
    return s < 0 ? kInvalidSocket : s;
}

bool connect_socket(socket_t s, const sockaddr *address, socklen_t length) {
    if (::connect(s, address, length) == 0) return true;
    return failed();
}

bool bind_socket(socket_t s, const sockaddr *address, socklen_t length) {
    if (::bind(s, address, length) == 0) return true;
    return failed();
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

bool set_socket_option(socket_t s, SocketOption option, int value) {
    int level, name;
    if (!option_place(option, level, name)) {
        set_last_socket_error(codes::kWsaNoProtoOpt);
        return false;
    }
    // Linux quietly turns a negative buffer size into its minimum; refuse it as a bad argument.
    if ((option == SocketOption::ReceiveBuffer || option == SocketOption::SendBuffer) && value < 0) {
        set_last_socket_error(codes::kWsaInvalid);
        return false;
    }
    if (::setsockopt(s, level, name, &value, sizeof value) == 0) return true;
    return failed();
}

int pending_socket_error(socket_t s) {
    int err = 0;
    socklen_t n = sizeof err;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &n) != 0) return fail();
    return posix::wsa_from_errno(err);
}

} // namespace plat
