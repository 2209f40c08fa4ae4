// Packing a TLS configuration record into one allocation.
#include "api/ssl_config_pack.h"

#include <cstddef>

#include "core/text.h"

namespace {

// The record's fields in their order.
constexpr char *RavlinkSSLconfig::*kFields[] = {
    &RavlinkSSLconfig::Protocols, &RavlinkSSLconfig::KeyType,  &RavlinkSSLconfig::VerifyPeer,
    &RavlinkSSLconfig::VerifyDepth, &RavlinkSSLconfig::CipherList, &RavlinkSSLconfig::Password,
    &RavlinkSSLconfig::CertFile,  &RavlinkSSLconfig::KeyFile,  &RavlinkSSLconfig::CAfile,
    &RavlinkSSLconfig::CApath,
};
static_assert(sizeof kFields / sizeof kFields[0] * sizeof(char *) == sizeof(RavlinkSSLconfig),
              "every field of the record is packed");

} // namespace

RavlinkSSLconfig *s_packSSLconfig(const RavlinkSSLconfig *source) {
    constexpr std::size_t kCount = sizeof kFields / sizeof kFields[0];
    const char *texts[kCount];
    char *out[kCount];
    for (std::size_t i = 0; i < kCount; ++i) texts[i] = source->*kFields[i];
    void *block = core::pack_texts(sizeof(RavlinkSSLconfig), texts, kCount, out, nullptr);
    auto *packed = static_cast<RavlinkSSLconfig *>(block);
    if (packed == nullptr) return nullptr;
    for (std::size_t i = 0; i < kCount; ++i) packed->*kFields[i] = out[i];
    return packed;
}
