// The TCP connect of a new connection, shaped by the process-wide settings kept in
// transport_settings.cpp: buffer sizes (RavlinkRcvBuf, RavlinkSndBuf) and the one-time local binding.
#pragma once

#include "platform/platform.h"

// Resolves host and port and connects a non-blocking socket to the first address that answers
// (IPv4 addresses before IPv6), each address under the whole time-out (null: no limit). The
// socket, or the invalid socket with the reason in the error state. Takes one use of the
// socket library and keeps it whatever the outcome; *tookUse says whether it got one (it has
// none only when the library could not be started).
plat::socket_t s_tcpconnect(const char *host, const char *port, const struct timeval *timeout, bool *tookUse);

// Binds a new socket to the local binding, if one is set, and consumes the binding. 0 when no
// binding is set or the bind succeeded, else the resolver's or the bind's code.
int s_bindto(plat::socket_t s, int family);
