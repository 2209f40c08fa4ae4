// No exception crosses the C surface: an allocation that fails inside a standard container
// (std::bad_alloc) ends the call with the library's result for want of memory, the text with
// code 8, like a failed C allocation.
#pragma once

#include <new>

#include "diag/error_state.h"
#include "platform/codes.h"

namespace diag {

template <class Result, class Body>
Result guard_allocations(Result failed, const char *text, Body &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        s_setError(text, codes::kNoMemory);
        return failed;
    }
}

} // namespace diag
