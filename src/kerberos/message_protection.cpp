// s_KerberosSend and the unwrap step of a protected receive.
#include "kerberos/message_protection.h"

#include <cstdlib>
#include <cstring>

#include "core/context.h"
#include "core/text.h"
#include "diag/error_state.h"
#include "diag/trace.h"
#include "kerberos/token_framing.h"
#include "platform/codes.h"
#include "platform/security_package.h"

namespace {


void *allocate(std::uint32_t size) { return std::malloc(size > 0 ? size : 1); }

// Frees the token and the wrap buffers of one piece.
void release_piece(RavlinkContext *pc) {
    std::free(pc->sendToken.value);
    pc->sendToken.value = nullptr;
    pc->sendToken.length = 0;
    for (sspi::Buffer &b : pc->wrapBuffers) {
        std::free(b.pvBuffer);
        b.pvBuffer = nullptr;
    }
}

constexpr const char *kNoBuffer = "Transmission buffer allocation failed.";

} // namespace

std::int32_t s_KerberosSend(RavlinkContext *pc, const unsigned char *piece, std::int32_t length,
                            const struct timeval *timeout) {
    ravlink_tracelog(1, "s_KerberosSend(%x,%x,%d,%x)\n", core::low32(pc), core::low32(piece), length,
                     core::low32(timeout));
    pc->wrapBufferDesc = sspi::BufferDesc{sspi::SECBUFFER_VERSION, 3, pc->wrapBuffers};
    sspi::Buffer *b = pc->wrapBuffers;
    const std::uint32_t dataLength = static_cast<std::uint32_t>(length);
    b[0] = sspi::Buffer{pc->sizes.cbSecurityTrailer, sspi::SECBUFFER_TOKEN, allocate(pc->sizes.cbSecurityTrailer)};
    b[1] = sspi::Buffer{dataLength, sspi::SECBUFFER_DATA, allocate(dataLength)};
    b[2] = sspi::Buffer{pc->sizes.cbBlockSize, sspi::SECBUFFER_PADDING, allocate(pc->sizes.cbBlockSize)};

    std::int32_t result = 0;
    if (b[0].pvBuffer == nullptr || b[1].pvBuffer == nullptr || b[2].pvBuffer == nullptr) {
        s_setError(kNoBuffer, codes::kNoMemory);
    } else {
        if (dataLength > 0) std::memcpy(b[1].pvBuffer, piece, dataLength);
        std::uint32_t qop = pc->securityLevel == 3 ? 0 : sspi::kQopWrapNoEncrypt;
        sspi::Status status = sspi::EncryptMessage(&pc->securityContext, qop, &pc->wrapBufferDesc, 0);
        if (status != sspi::kSecOk) {
            s_setError("EncryptMessage() returned error:  ", status);
        } else {
            std::uint32_t total = b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer;
            auto *token = static_cast<unsigned char *>(allocate(total));
            if (token == nullptr) {
                s_setError(kNoBuffer, codes::kNoMemory);
            } else {
                std::memcpy(token, b[0].pvBuffer, b[0].cbBuffer);
                std::memcpy(token + b[0].cbBuffer, b[1].pvBuffer, b[1].cbBuffer);
                std::memcpy(token + b[0].cbBuffer + b[1].cbBuffer, b[2].pvBuffer, b[2].cbBuffer);
                pc->sendToken.value = token;
                pc->sendToken.length = total;
                if (send_token(pc, &pc->sendToken) != 0)
                    s_setError("send_token() failed:  ", pc->error);
                else
                    result = 1;
            }
        }
    }
    release_piece(pc);
    return result;
}

bool s_unwrapToken(RavlinkContext *pc, unsigned char **plain, std::int32_t *length) {
    sspi::Buffer b[2] = {
        {static_cast<std::uint32_t>(pc->recvToken.length), sspi::SECBUFFER_STREAM, pc->recvToken.value},
        {0, sspi::SECBUFFER_DATA, nullptr}};
    sspi::BufferDesc desc{sspi::SECBUFFER_VERSION, 2, b};
    std::uint32_t qop = 0; // not examined: signed-only and encrypted messages are both accepted
    sspi::Status status = sspi::DecryptMessage(&pc->securityContext, &desc, 0, &qop);
    if (status != sspi::kSecOk) {
        pc->error = status;
        s_setError("DecryptMessage() returned error in RavlinkRecv():  ", status);
        return false;
    }
    *plain = static_cast<unsigned char *>(b[1].pvBuffer);
    *length = static_cast<std::int32_t>(b[1].cbBuffer);
    return true;
}
