// Named TLS configurations in the registry: the per-user key hides the machine-wide one.
#include <cstdio>
#include <cstring>

#include "diag/error_state.h"
#include "platform/registry.h"
#include "tls/netssl.h"
#include "tls/ssl_settings.h"

namespace {

// KEY_READ in the 32-bit view of the registry.
constexpr std::uint32_t kAccess = plat::kKeyRead | plat::kKeyWow64_32;

// Opens the configuration's key, current user first; null when neither hive has it.
plat::RegKey open_config(const char *name) {
    if (name == nullptr || std::strlen(name) > kMaxConfigName) return nullptr;
    char path[272];
    int n = std::snprintf(path, sizeof path, kSSLconfigKey, name);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof path) return nullptr;
    plat::RegKey key = nullptr;
    if (plat::reg_open_key(plat::Hive::CurrentUser, path, kAccess, &key) == plat::kErrorSuccess) return key;
    if (plat::reg_open_key(plat::Hive::LocalMachine, path, kAccess, &key) == plat::kErrorSuccess) return key;
    return nullptr;
}

} // namespace

int s_SSLconfigExists(const char *name) {
    plat::RegKey key = open_config(name);
    if (key == nullptr) return 0;
    plat::reg_close_key(key);
    return 1;
}

int s_readSSLregValue(const char *name, const char *valueName, char *buffer, std::uint32_t size) {
    plat::RegKey key = open_config(name);
    if (key == nullptr) return 0;
    std::uint32_t got = size;
    std::uint32_t type = 0;
    long rc = plat::reg_query_text(key, valueName, &type, reinterpret_cast<unsigned char *>(buffer), &got);
    plat::reg_close_key(key);
    if (rc == plat::kErrorUnsupportedType) {
        // Read as missing, a value of another type would give a weaker default (no verification).
        s_setErrorf(static_cast<std::uint32_t>(rc),
                    "Registry value %s of SSL/TLS configuration %s has type %u: neither a string nor a DWORD.",
                    valueName, name, type);
        return -1;
    }
    if (rc != plat::kErrorSuccess) return 0;
    // A value stored without its terminator still reads as a text.
    if (got < size)
        buffer[got] = '\0';
    else
        buffer[size - 1] = '\0';
    return 1;
}
