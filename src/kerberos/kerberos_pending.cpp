// Kerberos levels are not built yet: every request for them fails with a recorded error.
#include "diag/error_state.h"
#include "kerberos/kerberos.h"

int s_acquireCredentials(RavlinkContext *, const char *, const char *, const char *) {
    s_setError("Kerberos is not available in this build.", 0);
    return 0;
}

int s_establish_context(RavlinkContext *) {
    s_setError("Kerberos is not available in this build.", 0);
    return 0;
}

void s_releaseSecurity(RavlinkContext *) {}
