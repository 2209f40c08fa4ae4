// Packing a TLS configuration record into one allocation.
#include "api/ssl_config_pack.h"

#include <cstdlib>
#include <cstring>

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
    std::size_t size = sizeof(RavlinkSSLconfig);
    for (auto field : kFields) {
        const char *text = source->*field;
        size += (text != nullptr ? std::strlen(text) : 0) + 1;
    }
    auto *packed = static_cast<RavlinkSSLconfig *>(std::malloc(size));
    if (packed == nullptr) return nullptr;
    char *cursor = reinterpret_cast<char *>(packed + 1);
    for (auto field : kFields) {
        const char *text = source->*field;
        std::size_t n = (text != nullptr ? std::strlen(text) : 0) + 1;
        if (text != nullptr)
            std::memcpy(cursor, text, n);
        else
            *cursor = '\0';
        packed->*field = cursor;
        cursor += n;
    }
    return packed;
}
