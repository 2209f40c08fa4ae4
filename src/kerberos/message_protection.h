// Kerberos message protection: one wrapped token per piece sent, tokens unwrapped in place.
#pragma once

#include <cstdint>

struct RavlinkContext;
struct timeval;

// Wraps one piece (at most sizes.cbMaxToken bytes) into a token, encrypted at level 3 and signed
// only otherwise, and sends it. The time-out pointer is only traced. 1 or 0 (reason recorded).
std::int32_t s_KerberosSend(RavlinkContext *pc, const unsigned char *piece, std::int32_t length,
                            const struct timeval *timeout);

// Unwraps the token in pc->recvToken in place: *plain points at the plaintext inside the token's
// buffer and *length counts it. On failure the package's status is the connection's error and
// is recorded with its text.
bool s_unwrapToken(RavlinkContext *pc, unsigned char **plain, std::int32_t *length);
