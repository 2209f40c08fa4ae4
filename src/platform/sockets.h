// Sockets beyond the basics of platform.h: the socket library's start and stop. The transport
// layer adds here what it needs (resolver, connect, select-style waits, send and receive).
#pragma once

#include "platform/platform.h"

namespace plat {

// WSAStartup(2.2) / WSACleanup; POSIX keeps the count only. Result 0 or the Winsock code.
int wsa_startup();
void wsa_cleanup();
// Number of WSACleanup calls made so far (for tests of the use count).
unsigned wsa_cleanup_calls();

} // namespace plat
