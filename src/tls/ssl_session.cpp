// TLS sessions: creation and linking, the lazy set-up and handshake on first use, reads under
// the connection's time-out, writes, and closing.
#include "tls/ssl_session.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "api/context.h"
#include "diag/trace.h"
#include "platform/sockets.h"
#include "platform/system_error.h"
#include "tls/ssl_write_bio.h"

namespace {

using ossl::api;

constexpr std::int32_t kHandshakeWaitSeconds = 3;

using Clock = std::chrono::steady_clock;

// The bound of the handshake, so that a silent peer cannot hold it forever: the connection's
// time-out, but never less than kMinimumBound, since a short time-out that a caller installs
// for polling reads is no measure of how long a handshake may take.
// Zero (no bound) when the connection waits without limit.
constexpr std::chrono::seconds kMinimumBound{10};

Clock::duration operation_limit(const RavlinkSSLsession *session) {
    const struct timeval *t = session->context != nullptr ? session->context->timeout : nullptr;
    if (t == nullptr) return Clock::duration::zero();
    Clock::duration limit = std::chrono::seconds(t->tv_sec) + std::chrono::microseconds(t->tv_usec);
    return limit < kMinimumBound ? Clock::duration(kMinimumBound) : limit;
}

// Whether a bounded operation has run out of time.
bool expired(Clock::duration limit, Clock::time_point deadline) {
    return limit != Clock::duration::zero() && Clock::now() >= deadline;
}

// One wait of at most `step` seconds, shortened to what is left of a bounded operation.
void bounded_wait(int wantRead, plat::socket_t socket, std::int32_t step, Clock::duration limit,
                  Clock::time_point deadline) {
    auto wait = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::seconds(step));
    if (limit != Clock::duration::zero()) {
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left < wait) wait = left < std::chrono::microseconds(0) ? std::chrono::microseconds(0) : left;
    }
    s_SSLwait(wantRead, socket, static_cast<std::int32_t>(wait.count() / 1000000),
              static_cast<std::int32_t>(wait.count() % 1000000));
}

// Runs the lazy set-up and handshake when the session has no connection object yet.
bool ensure_established(RavlinkSSLsession *session) {
    if (session->ssl != nullptr) return true;
    if (SSLconfig(session) != 0 || s_SSLconnect(session) == 0) {
        *session->errorCode = kTlsFailure;
        return false;
    }
    return true;
}

// The handshake step; OpenSSL's calls may write to the socket (see SigpipeGuard).
int guarded_connect(ossl::SSL *ssl) {
    SigpipeGuard guard;
    return api.SSL_connect(ssl);
}

// Bytes OpenSSL has handed to the socket so far (the write BIO's count); the measure of a
// write's progress. 0 when the series lacks the calls, which leaves whole pieces as the measure.
std::uint64_t bytes_on_wire(const RavlinkSSLsession *session) {
    if (api.SSL_get_wbio == nullptr || api.BIO_number_written == nullptr) return 0;
    ossl::BIO *bio = api.SSL_get_wbio(session->ssl);
    // 1.0 returns an unsigned long, 32 bits wide on Windows: only the low half is compared.
    return bio != nullptr ? static_cast<std::uint32_t>(api.BIO_number_written(bio)) : 0;
}

int clamp_length(std::uint32_t length) {
    return length > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

} // namespace

void s_linkTlsSession(RavlinkContext *pc, RavlinkSSLsession *session) {
    pc->tlsSession = session;
    pc->tlsErrorText = session->lastError;
    session->context = pc;
    session->errorCode = &pc->error;
    session->config = pc->sslConfig;
}

int s_newSSLsession(RavlinkContext *pc, const char *name, std::uint32_t nameLength) {
    if (name == nullptr) nameLength = 0;
    void *memory = std::malloc(sizeof(RavlinkSSLsession) + nameLength + 1);
    if (memory == nullptr) return 0;
    std::memset(memory, 0, sizeof(RavlinkSSLsession));
    auto *session = new (memory) RavlinkSSLsession{};
    session->nameLength = static_cast<std::int32_t>(nameLength);
    session->name = reinterpret_cast<char *>(session + 1);
    if (nameLength > 0) std::strncpy(session->name, name, nameLength);
    session->name[nameLength] = '\0';
    s_linkTlsSession(pc, session);
    return 1;
}

void s_closeSSL(RavlinkSSLsession *session) {
    if (session->ssl != nullptr) {
        {
            SigpipeGuard guard;
            api.SSL_shutdown(session->ssl);
        }
        api.SSL_free(session->ssl);
        session->ssl = nullptr;
    }
    if (session->sslContext != nullptr) {
        api.SSL_CTX_free(session->sslContext);
        session->sslContext = nullptr;
    }
}

void s_freeSSLsession(RavlinkSSLsession *session) {
    if (session == nullptr) return;
    s_closeSSL(session);
    session->~RavlinkSSLsession();
    std::free(session);
}

void s_SSLwait(int wantRead, plat::socket_t socket, std::int32_t seconds, std::int32_t microseconds) {
    struct timeval limit;
    limit.tv_sec = seconds;
    limit.tv_usec = microseconds;
    unsigned ready = 0;
    plat::select_socket(socket, wantRead ? plat::kWaitRead : plat::kWaitWrite, &limit, &ready);
}

