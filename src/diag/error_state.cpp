// The error state at its three scopes: library-wide (exported variables), per thread
// (thread-local storage) and per connection (the context's error and errorText).
#include "diag/error_state.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "core/context.h"
#include "platform/platform.h"
#include "platform/thread_slot.h"

extern "C" {
RAVLINK_API uint32_t dwConnectionError = 0;
RAVLINK_API char RavlinkErrorArray[2048] = {};
RAVLINK_API char *RavlinkErrorString = RavlinkErrorArray;
}

namespace {

constexpr const char *kDefaultText = "Ravlink library error";
constexpr std::size_t kFormatted = 1024; // one formatted error, cut to 1023 characters
constexpr std::size_t kLibraryText = sizeof RavlinkErrorArray;

bool s_threadState = true;

// Per-thread state, kept in the platform's per-thread slot, which owns it: made when a thread
// first needs it and released when the thread ends. A thread that never records an error or
// takes a connection costs nothing.
struct ThreadErrorState {
    RavlinkContext *current = nullptr;
    char *text = nullptr;
    std::uint32_t code = 0;
};

void release_state(void *value) {
    auto *state = static_cast<ThreadErrorState *>(value);
    std::free(state->text);
    delete state;
}

// The calling thread's state, or null when it has none (or keeps none).
ThreadErrorState *thread_state() {
    return s_threadState ? static_cast<ThreadErrorState *>(plat::thread_slot()) : nullptr;
}

// The calling thread's state, made when missing; null without per-thread state or memory.
ThreadErrorState *own_thread_state() {
    if (!s_threadState) return nullptr;
    if (ThreadErrorState *state = thread_state()) return state;
    auto *state = new (std::nothrow) ThreadErrorState;
    if (state != nullptr && !plat::set_thread_slot(state)) {
        delete state;
        state = nullptr;
    }
    return state;
}

// Replaces *slot by a copy of text, resizing the block it holds; a failed allocation leaves null.
void replace_text(char *&slot, const char *text) {
    std::size_t n = std::strlen(text) + 1;
    char *grown = static_cast<char *>(std::realloc(slot, n));
    if (grown == nullptr) {
        std::free(slot);
        slot = nullptr;
        return;
    }
    std::memcpy(grown, text, n);
    slot = grown;
}

void copy_to_library_text(const char *text) {
    std::snprintf(RavlinkErrorArray, kLibraryText, "%s", text);
}

} // namespace

void s_setCurrentConnection(RavlinkContext *pc) {
    // Setting none needs no state of its own: a thread without one has none.
    ThreadErrorState *state = pc != nullptr ? own_thread_state() : thread_state();
    if (state != nullptr) state->current = pc;
}

void s_initErrorState() {
    s_threadState = plat::os_major_version() >= 6 && plat::open_thread_slot(release_state);
    std::memset(RavlinkErrorArray, 0, sizeof RavlinkErrorArray);
    s_storeConnectionError(0);
}

void s_threadAttach() {
    if (ThreadErrorState *state = thread_state()) {
        std::free(state->text);
        *state = ThreadErrorState{};
    }
}

void s_threadDetach() {
    if (s_threadState) plat::end_thread_slot();
}

void s_formatError(const char *text, std::uint32_t code) {
    plat::LibraryLock lock;
    char composed[kFormatted];
    if (code != 0) {
        std::string reason;
        try {
            reason = plat::system_message(code);
        } catch (const std::bad_alloc &) { // recorded without the system's text
        }
        if (reason.empty()) reason = "unknown error";
        std::snprintf(composed, sizeof composed, "%s\r\nReason: (%d, 0x%x) %s", text,
                      static_cast<int>(code), code, reason.c_str());
    } else {
        std::snprintf(composed, sizeof composed, "%s", text);
    }
    if (ThreadErrorState *state = own_thread_state()) {
        replace_text(state->text, composed);
        if (state->current != nullptr) replace_text(state->current->errorText, composed);
    }
    copy_to_library_text(composed);
    ravlink_tracelog(6, "%s\n", RavlinkErrorArray);
}

