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
// Shuts the session down and frees it; nothing for null.
void s_freeSSLsession(RavlinkSSLsession *session);
// Reads up to length bytes (exactly length when readAll is set). Negative seconds: no limit.
std::uint32_t SSLrecvRavlink(RavlinkSSLsession *session, void *buffer, std::uint32_t length,
                             std::int32_t seconds, std::int32_t readAll, std::int32_t microseconds);
// Writes length bytes. 1 when all were written, 0 on failure.
int SSLsendRavlink(RavlinkSSLsession *session, const void *buffer, std::uint32_t length);
