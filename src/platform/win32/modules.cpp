// Module loading: LoadLibraryA / GetProcAddress; the library's folder from its own module.
#include <windows.h>

#include "platform/modules.h"

namespace plat {

Module load_module(const char *name) { return reinterpret_cast<Module>(LoadLibraryA(name)); }

void *module_symbol(Module module, const char *name) {
    if (module == nullptr) return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name));
}

Module loaded_module(const char *path) {
    HMODULE m = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, path, &m)) return nullptr;
    return reinterpret_cast<Module>(m);
}

Module load_module_altered(const char *path) {
    return reinterpret_cast<Module>(LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

std::uint32_t module_error_code() { return GetLastError(); }

std::string library_directory() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&library_directory), &self))
        return std::string();
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, path, sizeof path);
    if (n == 0 || n >= sizeof path) return std::string();
    std::string p(path, n);
    std::size_t sep = p.find_last_of("\\/");
    return sep == std::string::npos ? std::string() : p.substr(0, sep + 1);
}

std::string module_error() { return std::string(); }

} // namespace plat
