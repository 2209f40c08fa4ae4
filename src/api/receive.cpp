// RavlinkRecv: checks its arguments, installs the time-out and lets the connection's transport
// fill the buffer, FREAD (exactly n bytes) or VREAD (what arrives, counted in rdlen).
#include <cstdint>

#include "core/context.h"
#include "core/text.h"
#include "diag/allocation_guard.h"
#include "diag/error_state.h"
#include "diag/trace.h"

namespace {

std::int32_t receive(RavlinkContext *pc, void *buf, std::int32_t len, const struct timeval *timeout) {
    ravlink_tracelog(4, "RavlinkRecv(%x, %x, %d, %x)\n", core::low32(pc), core::low32(buf), len, core::low32(timeout));
    if (!s_connectionUp(pc)) {
        ravlink_tracelog(6, "RavlinkRecv() called while not connected.\n");
        return -1;
    }
    if (len == 0) {
        pc->rdlen = 0;
        return 0;
    }
    if (len < 0) {
        s_setError("Negative read length requested of RavlinkRecv():  ", 0);
        return -1;
    }
    s_installTimeout(pc, timeout);
    auto *bytes = static_cast<unsigned char *>(buf);
    std::int32_t result = pc->transport->receive(pc, bytes, len);
    if (result != 0) return result;
    ravlink_tracedump(2, (pc->mode & kModeVread) != 0 ? pc->rdlen : len, bytes);
    return 0;
}

} // namespace

extern "C" RAVLINK_API int32_t RavlinkRecv(RavlinkContext *pc, void *buf, int32_t len,
                                           const struct timeval *timeout) {
    s_setCurrentConnection(pc);
    return diag::guard_allocations(-1, "Cannot allocate memory for the received message.",
                                   [&] { return receive(pc, buf, len, timeout); });
}
