// Module loading on Windows: wide paths throughout (long and non-ANSI install folders work), full
// paths only for the library's companions, System32 only for the system's modules.
#include <windows.h>

#include <vector>

#include "platform/modules.h"

namespace plat {

namespace {

constexpr DWORD kBesideFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

// A module's full path; empty when it cannot be had.
std::wstring module_path(HMODULE module) {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(module, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return std::wstring();
        if (n < buf.size()) return std::wstring(buf.data(), n);
        if (buf.size() >= 32768) return std::wstring();
        buf.resize(buf.size() * 2);
    }
}

std::wstring folder_of(const std::wstring &path) {
    std::size_t sep = path.find_last_of(L"\\/");
    return sep == std::wstring::npos ? std::wstring() : path.substr(0, sep + 1);
}

std::wstring widen(const char *text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &out[0], n);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

std::string narrow(const std::wstring &text) {
    int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

HMODULE own_module() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&own_module), &self))
        return nullptr;
    return self;
}

// The file of that full path: the process's copy with a reference, else a load by full path.
Module load_full_path(const std::wstring &path, bool *held) {
    HMODULE m = nullptr;
    if (GetModuleHandleExW(0, path.c_str(), &m)) {
        if (held != nullptr) *held = true;
        return m;
    }
    m = LoadLibraryExW(path.c_str(), nullptr, kBesideFlags);
    // Systems without the safe search flags refuse them: the full path with the altered search
    // (dependencies from the module's own folder first) is the nearest they offer.
    if (m == nullptr && GetLastError() == ERROR_INVALID_PARAMETER)
        m = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    return m;
}

Module load_in_folder(const std::wstring &folder, const char *fileName, bool *held, std::string *path) {
    const std::wstring full = folder + widen(fileName);
    if (path != nullptr) *path = narrow(full);
    if (folder.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return load_full_path(full, held);
}

} // namespace

Module load_module(const char *name) { return LoadLibraryA(name); }

Module load_system_module(const char *name) {
    HMODULE m = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (m == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        // Without the search flags: the full path in the system folder.
        char dir[MAX_PATH];
        UINT n = GetSystemDirectoryA(dir, sizeof dir);
        if (n == 0 || n >= sizeof dir) return nullptr;
        m = LoadLibraryA((std::string(dir) + "\\" + name).c_str());
    }
    return m;
}

void *module_symbol(Module module, const char *name) {
    if (module == nullptr) return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name));
}

Module load_beside_library(const char *fileName, bool *held, std::string *path) {
    HMODULE self = own_module();
    return load_in_folder(self != nullptr ? folder_of(module_path(self)) : std::wstring(), fileName, held, path);
}

Module load_beside_module(Module sibling, const char *fileName, bool *held, std::string *path) {
    return load_in_folder(folder_of(module_path(static_cast<HMODULE>(sibling))), fileName, held, path);
}

Module load_by_name(const char *fileName, bool *held) {
    HMODULE m = nullptr;
    if (!GetModuleHandleExW(0, widen(fileName).c_str(), &m)) return nullptr;
    if (held != nullptr) *held = true;
    return m;
}

void pin_library() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&pin_library), &self);
}

std::string module_error() { return std::string(); }

} // namespace plat
