// RavlinkSend: plain and TLS connections write the whole buffer; Kerberos levels 2 and 3 wrap it
// into tokens.
#include <cstdint>

#include "core/context.h"
#include "api/protected_io.h"
#include "core/text.h"
#include "diag/allocation_guard.h"
#include "diag/error_state.h"
#include "diag/trace.h"
#include "net/socket_io.h"

namespace {

std::int32_t send(RavlinkContext *pc, const void *buf, std::uint32_t len, const struct timeval *timeout) {
    ravlink_tracelog(4, "RavlinkSend(%x, %x, %d, %x).\n", core::low32(pc), core::low32(buf), static_cast<int>(len),
                     core::low32(timeout));
    if (!s_connectionUp(pc)) {
        ravlink_tracelog(6, "RavlinkSend() called while not connected.\n");
        return 0;
    }
    const auto *bytes = static_cast<const unsigned char *>(buf);
    ravlink_tracedump(4, static_cast<std::int32_t>(len), bytes);
    if (pc->securityLevel >= 2) return s_sendProtected(pc, bytes, len, timeout);

    std::int32_t written = write_all(pc, bytes, len);
    if (written >= 0 && static_cast<std::uint32_t>(written) == len) return 1;
    if (pc->securityType == kSecurityTls) s_appendTlsError(pc);
    ravlink_tracelog(5, "RavlinkSend(), unencrypted, returning FALSE, pc->error=%d.\n", static_cast<int>(pc->error));
    if (RavlinkErrorArray[0] != '\0') ravlink_tracelog(6, "RavlinkErrorString=%s\n", RavlinkErrorArray);
    return 0;
}

} // namespace

extern "C" RAVLINK_API int32_t RavlinkSend(RavlinkContext *pc, const void *buf, uint32_t len,
                                           const struct timeval *timeout) {
    s_setCurrentConnection(pc);
    return guard_allocations(0, "Transmission buffer allocation failed.", [&] { return send(pc, buf, len, timeout); });
}
