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

#include "core/context.h"
#include "diag/trace.h"
#include "platform/sockets.h"
#include "platform/system_error.h"
#include "tls/ssl_write_bio.h"

namespace {

using ossl::api;

constexpr std::int32_t kHandshakeWaitSeconds = 3;

using Clock = std::chrono::steady_clock;

// A time-out as a clock duration.
Clock::duration duration_of(const struct timeval &t) {
    return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
}

// The bound of the handshake, so that a silent peer cannot hold it forever: the connection's
// time-out, but never less than the floor, since a short time-out that a caller installs for
// polling reads is no measure of how long a handshake may take; a generous fixed bound when the
// connection waits without limit (a server that accepted and never answers).
Clock::duration handshake_limit(const RavlinkSSLsession *session) {
    struct timeval copy;
    const struct timeval *t = session->context != nullptr ? s_currentTimeout(session->context, &copy) : nullptr;
    if (t == nullptr) return s_handshakeBounds.withoutTimeout;
    const Clock::duration limit = duration_of(*t);
    return limit < s_handshakeBounds.floor ? Clock::duration(s_handshakeBounds.floor) : limit;
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

// Runs the lazy set-up and handshake when the session has no connection object yet. It runs
// under the session's lock, so that a second thread making its first call at the same time waits
// for the handshake instead of starting one of its own on the same objects.
bool ensure_established(RavlinkSSLsession *session) {
    std::lock_guard<std::mutex> guard(session->lock);
    if (session->ssl != nullptr) return true;
    bool ok = SSLconfig(session) == 0 && s_SSLconnect(session) != 0;
    s_clearSSLerrors();
    if (!ok) *session->errorCode = kTlsFailure;
    return ok;
}

// Frees the OpenSSL objects of a session whose handshake did not complete: there is nothing to
// shut down, and SSL_shutdown on such a session would only queue an error.
void discard_objects(RavlinkSSLsession *session) {
    api.SSL_free(session->ssl);
    session->ssl = nullptr;
    if (session->sslContext != nullptr) api.SSL_CTX_free(session->sslContext);
    session->sslContext = nullptr;
    s_clearSSLerrors();
}

// The outcome of one SSL_read / SSL_write / SSL_connect: the count (> 0, or 1 for a finished
// handshake), else SSL_get_error's code, asked while the lock that covered the call is still held.
struct Outcome {
    int n;
    int code;
    bool retry() const { return code == ossl::kErrorWantRead || code == ossl::kErrorWantWrite; }
};

// One OpenSSL call on the session's connection object, with the thread's error queue emptied
// first so that SSL_get_error judges this call alone. The caller holds the session's lock.
template <class Call> Outcome judged_call(RavlinkSSLsession *session, Call call) {
    SigpipeGuard noSigpipe;
    s_clearSSLerrors();
    plat::clear_system_error();
    Outcome o{call(session->ssl), 0};
    if (o.n <= 0) o.code = api.SSL_get_error(session->ssl, o.n);
    return o;
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

HandshakeBounds s_handshakeBounds;

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
    session->verifyHostName = pc->sslConfig != nullptr ? 0 : -1;
    s_linkTlsSession(pc, session);
    return 1;
}

void s_clearSSLerrors() {
    if (tlsReady == 0) return;
    while (api.ERR_get_error() != 0) {
    }
}

void s_closeSSL(RavlinkSSLsession *session) {
    // A session holds a connection object only after a completed handshake (a failed one discards
    // it), so close_notify always goes to a peer that expects TLS records.
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
    s_clearSSLerrors();
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
    const Clock::duration limit = handshake_limit(session);
    const Clock::time_point deadline = Clock::now() + limit;
    const auto connect = [](ossl::SSL *ssl) { return api.SSL_connect(ssl); };
    for (Outcome o = judged_call(session, connect); o.n != 1; o = judged_call(session, connect)) {
        if (!o.retry()) {
            s_SSLerror(o.code, "SSL_connect()", session);
            s_nameExpectedHost(session, session->ssl);
            discard_objects(session);
            return 0;
        }
        if (expired(limit, deadline)) {
            ravlink_tracelog2("\r\nSSL/TLS handshake timed out.");
            s_setSessionError(session, "SSL/TLS error in SSL_connect(), operation timed out");
            discard_objects(session);
            return 0;
        }
        bounded_wait(o.code == ossl::kErrorWantRead, session->context->socket, kHandshakeWaitSeconds, limit,
                     deadline);
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
        Outcome o;
        {
            std::lock_guard<std::mutex> guard(session->lock);
            o = judged_call(session, [&](ossl::SSL *ssl) {
                return api.SSL_read(ssl, cursor + count, clamp_length(length - count));
            });
            if (o.n <= 0 && !o.retry()) s_SSLerror(o.code, "SSL_read()", session);
        }
        const int n = o.n;
        if (n > 0) {
            count += static_cast<std::uint32_t>(n);
            if (count == length) return length;
            if ((seconds == 0 && shortWait == 0) || readAll == 0) return count;
            if (shortWait != 0 || seconds < 0) continue;
            if (std::time(nullptr) <= deadline) continue;
            *session->errorCode = kTlsTimedOut;
            return count;
        }
        const int code = o.code;
        if (!o.retry()) {
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
    struct timeval copy;
    const struct timeval *t = s_currentTimeout(session->context, &copy);
    const Clock::duration limit = t != nullptr ? duration_of(*t) : Clock::duration::zero();
    Clock::time_point deadline = Clock::now() + limit;
    std::uint64_t onWire = bytes_on_wire(session);
    const auto *cursor = static_cast<const unsigned char *>(buffer);
    // SSL_write takes an int: a larger buffer goes in pieces.
    while (length > 0) {
        const int piece = clamp_length(length);
        int n;
        for (;;) {
            Outcome o;
            std::uint64_t written = onWire;
            {
                std::lock_guard<std::mutex> guard(session->lock);
                o = judged_call(session, [&](ossl::SSL *ssl) { return api.SSL_write(ssl, cursor, piece); });
                if (o.n <= 0 && !o.retry()) s_SSLerror(o.code, "SSL_write()", session);
                if (o.n <= 0) written = bytes_on_wire(session);
            }
            n = o.n;
            if (n > 0) break;
            const int code = o.code;
            if (!o.retry()) return 0;
            const Clock::time_point now = Clock::now();
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
