// The write half of a session's socket. OpenSSL's socket BIO writes with write() or send()
// without MSG_NOSIGNAL, so on POSIX a write to a reset connection raises SIGPIPE. There, on
// OpenSSL 1.1 and later, the library writes through a BIO of its own that sends as the transport
// does (never raising a signal); reads stay with OpenSSL's socket BIO. On 1.0 the sessions hold
// SIGPIPE back around each OpenSSL call instead (SigpipeGuard). Windows has no SIGPIPE and keeps
// OpenSSL's socket BIO for both directions.
#pragma once

#include <optional>

#include "platform/no_sigpipe.h"
#include "platform/platform.h"
#include "tls/openssl_api.h"

// Builds the BIO method once OpenSSL is bound, when the series offers what it needs.
void s_makeWriteMethod();
// A write BIO on the socket; null when there is no method (1.0) or no memory.
ossl::BIO *s_newWriteBio(plat::socket_t socket);
// Whether sessions write through the library's BIO, so that no call can raise SIGPIPE.
bool s_writesRaiseNoSignal();

// Holds SIGPIPE back for one OpenSSL call when writes may raise it.
class SigpipeGuard {
public:
    SigpipeGuard() {
        if (!s_writesRaiseNoSignal()) guard_.emplace();
    }

private:
    std::optional<plat::NoSigpipe> guard_;
};
