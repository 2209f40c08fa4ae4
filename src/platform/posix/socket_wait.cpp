// select() on one socket, done with poll(): an fd_set cannot hold a descriptor of 1024 or more,
// and a process with many open files gets such descriptors. Outcomes are select()'s on Windows:
// a failed non-blocking connect shows in the exception set, not the write set.
#include <poll.h>
#include <sys/time.h>

#include <cerrno>
#include <chrono>
#include <climits>

#include "platform/codes.h"
#include "platform/posix/socket_errors.h"
#include "platform/sockets.h"

namespace plat {

int select_socket(socket_t s, unsigned sets, const struct timeval *timeout, unsigned *ready) {
    using clock = std::chrono::steady_clock;
    *ready = 0;
    if (timeout != nullptr && (timeout->tv_sec < 0 || timeout->tv_usec < 0)) {
        set_last_socket_error(codes::kWsaInvalid);
        return -1;
    }
    pollfd p{};
    p.fd = s;
    if (sets & kWaitRead) p.events |= POLLIN;
    if (sets & kWaitWrite) p.events |= POLLOUT;
    if (sets & kWaitExcept) p.events |= POLLPRI;

    // A limit beyond a century is no limit (and would overflow the clock's arithmetic).
    if (timeout != nullptr && timeout->tv_sec > 3'000'000'000LL) timeout = nullptr;
    clock::time_point deadline{};
    if (timeout != nullptr)
        deadline = clock::now() + std::chrono::seconds(timeout->tv_sec) +
                   std::chrono::microseconds(timeout->tv_usec);
    for (;;) {
        int wait_ms = -1;
        if (timeout != nullptr) {
            auto left = deadline - clock::now();
            if (left < clock::duration::zero()) left = clock::duration::zero();
            // Round up, so that a wait of a few microseconds does not become a busy loop.
            auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            wait_ms = ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
        }
        p.revents = 0;
        int n = ::poll(&p, 1, wait_ms);
        if (n < 0) {
            if (errno == EINTR) continue;
            set_last_socket_error(posix::wsa_from_errno(errno));
            return -1;
        }
        if (n == 0) {
            if (timeout != nullptr && clock::now() < deadline) continue; // a capped or early wake
            return 0;
        }
        break;
    }
    if (p.revents & POLLNVAL) {
        set_last_socket_error(codes::kWsaNotSocket);
        return -1;
    }
    bool failed = (p.revents & POLLERR) != 0;
    bool hangup = (p.revents & POLLHUP) != 0;
    if ((sets & kWaitRead) && (p.revents & POLLIN || failed || hangup)) *ready |= kWaitRead;
    if (sets & kWaitExcept) {
        if (p.revents & POLLPRI || failed) *ready |= kWaitExcept;
        if ((sets & kWaitWrite) && (p.revents & POLLOUT) && !failed) *ready |= kWaitWrite;
    } else if ((sets & kWaitWrite) && (p.revents & POLLOUT || failed)) {
        *ready |= kWaitWrite;
    }
    if (*ready == 0) return 0; // only a state the caller did not ask about: nothing to report
    return 1;
}

} // namespace plat
