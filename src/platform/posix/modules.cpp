// Module loading on POSIX: dlopen / dlsym; the library's folder through dladdr.
#include <dlfcn.h>
#include <link.h>

#include "platform/modules.h"

namespace plat {

namespace {
// The codes Windows gives for these failures, so that messages read the same everywhere.
constexpr std::uint32_t kModuleNotFound = 126;
constexpr std::uint32_t kProcedureNotFound = 127;

std::string folder_of(const char *path) {
    std::string p = path != nullptr ? path : "";
    std::size_t slash = p.rfind('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

// The module the process holds already (*held), else a fresh load, by name or path.
Module open_counted(const std::string &name, bool *held) {
    Module m = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (m != nullptr) {
        if (held != nullptr) *held = true;
        return m; // the reference dlopen counted is kept, as GetModuleHandleEx keeps one
    }
    return load_module(name.c_str());
}

Module open_in_folder(const std::string &folder, const char *fileName, bool *held, std::string *path) {
    if (path != nullptr) *path = folder + fileName;
    if (folder.empty()) {
        set_last_error(kModuleNotFound);
        return nullptr;
    }
    return open_counted(folder + fileName, held);
}
} // namespace

Module load_module(const char *name) {
    Module m = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (m == nullptr) set_last_error(kModuleNotFound);
    return m;
}

Module load_system_module(const char *name) { return load_module(name); }

void *module_symbol(Module module, const char *name) {
    void *symbol = module ? dlsym(module, name) : nullptr;
    if (symbol == nullptr) set_last_error(kProcedureNotFound);
    return symbol;
}

Module load_beside_library(const char *fileName, bool *held, std::string *path) {
    Dl_info info{};
    std::string folder;
    if (dladdr(reinterpret_cast<void *>(&load_beside_library), &info) != 0) folder = folder_of(info.dli_fname);
    return open_in_folder(folder, fileName, held, path);
}

Module load_beside_module(Module sibling, const char *fileName, bool *held, std::string *path) {
    link_map *map = nullptr;
    std::string folder;
    if (sibling != nullptr && dlinfo(sibling, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr)
        folder = folder_of(map->l_name);
    return open_in_folder(folder, fileName, held, path);
}

Module load_by_name(const char *fileName, bool *held) { return open_counted(fileName, held); }

void pin_library() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&pin_library), &info) != 0 && info.dli_fname != nullptr)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

std::string module_error() {
    const char *e = dlerror();
    return e ? e : "";
}

} // namespace plat
