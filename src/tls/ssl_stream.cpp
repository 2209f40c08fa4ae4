// read_all and write_all on a TLS connection: the same contracts as on the raw socket, carried
// out by the connection's TLS session.
#include <cstdint>

#include "core/context.h"
#include "diag/error_state.h"
#include "diag/trace.h"
#include "tls/netssl.h"

namespace {

// Seconds given to the TLS read when the connection waits without limit. The TLS read takes any
// negative value as no limit; -64 is the value it has always been handed, and its traces show it.
constexpr std::int32_t kNoTimeLimit = -64;

} // namespace

std::int32_t tls_read_all(RavlinkContext *pc, unsigned char *buffer, std::uint32_t wanted, std::int32_t partial) {
    std::int32_t seconds = kNoTimeLimit, microseconds = 0;
    struct timeval limit;
    if (s_currentTimeout(pc, &limit) != nullptr) {
        seconds = static_cast<std::int32_t>(limit.tv_sec);
        microseconds = static_cast<std::int32_t>(limit.tv_usec);
    }
    return static_cast<std::int32_t>(
        SSLrecvRavlink(pc->tlsSession, buffer, wanted, seconds, partial == 0 ? 1 : 0, microseconds));
}

std::int32_t tls_write_all(RavlinkContext *pc, const unsigned char *buffer, std::uint32_t length) {
    if (SSLsendRavlink(pc->tlsSession, buffer, length)) return static_cast<std::int32_t>(length);
    ravlink_tracelog(6, "write_all:  SSLsendRavlink() = returned error.\n");
    s_appendTlsError(pc);
    if (pc->tlsErrorText != nullptr && pc->tlsErrorText[0] != '\0')
        s_traceLibraryError("write_all:  sslerrortext = ", ".\n", true);
    return -1;
}