int s_SSLconnect(RavlinkSSLsession *session) {
    ravlink_tracelog2("\r\nSSL/TLS client requested.");
    const Clock::duration limit = operation_limit(session);
    const Clock::time_point deadline = Clock::now() + limit;
    int rc = guarded_connect(session->ssl);
    while (rc != 1) {
        int code = api.SSL_get_error(session->ssl, rc);
        if (code != ossl::kErrorWantRead && code != ossl::kErrorWantWrite) {
            s_SSLerror(code, "SSL_connect()", session);
            s_closeSSL(session);
            return 0;
        }
        if (expired(limit, deadline)) {
            ravlink_tracelog2("\r\nSSL/TLS handshake timed out.");
            s_setSessionError(session, "SSL/TLS error in SSL_connect(), operation timed out");
            s_closeSSL(session);
            return 0;
        }
        bounded_wait(code == ossl::kErrorWantRead, session->context->socket, kHandshakeWaitSeconds, limit,
                     deadline);
        rc = guarded_connect(session->ssl);
    }
    return 1;
}

std::uint32_t SSLrecvRavlink(RavlinkSSLsession *session, void *buffer, std::uint32_t length,
                             std::int32_t seconds, std::int32_t readAll, std::int32_t microseconds) {
    // A microseconds part grants one short wait first, scaled by 10000 and kept below a second
    // (20 microseconds wait 0.2 s): callers' time-outs have always been tuned to this scale on TLS
    // connections, so it stays although the field's unit says otherwise.
    std::int64_t shortWait = 0;
    if (microseconds != 0) {
        shortWait = static_cast<std::int64_t>(microseconds) * 10000;
        if (shortWait > 1000000) shortWait = 999999;
    }
    if (!ensure_established(session)) return 0;

    std::time_t deadline = seconds > 0 ? std::time(nullptr) + seconds : 0;
    auto *cursor = static_cast<unsigned char *>(buffer);
    std::uint32_t count = 0;
    for (;;) {
        plat::clear_system_error();
        int n;
        {
            std::lock_guard<std::mutex> guard(session->lock);
            SigpipeGuard noSigpipe;
            n = api.SSL_read(session->ssl, cursor + count, clamp_length(length - count));
        }
        if (n > 0) {
            count += static_cast<std::uint32_t>(n);
            if (count == length) return length;
            if ((seconds == 0 && shortWait == 0) || readAll == 0) return count;
            if (shortWait != 0 || seconds < 0) continue;
            if (std::time(nullptr) <= deadline) continue;
            *session->errorCode = kTlsTimedOut;
            return count;
        }
        int code = api.SSL_get_error(session->ssl, n);
        if (code != ossl::kErrorWantRead && code != ossl::kErrorWantWrite) {
            s_SSLerror(code, "SSL_read()", session);
            *session->errorCode = kTlsFailure;
            return count;
        }
        if (seconds > 0 && std::time(nullptr) > deadline) {
            *session->errorCode = kTlsTimedOut;
            return count;
        }
        if (seconds == 0 && shortWait == 0) {
            *session->errorCode = kTlsTimedOut;
            return count;
        }
        if (shortWait != 0) {
            s_SSLwait(code == ossl::kErrorWantRead, session->context->socket, 0,
                      static_cast<std::int32_t>(shortWait));
            shortWait = 0;
            if (seconds > 0) deadline = std::time(nullptr) + seconds;
        } else {
            s_SSLwait(code == ossl::kErrorWantRead, session->context->socket, 1, 0);
        }
    }
}

int SSLsendRavlink(RavlinkSSLsession *session, const void *buffer, std::uint32_t length) {
    if (!ensure_established(session)) return 0;
    // Like the plain write: the loop goes on while each time-out sees bytes reach the socket, and
    // ends only after a whole time-out without any. No time-out: no limit.
    const struct timeval *t = session->context->timeout;
    const Clock::duration limit =
        t != nullptr ? Clock::duration(std::chrono::seconds(t->tv_sec) + std::chrono::microseconds(t->tv_usec))
                     : Clock::duration::zero();
    Clock::time_point deadline = Clock::now() + limit;
    std::uint64_t onWire = bytes_on_wire(session);
    const auto *cursor = static_cast<const unsigned char *>(buffer);
    // SSL_write takes an int: a larger buffer goes in pieces.
    while (length > 0) {
        const int piece = clamp_length(length);
        int n;
        for (;;) {
            plat::clear_system_error();
            {
                std::lock_guard<std::mutex> guard(session->lock);
                SigpipeGuard noSigpipe;
                n = api.SSL_write(session->ssl, cursor, piece);
            }
            if (n > 0) break;
            int code = api.SSL_get_error(session->ssl, n);
            if (code != ossl::kErrorWantRead && code != ossl::kErrorWantWrite) {
                s_SSLerror(code, "SSL_write()", session);
                return 0;
            }
            const Clock::time_point now = Clock::now();
            const std::uint64_t written = bytes_on_wire(session);
            if (written != onWire) {
                onWire = written;
                deadline = now + limit;
            } else if (t != nullptr && now >= deadline) {
                ravlink_tracelog2("\r\nSSL/TLS write timed out.");
                s_setSessionError(session, "SSL/TLS error in SSL_write(), operation timed out");
                return 0;
            }
            auto wait = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::seconds(1));
            if (t != nullptr)
                wait = std::min(wait, std::chrono::duration_cast<std::chrono::microseconds>(deadline - now));
            s_SSLwait(code == ossl::kErrorWantRead, session->context->socket,
                      static_cast<std::int32_t>(wait.count() / 1000000),
                      static_cast<std::int32_t>(wait.count() % 1000000));
        }
        cursor += n;
        length -= static_cast<std::uint32_t>(n);
        onWire = bytes_on_wire(session);
        deadline = Clock::now() + limit;
    }
    return 1;
}
