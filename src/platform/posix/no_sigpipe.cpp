// Holding SIGPIPE back on the calling thread while OpenSSL writes to a socket.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/no_sigpipe.h"

namespace plat {

static_assert(sizeof(sigset_t) <= 128, "the saved mask fits");

namespace {
sigset_t sigpipe_only() {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGPIPE);
    return s;
}
} // namespace

bool writes_can_raise_sigpipe() { return true; }

NoSigpipe::NoSigpipe() {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    pendingBefore_ = sigismember(&pending, SIGPIPE) == 1;
    sigset_t block = sigpipe_only(), old;
    pthread_sigmask(SIG_BLOCK, &block, &old);
    std::memcpy(savedMask_, &old, sizeof old);
}

NoSigpipe::~NoSigpipe() {
    const int savedErrno = errno; // the failed write's errno is what callers report
    if (!pendingBefore_) {
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1) {
            sigset_t block = sigpipe_only();
            const struct timespec now = {0, 0};
            sigtimedwait(&block, nullptr, &now);
        }
    }
    sigset_t old;
    std::memcpy(&old, savedMask_, sizeof old);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = savedErrno;
}

} // namespace plat
