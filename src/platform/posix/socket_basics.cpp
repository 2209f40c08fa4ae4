// The socket calls a connection context makes on its own socket, and the last-error code.
#include <sys/ioctl.h>
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

bool fail_with_errno() {
    t_last_socket_error = posix::wsa_from_errno(errno);
    return false;
}
} // namespace

int last_socket_error() { return t_last_socket_error; }
void set_last_socket_error(int code) { t_last_socket_error = code; }

bool close_socket(socket_t s) {
    if (::close(s) == 0) return true;
    return fail_with_errno();
}

// FIONBIO, as ioctlsocket does it: one call where fcntl needs two.
bool set_nonblocking(socket_t s, bool on) {
    int value = on ? 1 : 0;
    if (ioctl(s, FIONBIO, &value) == 0) return true;
    return fail_with_errno();
}

bool set_tcp_nodelay(socket_t s) {
    int one = 1;
    if (setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0) return true;
    return fail_with_errno();
}

} // namespace plat
