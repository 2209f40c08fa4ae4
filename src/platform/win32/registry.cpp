// The registry on Windows: the real advapi32 calls.
#include <windows.h>

#include "platform/registry.h"

namespace plat {

long reg_open_key(Hive hive, const char *subkey, std::uint32_t access, RegKey *key) {
    HKEY root = hive == Hive::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    HKEY opened = nullptr;
    LONG rc = RegOpenKeyExA(root, subkey, 0, access, &opened);
    *key = rc == ERROR_SUCCESS ? opened : nullptr;
    return rc;
}

long reg_query_value(RegKey key, const char *name, std::uint32_t *type, unsigned char *data,
                     std::uint32_t *size) {
    DWORD t = 0;
    DWORD n = size ? *size : 0;
    LONG rc = RegQueryValueExA(static_cast<HKEY>(key), name, nullptr, type ? &t : nullptr, data,
                               size ? &n : nullptr);
    if (type) *type = t;
    if (size) *size = n;
    return rc;
}

long reg_close_key(RegKey key) { return RegCloseKey(static_cast<HKEY>(key)); }

} // namespace plat
