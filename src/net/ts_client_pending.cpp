// The terminal-session lookup is not built yet: connections carry no client name.
#include "api/context.h"
#include "diag/error_state.h"
#include "net/ts_client.h"

int s_fillTSClientName(RavlinkContext *) { return 1; }

extern "C" RAVLINK_API int32_t RavlinkGetTSClientName(RavlinkContext *pc, char *, size_t *len) {
    if (len == nullptr || pc == nullptr) {
        if (len != nullptr) *len = 0;
        s_setError("RavlinkGetTSClientName(): invalid parameter.", 0);
        return 0;
    }
    *len = 0;
    return 1;
}
