// English texts for the codes the library reports, as Windows' FormatMessageA gives them
// (each ends with the system's "\r\n"): Winsock and resolver numbers, SSPI numbers (with
// GSSAPI's detail of the last failure), and the C runtime's errno values through strerror.
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/message_table.h"
#include "platform/posix/security_status.h"

namespace plat {

std::string system_message(std::uint32_t code) {
    if (const char *text = posix::find_message(code)) {
        // A security-package status also shows what GSSAPI said about it.
        std::string detail = posix::gss_detail(code);
        return std::string(text) + (detail.empty() ? "" : " (" + detail + ")") + "\r\n";
    }
    if (code > 0 && code < 4096) {
        const char *text = std::strerror(static_cast<int>(code));
        if (text != nullptr && std::strncmp(text, "Unknown error", 13) != 0)
            return std::string(text) + "\r\n";
    }
    return std::string();
}

} // namespace plat
