// The calling thread's system error code (GetLastError / SetLastError). On POSIX it is errno,
// reported as the Winsock number of the same failure, so that codes agree across platforms.
#pragma once

#include <cstdint>

namespace plat {

std::uint32_t last_system_error();
void clear_system_error();

} // namespace plat
