// Name resolution through the resolver binding: the platform's getaddrinfo, getnameinfo and
// freeaddrinfo, each taken by name on its first use. Results are 0 or Winsock codes.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

// Resolves host and service (may be null) into an address list of stream sockets: as a numeric
// address first, then as a name and, for family 0, then as a name of IPv6 addresses only.
// Null on failure. Either way the last socket error holds the last attempt's result (0 or a
// Winsock code). The caller releases the list with s_freeaddrinfo.
addrinfo *s_getaddrinfo(const char *host, const char *service, int family, int flags);

// The bound resolver functions themselves.
int s_resolverGetaddrinfo(const char *node, const char *service, const addrinfo *hints, addrinfo **result);
int s_getnameinfo(const sockaddr *address, socklen_t addressLength, char *host, std::uint32_t hostSize,
                  char *service, std::uint32_t serviceSize, int flags);
void s_freeaddrinfo(addrinfo *list);

// Replaces the bound getaddrinfo and freeaddrinfo (tests give names address lists that the
// system's resolver cannot); nulls go back to the platform's entry points.
void s_rebindResolver(plat::GetAddrInfoFn getaddrinfoEntry, plat::FreeAddrInfoFn freeaddrinfoEntry);
