// The connection context: one heap record per connection, opaque to callers. Fields in
// their documented order; every layer of the library reads and writes them by these names,
// so the record lives here, below all of them.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/sspi_types.h"
#include "ravlink.h"

struct RavlinkSSLsession;
struct RavlinkContext;

// How a connection's data moves: one table per kind of connection (raw socket, TLS, Kerberos
// messages), chosen once when the connection is made (api/transport.cpp). RavlinkSend and
// RavlinkRecv go through it and decide nothing else by kind.
struct Transport {
    // RavlinkRecv's work once its arguments are checked and its time-out installed: 0 (the bytes
    // delivered are the length asked, or rdlen in VREAD), else RavlinkRecv's failure result.
    std::int32_t (*receive)(RavlinkContext *pc, unsigned char *buffer, std::int32_t length);
    // RavlinkSend's work once the connection is checked: true when every byte went out.
    bool (*send)(RavlinkContext *pc, const unsigned char *buffer, std::uint32_t length,
                         const struct timeval *timeout);
};

// An outgoing protected message handed to send_token.
struct SendToken {
    std::uint32_t length;
    void *value;
};

// A received token; its buffer is reused from one token to the next.
struct RecvToken {
    std::int32_t capacity;
    std::int32_t length;
    unsigned char *value;
};

// Security types.
constexpr std::uint32_t kSecurityNone = 0;
constexpr std::uint32_t kSecurityKerberos = 1;
constexpr std::uint32_t kSecurityTls = 2;

// Receive mode bit 0: VREAD when set, FREAD when clear.
constexpr std::uint32_t kModeVread = 1;

struct RavlinkContext {
    plat::socket_t socket;
    sspi::Handle securityContext;
    sspi::Handle credentials;
    SendToken sendToken;
    sspi::Buffer wrapBuffers[3];
    sspi::BufferDesc wrapBufferDesc;
    std::uint32_t contextAttributes;
    std::int32_t securityLevel;
    std::uint32_t securityType;
    struct timeval *timeout;
    struct timeval timeoutValue;
    sspi::Sizes sizes;
    std::uint32_t error;
    RecvToken recvToken;
    unsigned char *heldData;
    std::int32_t heldLength;
    char *principal;
    std::uint32_t mode;
    std::int32_t rdlen;
    RavlinkSSLsession *tlsSession;
    char *tlsErrorText;
    char *tsClientName;
    char *errorText;
    RavlinkSSLconfig *sslConfig;
    // True when the TCP connect took a use of the socket library for this context; RavlinkClose
    // gives back only such a use (a context around the caller's socket holds none).
    bool socketLibraryUse;
    // Set when the connect has decided the kind of connection.
    const Transport *transport;
};

// True when the context is not null and holds a socket.
bool s_connectionUp(const RavlinkContext *pc);

// Allocates a zero-filled record with socket and both handles invalid; null when out of memory.
RavlinkContext *s_allocContext();

// Copies the caller's time-out into the context (null: wait without limit). A TLS connection may
// be read on one thread while another writes it, and the receive installs its time-out while the
// send waits under it: the copy is made, and read by s_currentTimeout, under a lock.
void s_installTimeout(RavlinkContext *pc, const struct timeval *timeout);
// The connection's time-out as it stands: copied into *copy, which is returned; null when the
// connection waits without limit.
const struct timeval *s_currentTimeout(const RavlinkContext *pc, struct timeval *copy);
