// The security package's handle and buffer shapes (SSPI's SecHandle, SecBuffer, SecBufferDesc,
// SecPkgContext_Sizes), declared here so that the library's records do not depend on the
// platform's headers. win32/ passes them to SSPI as they are: the layouts are the same.
#pragma once

#include <cstdint>

namespace sspi {

struct Handle {
    std::uintptr_t dwLower;
    std::uintptr_t dwUpper;
};

// A handle is valid when neither word is all ones.
inline bool handle_valid(const Handle &h) {
    return h.dwLower != ~std::uintptr_t(0) && h.dwUpper != ~std::uintptr_t(0);
}
inline void invalidate(Handle &h) { h.dwLower = h.dwUpper = ~std::uintptr_t(0); }

struct Buffer {
    std::uint32_t cbBuffer;
    std::uint32_t BufferType;
    void *pvBuffer;
};

struct BufferDesc {
    std::uint32_t ulVersion;
    std::uint32_t cBuffers;
    Buffer *pBuffers;
};

struct Sizes {
    std::uint32_t cbMaxToken;
    std::uint32_t cbMaxSignature;
    std::uint32_t cbBlockSize;
    std::uint32_t cbSecurityTrailer;
};

// Buffer types and the descriptor version used by the library.
constexpr std::uint32_t SECBUFFER_VERSION = 0;
constexpr std::uint32_t SECBUFFER_EMPTY = 0;
constexpr std::uint32_t SECBUFFER_DATA = 1;
constexpr std::uint32_t SECBUFFER_TOKEN = 2;
constexpr std::uint32_t SECBUFFER_STREAM = 10;
constexpr std::uint32_t SECBUFFER_PADDING = 9;

} // namespace sspi
