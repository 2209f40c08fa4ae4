// Sockets beyond the basics of platform.h: the socket library's start and stop, the resolver's
// entry points, and the calls the transport makes (create, options, connect, bind, send,
// receive, a select-style wait on one socket). Calls that succeed or fail return true on
// success; counts are -1 on failure, a new socket the invalid one. Every failure leaves a Winsock
// number in last_socket_error(), on every platform.
//
// The system's socket address types (addrinfo, sockaddr, socklen_t) and their AF_* / AI_*
// constants come from platform/socket_types.h, the only header outside the platform folders'
// sources that names them.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/socket_types.h"

namespace plat {

// WSAStartup(2.2) / WSACleanup; POSIX keeps the count only. Result 0 or the Winsock code.
int wsa_startup();
void wsa_cleanup();
// Number of WSACleanup calls made so far (for tests of the use count).
unsigned wsa_cleanup_calls();

// ---- Resolver ----

// The resolver functions with Winsock's contract: results are 0 or a Winsock code
// (11001 host not found, ...). The host and service buffer sizes of getnameinfo are 32-bit.
using GetAddrInfoFn = int (*)(const char *node, const char *service, const addrinfo *hints,
                              addrinfo **result);
using GetNameInfoFn = int (*)(const sockaddr *address, socklen_t addressLength, char *host,
                              std::uint32_t hostSize, char *service, std::uint32_t serviceSize,
                              int flags);
using FreeAddrInfoFn = void (*)(addrinfo *list);

// An entry point of the platform's sockets library by name ("getaddrinfo", "getnameinfo",
// "freeaddrinfo"), as GetProcAddress on ws2_32 gives it; null when the library lacks it.
void *resolver_entry(const char *name);

// ---- Socket calls ----

// A new socket in non-blocking mode (FIONBIO 1; on Linux set at creation, which saves a call).
socket_t open_socket(int family, int type, int protocol);
// A connect still in progress on the non-blocking socket is a failure with 10035 (would block).
bool connect_socket(socket_t s, const sockaddr *address, socklen_t length);
bool bind_socket(socket_t s, const sockaddr *address, socklen_t length);
// send / recv with flags 0: the count, or -1 (10035 when the socket cannot take or give data yet).
// A send never raises a signal.
int send_bytes(socket_t s, const void *data, int length);
int recv_bytes(socket_t s, void *data, int length);

// The integer socket options the library sets, at their own levels.
enum class SocketOption {
    ReceiveBuffer, // SOL_SOCKET, SO_RCVBUF
    SendBuffer,    // SOL_SOCKET, SO_SNDBUF
    KeepAlive,     // SOL_SOCKET, SO_KEEPALIVE
    IPv6Only,      // IPPROTO_IPV6, IPV6_V6ONLY
};
bool set_socket_option(socket_t s, SocketOption option, int value);
// The socket's pending error (getsockopt SO_ERROR) as a Winsock number; -1 when it cannot be read.
int pending_socket_error(socket_t s);

// ---- Waiting for one socket ----

// The sets of a select() that holds only this socket.
constexpr unsigned kWaitRead = 1;
constexpr unsigned kWaitWrite = 2;
constexpr unsigned kWaitExcept = 4;

// Waits until the socket is ready for one of the requested sets or the time-out passes (null:
// no limit), with select()'s outcomes: -1 failure, 0 time-out, 1 ready with *ready holding the
// sets the socket is in. The exception set reports a failed non-blocking connect.
// POSIX waits with poll(), which has no limit on descriptor numbers.
int select_socket(socket_t s, unsigned sets, const struct timeval *timeout, unsigned *ready);

} // namespace plat
