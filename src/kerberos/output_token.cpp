// The output token of the context exchange: allocated by the package, or the library's own.
#include "kerberos/output_token.h"

#include <cstdlib>

#include "diag/trace.h"

OutputToken::~OutputToken() {
    release();
    std::free(own_);
}

std::uint32_t OutputToken::requirements() const {
    return own_ != nullptr ? requirements_ & ~sspi::kReqAllocateMemory : requirements_;
}

sspi::BufferDesc *OutputToken::prepare() {
    buffer_ = sspi::Buffer{ownSize_, sspi::SECBUFFER_TOKEN, own_};
    return &desc_;
}

void OutputToken::release() {
    if (own_ == nullptr) sspi::FreeContextBuffer(buffer_.pvBuffer);
    buffer_ = sspi::Buffer{0, sspi::SECBUFFER_TOKEN, nullptr};
}

bool OutputToken::fall_back(sspi::Status status) {
    if (own_ != nullptr || (status != sspi::kSecIncompleteMessage && status != sspi::kSecBufferTooSmall) ||
        buffer_.pvBuffer != nullptr)
        return false;
    std::uint32_t size = 0;
    if (sspi::QueryPackageMaxToken(sspi::kKerberosPackage, &size) != sspi::kSecOk || size == 0) return false;
    own_ = static_cast<unsigned char *>(std::malloc(size));
    if (own_ == nullptr) return false;
    ownSize_ = size;
    ravlink_tracelog(5, "s_establish_context(): the package does not allocate tokens; a buffer of %u bytes is used\n",
                     static_cast<unsigned>(size));
    return true;
}
