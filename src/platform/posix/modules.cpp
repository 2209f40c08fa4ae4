// Module loading on POSIX: dlopen / dlsym; the library's folder through dladdr.
#include <dlfcn.h>

#include "platform/modules.h"

namespace plat {

Module load_module(const char *name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }

void *module_symbol(Module module, const char *name) { return module ? dlsym(module, name) : nullptr; }

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