void s_traceLibraryError(const char *prefix, const char *suffix, bool whenEmpty) {
    plat::LibraryLock lock;
    if (whenEmpty || RavlinkErrorArray[0] != '\0') ravlink_tracelog(6, "%s%s%s", prefix, RavlinkErrorArray, suffix);
}

void s_setError(const char *text, std::uint32_t code) {
    plat::LibraryLock lock;
    s_formatError(text != nullptr ? text : kDefaultText, code);
    s_storeConnectionError(code);
    if (ThreadErrorState *state = thread_state()) {
        state->code = code;
        if (state->current != nullptr) state->current->error = code;
    }
}

void s_setErrorf(std::uint32_t code, const char *format, ...) {
    char text[kFormatted];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    s_setError(text, code);
}

void s_appendError(const char *text, std::uint32_t code) {
    plat::LibraryLock lock;
    if (text == nullptr) text = kDefaultText;
    char *previous = nullptr;
    ThreadErrorState *state = own_thread_state();
    if (state != nullptr) {
        RavlinkContext *pc = state->current;
        if (pc != nullptr && pc->errorText != nullptr) {
            previous = pc->errorText;
            pc->errorText = nullptr;
            std::free(state->text);
        } else {
            previous = state->text;
        }
        state->text = nullptr;
    } else if (RavlinkErrorArray[0] != '\0') {
        std::size_t n = std::strlen(RavlinkErrorArray) + 1;
        previous = static_cast<char *>(std::malloc(n));
        if (previous != nullptr) std::memcpy(previous, RavlinkErrorArray, n);
        RavlinkErrorArray[0] = '\0';
    }

    s_formatError(text, code);

    if (code != 0) {
        s_storeConnectionError(code);
        if (state != nullptr) {
            state->code = code;
            if (state->current != nullptr) state->current->error = code;
        }
    }
    if (previous != nullptr) {
        try {
            if (state != nullptr) {
                std::string joined = std::string(previous) + "\n" + (state->text ? state->text : "");
                replace_text(state->text, joined.c_str());
                copy_to_library_text(joined.c_str());
            } else {
                std::string joined = std::string(previous) + "\n" + RavlinkErrorArray;
                copy_to_library_text(joined.c_str());
            }
        } catch (const std::bad_alloc &) { // the new text alone
        }
        std::free(previous);
    }
}

void s_appendTlsError(RavlinkContext *pc) {
    if (pc->tlsErrorText != nullptr && pc->tlsErrorText[0] != '\0') s_appendError(pc->tlsErrorText, pc->error);
}

void s_clearError() {
    plat::LibraryLock lock;
    s_storeConnectionError(0);
    if (ThreadErrorState *state = thread_state()) {
        state->code = 0;
        std::free(state->text);
        state->text = nullptr;
        if (RavlinkContext *pc = state->current) {
            std::free(pc->errorText);
            pc->errorText = nullptr;
            pc->error = 0;
        }
    }
    RavlinkErrorArray[0] = '\0';
}

void s_storeConnectionError(std::uint32_t code) { __atomic_store_n(&dwConnectionError, code, __ATOMIC_RELAXED); }

namespace {
std::uint32_t load_connection_error() { return __atomic_load_n(&dwConnectionError, __ATOMIC_RELAXED); }
} // namespace

extern "C" RAVLINK_API uint32_t RavlinkGetErrorCode(RavlinkContext *pc) {
    if (pc != nullptr) return pc->error;
    const std::uint32_t code = load_connection_error();
    return code != 0 ? code : 0xFFFFFFFFu;
}

extern "C" RAVLINK_API char *RavlinkGetErrorString(RavlinkContext *pc) {
    if (pc != nullptr && pc->errorText != nullptr) return pc->errorText;
    ThreadErrorState *state = thread_state();
    if (state != nullptr && state->text != nullptr) return state->text;
    return RavlinkErrorString;
}
