// The system's socket address types and constants (addrinfo, sockaddr, socklen_t, AF_*, AI_*,
// NI_*), for the transport code that walks address lists. Nothing else of the sockets API is
// meant to be used through this header: the calls are in platform/sockets.h.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif
