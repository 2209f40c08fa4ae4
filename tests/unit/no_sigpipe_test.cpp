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

TEST(NoSigpipe, WriteToAClosedPeerFailsQuietlyAndLeavesTheThreadAsItWas) {
    EXPECT_EXIT(
        {
            signal(SIGPIPE, SIG_DFL); // the default ends the process
            int sv[2];
            if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) _exit(10);
            close(sv[1]);
            int savedErrno = 0;
            {
                plat::NoSigpipe guard;
                if (write(sv[0], "x", 1) != -1) _exit(11);
                savedErrno = errno;
            }
            if (savedErrno != EPIPE || errno != EPIPE) _exit(12); // errno survives the guard
            if (sigpipe_pending() || sigpipe_blocked()) _exit(13);
            _exit(0);
        },
        testing::ExitedWithCode(0), "");
}

TEST(NoSigpipe, ASigpipePendingBeforeTheGuardStaysPending) {
    EXPECT_EXIT(
        {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
            raise(SIGPIPE);
            int sv[2];
            if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) _exit(10);
            close(sv[1]);
            {
                plat::NoSigpipe guard;
                (void)!write(sv[0], "x", 1);
            }
            // Not the guard's to drop: it belongs to the program, and the mask stays blocked.
            _exit(sigpipe_pending() && sigpipe_blocked() ? 0 : 13);
        },
        testing::ExitedWithCode(0), "");
}

} // namespace
#endif
