// The system's text for a code: FormatMessageA from the system table, in English (the library's
// texts are English whatever the user's language), else in the neutral language's order; the
// system sizes the text, so a long message is never cut or lost.
#include <windows.h>

#include "platform/platform.h"

namespace plat {

std::string system_message(std::uint32_t code) {
    const DWORD languages[] = {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)};
    for (DWORD language : languages) {
        char *text = nullptr;
        DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                     FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                 nullptr, code, language, reinterpret_cast<LPSTR>(&text), 0, nullptr);
        if (n != 0 && text != nullptr) {
            std::string message(text, n);
            LocalFree(text);
            return message;
        }
        if (text != nullptr) LocalFree(text);
    }
    return std::string();
}

} // namespace plat
