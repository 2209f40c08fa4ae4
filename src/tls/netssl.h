// The TLS layer's interface to the rest of the library.
#pragma once

#include <cstdint>

struct RavlinkContext;
struct RavlinkSSLsession;

// 1 when a named TLS configuration exists in the registry (current user, else local machine).
int s_SSLconfigExists(const char *name);

// Creates the TLS session of a context and links it (s_linkTlsSession). The name is the
// registry configuration's name (level 10); with a packed configuration in pc->sslConfig it is
// not used. 1 when made and linked, 0 when memory is exhausted.
int s_newSSLsession(RavlinkContext *pc, const char *name, std::uint32_t nameLength);
// Gives the session the server's address as the caller wrote it: a host name is sent as the
// server name (SNI); with verifyHostName 1 the server's certificate must match it (as a DNS name
// or an IP address); -1 leaves that to the named registry configuration's VerifyHostName.
// False when memory is exhausted.
bool s_setSSLpeer(RavlinkSSLsession *session, const char *host, std::int32_t verifyHostName);
// Whether level-11 connections made from now on verify the server's host name (process-wide).
std::int32_t s_verifyHostNameForRecords();
// Shuts the session down and frees it; nothing for null.
void s_freeSSLsession(RavlinkSSLsession *session);
// Reads up to length bytes (exactly length when readAll is set). Negative seconds: no limit.
std::uint32_t SSLrecvRavlink(RavlinkSSLsession *session, void *buffer, std::uint32_t length,
                             std::int32_t seconds, std::int32_t readAll, std::int32_t microseconds);
// Writes length bytes. 1 when all were written, 0 on failure.
int SSLsendRavlink(RavlinkSSLsession *session, const void *buffer, std::uint32_t length);

// read_all and write_all of a TLS connection: the raw socket's contracts (net/socket_io.h),
// carried out by pc->tlsSession. Without a time-out the read is handed -64 seconds (no limit). A
// failed write traces and appends the session's text and returns -1.
std::int32_t tls_read_all(RavlinkContext *pc, unsigned char *buffer, std::uint32_t wanted, std::int32_t partial);
std::int32_t tls_write_all(RavlinkContext *pc, const unsigned char *buffer, std::uint32_t length);
