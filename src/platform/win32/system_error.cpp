// The thread's error codes on Windows: both are GetLastError.
#include <windows.h>

#include "platform/system_error.h"

namespace plat {

std::uint32_t last_system_error() { return GetLastError(); }
void clear_system_error() { SetLastError(0); }

std::uint32_t last_error() { return GetLastError(); }
void set_last_error(std::uint32_t code) { SetLastError(code); }

} // namespace plat
