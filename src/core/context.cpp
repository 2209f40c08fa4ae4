// The connection record's own helpers: allocation, the time-out it keeps, whether it is up.
#include "core/context.h"

#include <cstdlib>
#include <mutex>

RavlinkContext *s_allocContext() {
    auto *pc = static_cast<RavlinkContext *>(std::calloc(1, sizeof(RavlinkContext)));
    if (pc == nullptr) return nullptr;
    pc->socket = plat::kInvalidSocket;
    sspi::invalidate(pc->securityContext);
    sspi::invalidate(pc->credentials);
    return pc;
}

namespace {
// One lock for every record's time-out (a record is zero-filled memory and holds no lock of its
// own); it is held only for a copy of a few bytes.
std::mutex s_timeoutLock;
} // namespace

void s_installTimeout(RavlinkContext *pc, const struct timeval *timeout) {
    std::lock_guard<std::mutex> hold(s_timeoutLock);
    if (timeout != nullptr) {
        pc->timeoutValue = *timeout;
        pc->timeout = &pc->timeoutValue;
    } else {
        pc->timeout = nullptr;
    }
}

const struct timeval *s_currentTimeout(const RavlinkContext *pc, struct timeval *copy) {
    std::lock_guard<std::mutex> hold(s_timeoutLock);
    if (pc->timeout == nullptr) return nullptr;
    *copy = pc->timeoutValue;
    return copy;
}

bool s_connectionUp(const RavlinkContext *pc) { return pc != nullptr && pc->socket != plat::kInvalidSocket; }
