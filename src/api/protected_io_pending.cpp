// Kerberos message protection is not built yet: protected sends and receives fail.
#include "api/context.h"
#include "api/protected_io.h"
#include "diag/error_state.h"

std::int32_t s_recvProtected(RavlinkContext *, unsigned char *, std::int32_t) {
    s_setError("Kerberos is not available in this build.", 0);
    return -2;
}

std::int32_t s_sendProtected(RavlinkContext *, const unsigned char *, std::uint32_t, const struct timeval *) {
    s_setError("Kerberos is not available in this build.", 0);
    return 0;
}
