// The TLS state of one connection, and the layer's internal routines around it.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "ravlink.h"
#include "tls/netssl.h"
#include "tls/openssl_api.h"

struct RavlinkSSLsession {
    std::int32_t nameLength;
    char *name;                  // the registry configuration's name, stored behind the object
    ossl::SSL_CTX *sslContext;
    ossl::SSL *ssl;              // null until the connection is set up
    RavlinkContext *context;
    std::uint32_t *errorCode;    // the context's error field
    std::mutex lock;             // held during SSL_read and SSL_write
    RavlinkSSLconfig *config;    // the context's packed record; null: use the named configuration
    std::uint64_t lastErrorLength;
    char lastError[256];
    std::string host;            // the server's address as the caller gave it
    std::int32_t verifyHostName; // 1: the certificate must match host; -1: the named configuration says
};

// The connection codes this layer stores.
constexpr std::uint32_t kTlsFailure = static_cast<std::uint32_t>(-6);
constexpr std::uint32_t kTlsTimedOut = static_cast<std::uint32_t>(-1);

// How long a handshake may take: at least `floor` (also the least bound of the write loop), and
// `withoutTimeout` when the connection has no time-out. Tests shorten them.
struct HandshakeBounds {
    std::chrono::seconds floor{10};
    std::chrono::seconds withoutTimeout{60};
};
extern HandshakeBounds s_handshakeBounds;

// Links a new TLS session to its context: the context keeps the session and the address of
// its error text; the session learns the context, where to store error codes, and the
// packed configuration (null when the configuration is given by name).
void s_linkTlsSession(RavlinkContext *pc, RavlinkSSLsession *session);

// Builds the session's OpenSSL context and connection object and attaches the socket.
// 0 on success; -1 with the error text set and nothing left allocated.
int SSLconfig(RavlinkSSLsession *session);
// OpenSSL's pass-phrase callback: copies the configured pass phrase when a key is read.
int s_passwordCallback(char *buffer, int size, int rwflag, void *userdata);
// The client handshake: 1 when done, 0 when it failed (error text set, OpenSSL objects freed).
int s_SSLconnect(RavlinkSSLsession *session);
// One wait on the socket, for reading or for writing.
void s_SSLwait(int wantRead, plat::socket_t socket, std::int32_t seconds, std::int32_t microseconds);
// Shuts the session's connection down (close_notify) and frees its OpenSSL objects; the session stays.
void s_closeSSL(RavlinkSSLsession *session);
// Empties the calling thread's OpenSSL error queue (nothing before OpenSSL is bound).
void s_clearSSLerrors();

// Replaces the session's error text after a failed SSL_connect / SSL_read / SSL_write.
void s_SSLerror(int code, const char *operation, RavlinkSSLsession *session);
// Empties OpenSSL's error queue, oldest entry first: each goes to the trace and joins text
// (after ", " unless text is empty) when the whole entry fits within 255 characters.
void s_drainErrorQueue(std::string &text);
// The certificate-verification callback: traces a rejected certificate, keeps OpenSSL's verdict.
int s_verifyCallback(int preverify, ossl::X509_STORE_CTX *store);

// Sends the server name (SNI) when the session's host is a name, and with verify set makes the
// handshake check the server's certificate against the host. False, with the error text set,
// when the check cannot be made.
bool s_applyPeerName(RavlinkSSLsession *session, ossl::SSL *ssl, bool verify);
// After a failed handshake: names the expected host in the error text when the certificate did
// not match it.
void s_nameExpectedHost(RavlinkSSLsession *session, ossl::SSL *ssl);

// Sets the session's error text (cut to 255 characters).
void s_setSessionError(RavlinkSSLsession *session, const char *text);
