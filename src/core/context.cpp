// The connection record's own helpers: allocation, the time-out it keeps, whether it is up.
#include "core/context.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
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
// A few locks shared by all records (a record is zero-filled memory and holds no lock of its own):
// each record's time-out goes with one of them.
std::mutex &timeout_lock(const RavlinkContext *pc) {
    static std::mutex locks[16];
    return locks[std::hash<const void *>()(pc) % 16];
}
} // namespace

void s_installTimeout(RavlinkContext *pc, const struct timeval *timeout) {
    std::lock_guard<std::mutex> hold(timeout_lock(pc));
    if (timeout != nullptr) {
        pc->timeoutValue = *timeout;
        pc->timeout = &pc->timeoutValue;
    } else {
        pc->timeout = nullptr;
    }
}

const struct timeval *s_currentTimeout(const RavlinkContext *pc, struct timeval *copy) {
    std::lock_guard<std::mutex> hold(timeout_lock(pc));
    if (pc->timeout == nullptr) return nullptr;
    *copy = pc->timeoutValue;
    return copy;
}

bool s_connectionUp(const RavlinkContext *pc) { return pc != nullptr && pc->socket != plat::kInvalidSocket; }
