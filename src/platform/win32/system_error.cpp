// The thread's system error code on Windows.
#include <windows.h>

#include "platform/system_error.h"

namespace plat {

std::uint32_t last_system_error() { return GetLastError(); }
void clear_system_error() { SetLastError(0); }

} // namespace plat
