// RavlinkRecv: FREAD (exactly n bytes) and VREAD (what arrives, counted in rdlen) over plain and
// TLS connections; Kerberos levels 2 and 3 unwrap tokens and serve held plaintext first.
#include <cstdint>

#include "core/context.h"
#include "api/protected_io.h"
#include "core/text.h"
#include "diag/allocation_guard.h"
#include "diag/error_state.h"
#include "diag/trace.h"
#include "net/socket_io.h"

namespace {


// A failed plain or TLS read: the TLS layer's text joins the error, and the code is the result.
std::int32_t plain_failure(RavlinkContext *pc) {
    if (pc->securityType == kSecurityTls) s_appendTlsError(pc);
    return static_cast<std::int32_t>(pc->error);
}

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
    const bool vread = (pc->mode & kModeVread) != 0;

    if (pc->securityLevel >= 2) {
        std::int32_t result = s_recvProtected(pc, bytes, len);
        if (result != 0) return result;
    } else if (vread) {
        std::int32_t got = read_all(pc, bytes, static_cast<std::uint32_t>(len), 1);
        if (got <= 0) {
            pc->rdlen = 0;
            ravlink_tracelog(5, "RavlinkRecv() VREAD returning pc->error=%d.\n", static_cast<int>(pc->error));
            return plain_failure(pc);
        }
        pc->rdlen = got;
    } else {
        std::int32_t got = read_all(pc, bytes, static_cast<std::uint32_t>(len), 0);
        pc->rdlen = got;
        if (got != len) {
            ravlink_tracelog(5, "RavlinkRecv(len=%d) FREAD received %d returning pc->error=%d.\n", len, got,
                             static_cast<int>(pc->error));
            if (pc->error == 0) return -2;
            return plain_failure(pc);
        }
    }
    ravlink_tracedump(2, vread ? pc->rdlen : len, bytes);
    return 0;
}

} // namespace

extern "C" RAVLINK_API int32_t RavlinkRecv(RavlinkContext *pc, void *buf, int32_t len,
                                           const struct timeval *timeout) {
    s_setCurrentConnection(pc);
    return guard_allocations(-1, "Cannot allocate memory for the received message.",
                             [&] { return receive(pc, buf, len, timeout); });
}
