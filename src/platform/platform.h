// The operations the library relies on from the operating system. win32/ implements them
// with the real API, posix/ with the substitutes. Codes are the same on every platform:
// Winsock numbers for sockets and the resolver, SSPI numbers for the security package,
// 8 for a failed allocation, errno for files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ravlink.h"

namespace plat {

using socket_t = ravlink_socket_t;
constexpr socket_t kInvalidSocket = RAVLINK_INVALID_SOCKET;

// ---- Process ----

// Major version of the operating system; the library keeps per-thread error state at 6
// and above (every POSIX system reports 6).
int os_major_version();
// The value of an environment variable; false when it is not set.
bool get_env(const char *name, std::string &value);
// The text with each %NAME% replaced by that environment variable's value, as
// ExpandEnvironmentStringsA does (a name that is not set stays as written).
std::string expand_environment(const char *text);
std::uint32_t process_id();
std::uint32_t thread_id();
// Yields the processor (an alertable sleep of 0 ms on Windows).
void yield_processor();
// Overwrites memory that held a secret with zeros, in a way the compiler cannot drop
// (SecureZeroMemory on Windows, explicit_bzero on POSIX).
void wipe_memory(void *data, std::size_t length);
// wipe_memory of a NUL-terminated text, if not null.
void wipe_text(char *text);

// ---- The library lock: process-wide, re-entrant, never destroyed ----

void library_lock();
void library_unlock();

class LibraryLock {
public:
    LibraryLock() { library_lock(); }
    ~LibraryLock() { library_unlock(); }
    LibraryLock(const LibraryLock &) = delete;
    LibraryLock &operator=(const LibraryLock &) = delete;
};

// ---- Texts for codes ----

// The system's English description of a Winsock, SSPI or system code, as FormatMessageA
// gives it (line end included on Windows); empty when the system has none.
std::string system_message(std::uint32_t code);

// ---- Sockets (the calls a connection context makes on its socket) ----

// True on success; a failure leaves its Winsock number in last_socket_error().
bool close_socket(socket_t s);
// ioctlsocket(FIONBIO) with the given value.
bool set_nonblocking(socket_t s, bool on);
// setsockopt(IPPROTO_TCP, TCP_NODELAY, 1).
bool set_tcp_nodelay(socket_t s);
// WSAGetLastError / WSASetLastError: the thread's last socket error as a Winsock number.
int last_socket_error();
void set_last_socket_error(int code);

} // namespace plat
