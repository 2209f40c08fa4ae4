// Loading modules at run time (LoadLibraryA / GetProcAddress; dlopen / dlsym on POSIX).
#pragma once

#include <cstdint>
#include <string>

namespace plat {

using Module = void *;

// Loads a module by name or path; null on failure (last_error() / the loader tells why).
Module load_module(const char *name);
// An entry point of a module by name; null when missing.
void *module_symbol(Module module, const char *name);
// The folder that holds the library's own file, with a trailing separator; empty if unknown.
std::string library_directory();
// The module of that path or name when the process has loaded it already, without taking a
// reference (GetModuleHandleExA with GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT); else null.
Module loaded_module(const char *path);
// Loads a module by path (LoadLibraryExA with LOAD_WITH_ALTERED_SEARCH_PATH, so that its own
// dependencies are looked for in its folder first) or, for a bare name, from the loader's path.
Module load_module_altered(const char *path);
// The system's code for the calling thread's last failed load or look-up: GetLastError on
// Windows; on POSIX the Windows numbers 126 (module not found) and 127 (procedure not found).
std::uint32_t module_error_code();
// The loader's text for the last failure (dlerror); empty on Windows, where last_error() tells.
std::string module_error();

} // namespace plat
