// The connection record's own helpers: allocation, the time-out it keeps, whether it is up.
#include "core/context.h"

#include <cstdlib>

RavlinkContext *s_allocContext() {
    auto *pc = static_cast<RavlinkContext *>(std::calloc(1, sizeof(RavlinkContext)));
    if (pc == nullptr) return nullptr;
    pc->socket = plat::kInvalidSocket;
    sspi::invalidate(pc->securityContext);
    sspi::invalidate(pc->credentials);
    return pc;
}

void s_installTimeout(RavlinkContext *pc, const struct timeval *timeout) {
    if (timeout != nullptr) {
        pc->timeoutValue = *timeout;
        pc->timeout = &pc->timeoutValue;
    } else {
        pc->timeout = nullptr;
    }
}

bool s_connectionUp(const RavlinkContext *pc) { return pc != nullptr && pc->socket != plat::kInvalidSocket; }
