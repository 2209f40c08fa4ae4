// Holding SIGPIPE back around writes that cannot ask for MSG_NOSIGNAL (the TLS layer's way on
// OpenSSL 1.0): a write to a closed peer fails with EPIPE, the process lives on, no SIGPIPE is
// left pending and the thread's signal mask is what it was.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/no_sigpipe.h"

namespace {

bool sigpipe_pending() {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}

bool sigpipe_blocked() {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, SIGPIPE) == 1;
}

// A write to a closed peer under the guard; true when it failed with EPIPE, kept in errno.
bool guarded_write_fails() {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return false;
    close(sv[1]);
    int savedErrno = 0;
    {
        plat::NoSigpipe guard;
        if (write(sv[0], "x", 1) != -1) return false;
        savedErrno = errno;
    }
    close(sv[0]);
    return savedErrno == EPIPE && errno == EPIPE; // errno survives the guard
}

// First with SIGPIPE's default action (which ends the process) and nothing blocked; then with a
// SIGPIPE of the program's own pending and blocked, which is not the guard's to drop.
TEST(NoSigpipe, WriteToAClosedPeerFailsQuietlyAndLeavesTheThreadAsItWas) {
    EXPECT_EXIT(
        {
            signal(SIGPIPE, SIG_DFL);
            if (!guarded_write_fails()) _exit(11);
            if (sigpipe_pending() || sigpipe_blocked()) _exit(12);
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
            raise(SIGPIPE);
            if (!guarded_write_fails()) _exit(13);
            _exit(sigpipe_pending() && sigpipe_blocked() ? 0 : 14);
        },
        testing::ExitedWithCode(0), "");
}

} // namespace
#endif
