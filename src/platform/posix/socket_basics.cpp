// The socket calls a connection context makes on its own socket, and the last-error code.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/socket_errors.h"

namespace plat {

namespace {
thread_local int t_last_socket_error = 0;

int fail_with_errno() {
    t_last_socket_error = posix::wsa_from_errno(errno);
    return -1;
}
} // namespace

int last_socket_error() { return t_last_socket_error; }
void set_last_socket_error(int code) { t_last_socket_error = code; }

int close_socket(socket_t s) { return ::close(s) == 0 ? 0 : fail_with_errno(); }

int set_nonblocking(socket_t s, bool on) {
    int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0) return fail_with_errno();
    flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return fcntl(s, F_SETFL, flags) == 0 ? 0 : fail_with_errno();
}

int set_tcp_nodelay(socket_t s) {
    int one = 1;
    return setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0 ? 0 : fail_with_errno();
}

} // namespace plat
