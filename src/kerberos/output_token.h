// The output token of the context exchange. The library asks the package to allocate each token
// (released with FreeContextBuffer). A package that refuses (Wine's fails the first pass with
// SEC_E_INCOMPLETE_MESSAGE and writes nothing) gets a buffer of the library's own instead, of
// the package's largest token, reused on every pass and freed by this object.
#pragma once

#include <cstdint>

#include "platform/security_package.h"

class OutputToken {
public:
    explicit OutputToken(std::uint32_t requirements) : requirements_(requirements) {}
    ~OutputToken();
    OutputToken(const OutputToken &) = delete;
    OutputToken &operator=(const OutputToken &) = delete;

    // The requirements to pass: without allocation by the package once the own buffer is in use.
    std::uint32_t requirements() const;
    // The descriptor to pass, its buffer ready for a pass.
    sspi::BufferDesc *prepare();
    const sspi::Buffer &token() const { return buffer_; }
    // Lets go of what the package allocated on the last pass (the own buffer stays).
    void release();
    // Whether a failed first pass is the package refusing to allocate: then the own buffer is
    // taken and true returned (the pass is to be repeated). False when the status means anything
    // else or the buffer cannot be had.
    bool fall_back(sspi::Status status);

private:
    std::uint32_t requirements_;
    unsigned char *own_ = nullptr;
    std::uint32_t ownSize_ = 0;
    sspi::Buffer buffer_{0, sspi::SECBUFFER_TOKEN, nullptr};
    sspi::BufferDesc desc_{sspi::SECBUFFER_VERSION, 1, &buffer_};
};
