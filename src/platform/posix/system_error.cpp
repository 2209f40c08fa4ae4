// The thread's error codes on POSIX: errno as a Winsock number, and the last-error code that the
// substitutes of Windows calls set.
#include <cerrno>

#include "platform/posix/socket_errors.h"
#include "platform/system_error.h"

namespace plat {

namespace {
thread_local std::uint32_t t_last_error = 0;
}

std::uint32_t last_error() { return t_last_error; }
void set_last_error(std::uint32_t code) { t_last_error = code; }

std::uint32_t last_system_error() { return static_cast<std::uint32_t>(posix::wsa_from_errno(errno)); }
void clear_system_error() { errno = 0; }

} // namespace plat
