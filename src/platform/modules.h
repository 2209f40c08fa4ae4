// Loading modules at run time (LoadLibraryA / GetProcAddress; dlopen / dlsym on POSIX).
#pragma once

#include <string>

namespace plat {

using Module = void *;

// Loads a module by name or path; null on failure (last_error() / the loader tells why).
Module load_module(const char *name);
// An entry point of a module by name; null when missing.
void *module_symbol(Module module, const char *name);
// The folder that holds the library's own file, with a trailing separator; empty if unknown.
std::string library_directory();
// The loader's text for the last failure (dlerror); empty on Windows, where last_error() tells.
std::string module_error();

} // namespace plat
