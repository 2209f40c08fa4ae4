// English texts for the codes the library reports, as Windows' FormatMessageA gives them
// (each ends with the system's "\r\n"): Winsock and resolver numbers, SSPI numbers, and the
// C runtime's errno values through strerror.
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/message_table.h"

namespace plat {

std::string system_message(std::uint32_t code) {
    if (const char *text = posix::find_message(code)) return std::string(text) + "\r\n";
    if (code > 0 && code < 4096) {
        const char *text = std::strerror(static_cast<int>(code));
        if (text != nullptr && std::strncmp(text, "Unknown error", 13) != 0)
            return std::string(text) + "\r\n";
    }
    return std::string();
}

} // namespace plat
