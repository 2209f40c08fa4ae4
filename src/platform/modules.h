// Loading modules at run time (LoadLibraryExW / GetProcAddress; dlopen / dlsym on POSIX).
#pragma once

#include <cstdint>
#include <string>

#include "platform/system_error.h"

namespace plat {

// A failed load or look-up below leaves its code in last_error(): Windows' own, or on POSIX the
// Windows numbers 126 (module not found) and 127 (procedure not found).

using Module = void *;

// Loads a module by name or path from the loader's search path; null on failure.
Module load_module(const char *name);
// Loads a module of the operating system by file name: on Windows from the system folder only
// (LOAD_LIBRARY_SEARCH_SYSTEM32), never from the working folder or PATH.
Module load_system_module(const char *name);
// An entry point of a module by name; null when missing.
void *module_symbol(Module module, const char *name);

// A module file in the library's own folder, by its full path only: the copy the process holds
// already, taken with a reference (*held true), else loaded from there, its own dependencies from
// that folder and the system folder (LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | _SYSTEM32). *path is the
// full path (8-bit, for messages). Null when there is no such file or it cannot be loaded.
Module load_beside_library(const char *fileName, bool *held, std::string *path);
// The same beside another module (the libcrypto of the libssl taken): never a second copy.
Module load_beside_module(Module sibling, const char *fileName, bool *held, std::string *path);
// After the library's own folder: on Windows only a copy that the host process has loaded by this
// file name, taken with a reference (GetModuleHandleEx counts one), so that nothing is ever taken
// from the working folder or PATH; on POSIX the loader's search path, where the system keeps its
// libraries. *held tells whether the process held it already. Null when none.
Module load_by_name(const char *fileName, bool *held);

// Keeps the library's own module loaded until the process ends, for callbacks that other
// modules keep pointing into it.
void pin_library();

// The loader's text for the last failure (dlerror); empty on Windows, where the code tells.
std::string module_error();

} // namespace plat
