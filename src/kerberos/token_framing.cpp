// Token framing: send_token and recv_token.
#include "kerberos/token_framing.h"

#include <cstdlib>
#include <cstring>

#include "core/context.h"
#include "diag/error_state.h"
#include "diag/trace.h"
#include "net/socket_io.h"
#include "platform/codes.h"

namespace {

// What a frame that cannot be a token showed: its four length bytes as received and whatever the
// next receive brings, at most 511 characters, used as a C string.
void undecoded_text(RavlinkContext *pc, const unsigned char lengthBytes[4], char (&text)[512]) {
    std::memcpy(text, lengthBytes, 4);
    std::int32_t got = read_all(pc, reinterpret_cast<unsigned char *>(text) + 4, sizeof text - 5, 1);
    text[4 + (got > 0 ? got : 0)] = '\0';
}

} // namespace

std::int32_t send_token(RavlinkContext *pc, const SendToken *tok) {
    pc->error = 0;
    unsigned char lengthBytes[4] = {static_cast<unsigned char>(tok->length >> 24),
                                    static_cast<unsigned char>(tok->length >> 16),
                                    static_cast<unsigned char>(tok->length >> 8),
                                    static_cast<unsigned char>(tok->length)};
    std::int32_t written = write_all(pc, lengthBytes, 4);
    ravlink_tracelog(1, "send_token:  write_all(%d) returned %d\n", 4, written);
    if (written != 4) return -1;
    written = write_all(pc, static_cast<const unsigned char *>(tok->value), tok->length);
    ravlink_tracelog(1, "send_token:  write_all(%d) returned %d\n", static_cast<int>(tok->length), written);
    return written == static_cast<std::int32_t>(tok->length) ? 0 : -1;
}

std::int32_t recv_token(RavlinkContext *pc, RecvToken *tok) {
    pc->error = 0;
    unsigned char lengthBytes[4];
    std::int32_t got = read_all(pc, lengthBytes, 4, 0);
    ravlink_tracelog(1, "recv_token:  read_all(%d) returned %d\n", 4, got);
    if (got != 4) return -1;
    std::uint32_t length = (std::uint32_t(lengthBytes[0]) << 24) | (std::uint32_t(lengthBytes[1]) << 16) |
                           (std::uint32_t(lengthBytes[2]) << 8) | std::uint32_t(lengthBytes[3]);
    tok->length = static_cast<std::int32_t>(length);
    ravlink_tracelog(1, "recv_token:  tok->length = %d\n", tok->length);

    // A length with its top bit set is negative as a signed value and would pass the capacity
    // test; it is refused like any other length out of range, and no body is read for it.
    const bool topBit = tok->length < 0;
    if (topBit || tok->capacity < tok->length) {
        char text[512];
        if (pc->sizes.cbMaxToken == 0 && length > static_cast<std::uint32_t>(kClearTextThreshold)) {
            undecoded_text(pc, lengthBytes, text);
            s_setErrorf(0, "Unexpected clear text received during context initialization:\n '%s'", text);
            return -1;
        }
        std::free(tok->value);
        tok->value = nullptr;
        tok->capacity = tok->length;
        if (!topBit && tok->length <= kMaxTokenLength)
            tok->value = static_cast<unsigned char *>(std::malloc(tok->length > 0 ? tok->length : 1));
        if (tok->value == nullptr) {
            undecoded_text(pc, lengthBytes, text);
            if (topBit)
                s_setErrorf(codes::kNoMemory, "Received token length (%u) too large. \nUndecoded Message = '%s'",
                            length, text);
            else
                s_setErrorf(codes::kNoMemory, "Received token length (%d) too large. \nUndecoded Message = '%s'",
                            tok->length, text);
            tok->capacity = 0;
            return -1;
        }
    }

    // The body gets at least four seconds, however short the connection's time-out.
    struct timeval saved;
    const bool raised = s_currentTimeout(pc, &saved) != nullptr && saved.tv_sec < 4;
    if (raised) {
        struct timeval floor = saved;
        floor.tv_sec = 4;
        s_installTimeout(pc, &floor);
    }
    got = read_all(pc, tok->value, static_cast<std::uint32_t>(tok->length), 0);
    if (raised) s_installTimeout(pc, &saved);
    if (got == tok->length) return 0;
    std::free(tok->value);
    tok->value = nullptr;
    tok->capacity = 0;
    return -1;
}
