// The Kerberos-protected halves of RavlinkSend and RavlinkRecv (levels 2 and 3): pieces of at
// most cbMaxToken bytes go out as one token each; received tokens are unwrapped in place and
// plaintext beyond what a receive wanted is held for the next one.
#include "kerberos/protected_io.h"

#include <cstring>

#include "core/context.h"
#include "diag/error_state.h"
#include "diag/trace.h"
#include "kerberos/message_protection.h"
#include "kerberos/token_framing.h"

namespace {

// The token failure exit of a receive: the connection's code, or -2 when none was stored.
std::int32_t token_failure(RavlinkContext *pc) {
    ravlink_tracelog(1, "RavlinkRecv() returning pc->error=%d at reterr:\n", static_cast<int>(pc->error));
    return pc->error != 0 ? static_cast<std::int32_t>(pc->error) : -2;
}

bool next_token(RavlinkContext *pc) {
    if (recv_token(pc, &pc->recvToken) == 0) return true;
    ravlink_tracelog(1, "RavlinkRecv() returning pc->error = %d after recv_token < 0.\n", static_cast<int>(pc->error));
    return false;
}

} // namespace

std::int32_t s_recvProtected(RavlinkContext *pc, unsigned char *buf, std::int32_t n) {
    const bool vread = (pc->mode & kModeVread) != 0;
    std::int32_t remaining = n;
    unsigned char *cursor = buf;

    // Held plaintext first; it alone satisfies a VREAD.
    if (pc->heldLength != 0) {
        if (pc->heldLength > n) {
            std::memcpy(buf, pc->heldData, static_cast<std::size_t>(n));
            pc->heldData += n;
            pc->heldLength -= n;
            if (vread) pc->rdlen = n;
            return 0;
        }
        std::int32_t held = pc->heldLength;
        std::memcpy(cursor, pc->heldData, static_cast<std::size_t>(held));
        cursor += held;
        remaining -= held;
        pc->heldLength = 0;
        if (remaining == 0 || vread) {
            if (vread) pc->rdlen = n - remaining;
            return 0;
        }
    }

    pc->rdlen = 0;
    if (!next_token(pc)) return token_failure(pc);
    for (;;) {
        if (vread && pc->recvToken.length == 0) return 0;
        unsigned char *plain = nullptr;
        std::int32_t count = 0;
        if (!s_unwrapToken(pc, &plain, &count)) return token_failure(pc);
        if (count > remaining) {
            std::memcpy(cursor, plain, static_cast<std::size_t>(remaining));
            pc->heldData = plain + remaining;
            pc->heldLength = count - remaining;
            remaining = 0;
        } else {
            if (count > 0) std::memcpy(cursor, plain, static_cast<std::size_t>(count));
            pc->heldLength = 0;
            cursor += count;
            remaining -= count;
        }
        if (vread) {
            pc->rdlen = n - remaining;
            return 0;
        }
        if (remaining == 0) return 0;
        if (!next_token(pc)) return token_failure(pc);
    }
}

bool s_sendProtected(RavlinkContext *pc, const unsigned char *buf, std::uint32_t len, const struct timeval *timeout) {
    if (len == 0) {
        ravlink_tracelog(6, "RavlinkSend() returning FALSE.\n");
        return false;
    }
    std::int32_t result = 0;
    while (len > 0) {
        std::uint32_t piece = len < pc->sizes.cbMaxToken || pc->sizes.cbMaxToken == 0 ? len : pc->sizes.cbMaxToken;
        result = s_KerberosSend(pc, buf, static_cast<std::int32_t>(piece), timeout);
        if (result == 0) {
            ravlink_tracelog(6, "RavlinkSend() returning FALSE.\n");
            return false;
        }
        buf += piece;
        len -= piece;
    }
    ravlink_tracelog(1, "RavlinkSend() returning success (%d).\n", result);
    return true;
}
