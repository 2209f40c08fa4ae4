// Module loading on POSIX: dlopen / dlsym; the library's folder through dladdr.
#include <dlfcn.h>

#include "platform/modules.h"

namespace plat {

namespace {
// The codes Windows gives for these failures, so that messages read the same everywhere.
constexpr std::uint32_t kModuleNotFound = 126;
constexpr std::uint32_t kProcedureNotFound = 127;
thread_local std::uint32_t t_module_error = 0;
} // namespace

Module load_module(const char *name) {
    Module m = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (m == nullptr) t_module_error = kModuleNotFound;
    return m;
}

Module loaded_module(const char *path) {
    Module m = dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    // dlopen counted a reference: give it back, the module stays loaded by its earlier holder.
    if (m != nullptr) dlclose(m);
    return m;
}

Module load_module_altered(const char *path) { return load_module(path); }

void *module_symbol(Module module, const char *name) {
    void *symbol = module ? dlsym(module, name) : nullptr;
    if (symbol == nullptr) t_module_error = kProcedureNotFound;
    return symbol;
}

std::uint32_t module_error_code() { return t_module_error; }

std::string library_directory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&library_directory), &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    std::string path = info.dli_fname;
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string module_error() {
    const char *e = dlerror();
    return e ? e : "";
}

} // namespace plat
