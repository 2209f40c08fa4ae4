// The error state at its three scopes: library-wide (exported variables), per thread
// (thread-local storage) and per connection (the context's error and errorText).
#include "diag/error_state.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api/context.h"
#include "platform/platform.h"

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

// Per-thread state: created empty for every thread, its text freed when the thread ends.
struct ThreadErrorState {
    RavlinkContext *current = nullptr;
    char *text = nullptr;
    std::uint32_t code = 0;
    ~ThreadErrorState() { std::free(text); }
};
thread_local ThreadErrorState t_state;

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

bool s_perThreadState() { return s_threadState; }

void s_setCurrentConnection(RavlinkContext *pc) {
    if (s_threadState) t_state.current = pc;
}

RavlinkContext *s_currentConnection() { return s_threadState ? t_state.current : nullptr; }

void s_initErrorState() {
    s_threadState = plat::os_major_version() >= 6;
    std::memset(RavlinkErrorArray, 0, sizeof RavlinkErrorArray);
    dwConnectionError = 0;
}

void s_threadAttach() {
    if (!s_threadState) return;
    t_state.current = nullptr;
    std::free(t_state.text);
    t_state.text = nullptr;
    t_state.code = 0;
}

void s_threadDetach() { s_threadAttach(); }

void s_formatError(const char *text, std::uint32_t code) {
    plat::LibraryLock lock;
    char composed[kFormatted];
    if (code != 0) {
        std::string reason = plat::system_message(code);
        if (reason.empty()) reason = "unknown error";
        std::snprintf(composed, sizeof composed, "%s\r\nReason: (%d, 0x%x) %s", text,
                      static_cast<int>(code), code, reason.c_str());
    } else {
        std::snprintf(composed, sizeof composed, "%s", text);
    }
    if (s_threadState) {
        replace_text(t_state.text, composed);
        if (t_state.current != nullptr) replace_text(t_state.current->errorText, composed);
    }
    copy_to_library_text(composed);
    ravlink_tracelog(6, "%s\n", RavlinkErrorArray);
}

void s_setError(const char *text, std::uint32_t code) {
    plat::LibraryLock lock;
    s_formatError(text != nullptr ? text : kDefaultText, code);
    dwConnectionError = code;
    if (s_threadState) {
        t_state.code = code;
        if (t_state.current != nullptr) t_state.current->error = code;
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
    if (s_threadState) {
        RavlinkContext *pc = t_state.current;
        if (pc != nullptr && pc->errorText != nullptr) {
            previous = pc->errorText;
            pc->errorText = nullptr;
            std::free(t_state.text);
        } else {
            previous = t_state.text;
        }
        t_state.text = nullptr;
    } else if (RavlinkErrorArray[0] != '\0') {
        std::size_t n = std::strlen(RavlinkErrorArray) + 1;
        previous = static_cast<char *>(std::malloc(n));
        if (previous != nullptr) std::memcpy(previous, RavlinkErrorArray, n);
        RavlinkErrorArray[0] = '\0';
    }

    s_formatError(text, code);

    if (code != 0) {
        dwConnectionError = code;
        if (s_threadState) {
            t_state.code = code;
            if (t_state.current != nullptr) t_state.current->error = code;
        }
    }
    if (previous != nullptr) {
        if (s_threadState) {
            std::string joined = std::string(previous) + "\n" + (t_state.text ? t_state.text : "");
            replace_text(t_state.text, joined.c_str());
            copy_to_library_text(joined.c_str());
        } else {
            std::string joined = std::string(previous) + "\n" + RavlinkErrorArray;
            copy_to_library_text(joined.c_str());
        }
        std::free(previous);
    }
}

void s_appendTlsError(RavlinkContext *pc) {
    if (pc->tlsErrorText != nullptr && pc->tlsErrorText[0] != '\0') s_appendError(pc->tlsErrorText, pc->error);
}

void s_clearError() {
    plat::LibraryLock lock;
    dwConnectionError = 0;
    if (s_threadState) {
        t_state.code = 0;
        std::free(t_state.text);
        t_state.text = nullptr;
        if (RavlinkContext *pc = t_state.current) {
            std::free(pc->errorText);
            pc->errorText = nullptr;
            pc->error = 0;
        }
    }
    RavlinkErrorArray[0] = '\0';
}

extern "C" RAVLINK_API uint32_t RavlinkGetErrorCode(RavlinkContext *pc) {
    if (pc != nullptr) return pc->error;
    return dwConnectionError != 0 ? dwConnectionError : 0xFFFFFFFFu;
}

extern "C" RAVLINK_API char *RavlinkGetErrorString(RavlinkContext *pc) {
    if (pc != nullptr && pc->errorText != nullptr) return pc->errorText;
    if (s_threadState && t_state.text != nullptr) return t_state.text;
    return RavlinkErrorString;
}
