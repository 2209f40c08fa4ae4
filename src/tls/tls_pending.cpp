// TLS is not built yet: no session can be created, so no TLS connection exists.
#include "diag/error_state.h"
#include "tls/netssl.h"

int s_SSLconfigExists(const char *) { return 0; }

int s_newSSLsession(RavlinkContext *, const char *, std::uint32_t) {
    s_setError("TLS is not available in this build.", 0);
    return 0;
}

void s_freeSSLsession(RavlinkSSLsession *) {}

std::uint32_t SSLrecvRavlink(RavlinkSSLsession *, void *, std::uint32_t, std::int32_t, std::int32_t,
                             std::int32_t) {
    return 0;
}

int SSLsendRavlink(RavlinkSSLsession *, const void *, std::uint32_t) { return 0; }
