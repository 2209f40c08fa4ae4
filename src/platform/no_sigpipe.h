// On POSIX a write to a connection that the peer has reset raises SIGPIPE, which ends the
// process unless the program handles it, and OpenSSL's socket writes cannot ask for MSG_NOSIGNAL.
// While a NoSigpipe lives, the calling thread holds SIGPIPE back, and a SIGPIPE that its own
// writes raised is dropped when the guard ends (the write still fails with EPIPE). Nothing to do
// on Windows.
#pragma once

namespace plat {

// Whether a write to a reset connection can raise SIGPIPE here (POSIX) or just fails (Windows).
bool writes_can_raise_sigpipe();

class NoSigpipe {
public:
    NoSigpipe();
    ~NoSigpipe();
    NoSigpipe(const NoSigpipe &) = delete;
    NoSigpipe &operator=(const NoSigpipe &) = delete;

private:
    alignas(8) unsigned char savedMask_[128]; // the thread's signal mask before the guard
    bool pendingBefore_ = false;
};

} // namespace plat
