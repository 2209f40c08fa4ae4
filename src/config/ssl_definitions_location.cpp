// Where the SSL definitions file is: named by QXN_SSLconfigurations, or under the common
// program files folder.
#include <string>

#include "config/ssl_definitions_file.h"
#include "platform/platform.h"

namespace {

// Environment values are read into buffers of this many characters, terminator included.
constexpr std::size_t kPathBufferSize = 260;

#ifdef _WIN32
constexpr const char *kProductPath = "\\Brannoc\\Sedrin\\SSLdefs.ini";
#else
constexpr const char *kProductPath = "/Brannoc/Sedrin/SSLdefs.ini";
#endif

// The variable's value when it is set and not empty.
bool read_variable(const char *name, std::string &value) {
    return plat::get_env(name, value) && !value.empty();
}

} // namespace

FILE *s_openSSLdefs(const char *mode) {
    std::string path;
    if (read_variable("QXN_SSLconfigurations", path)) {
        if (path.size() >= kPathBufferSize) return nullptr;
    } else {
        if (!read_variable("CommonProgramFiles(x86)", path) && !read_variable("CommonProgramFiles", path))
            return nullptr;
        // The limit is the variable's; the product path may take the whole beyond it.
        if (path.size() >= kPathBufferSize) return nullptr;
        path += kProductPath;
    }
    return std::fopen(path.c_str(), mode);
}
