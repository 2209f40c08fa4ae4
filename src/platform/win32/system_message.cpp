// The system's text for a code: FormatMessageA from the system table.
#include <windows.h>

#include "platform/platform.h"

namespace plat {

std::string system_message(std::uint32_t code) {
    char buf[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                             0, buf, sizeof buf, nullptr);
    return std::string(buf, n);
}

} // namespace plat
