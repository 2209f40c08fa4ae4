// The calling thread's error codes, in Windows numbers on every platform.
#pragma once

#include <cstdint>

namespace plat {

// The system's code of the last failed call (GetLastError / SetLastError(0)). On POSIX it is
// errno, reported as the Winsock number of the same failure, so that codes agree across platforms.
std::uint32_t last_system_error();
void clear_system_error();

// The thread's last-error code as GetLastError / SetLastError keep it. Computer names, module
// loading and the terminal-session query leave their failures' reasons here, in Windows numbers
// on every platform (on POSIX a thread-local code that their substitutes set).
std::uint32_t last_error();
void set_last_error(std::uint32_t code);

} // namespace plat
