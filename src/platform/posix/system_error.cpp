// The thread's system error code on POSIX: errno as a Winsock number.
#include <cerrno>

#include "platform/posix/socket_errors.h"
#include "platform/system_error.h"

namespace plat {

std::uint32_t last_system_error() { return static_cast<std::uint32_t>(posix::wsa_from_errno(errno)); }
void clear_system_error() { errno = 0; }

} // namespace plat
