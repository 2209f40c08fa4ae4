// RavlinkSend: checks the connection and hands the buffer to the connection's transport.
#include <cstdint>

#include "core/context.h"
#include "core/text.h"
#include "diag/allocation_guard.h"
#include "diag/error_state.h"
#include "diag/trace.h"

namespace {

bool send(RavlinkContext *pc, const void *buf, std::uint32_t len, const struct timeval *timeout) {
    ravlink_tracelog(4, "RavlinkSend(%x, %x, %d, %x).\n", core::low32(pc), core::low32(buf), static_cast<int>(len),
                     core::low32(timeout));
    if (!s_connectionUp(pc)) {
        ravlink_tracelog(6, "RavlinkSend() called while not connected.\n");
        return false;
    }
    const auto *bytes = static_cast<const unsigned char *>(buf);
    ravlink_tracedump(4, static_cast<std::int32_t>(len), bytes);
    return pc->transport->send(pc, bytes, len, timeout);
}

} // namespace

extern "C" RAVLINK_API int32_t RavlinkSend(RavlinkContext *pc, const void *buf, uint32_t len,
                                           const struct timeval *timeout) {
    s_setCurrentConnection(pc);
    return diag::guard_allocations(0, "Transmission buffer allocation failed.",
                                   [&] { return send(pc, buf, len, timeout) ? 1 : 0; });
}
