// Named server definitions in the registry.
#pragma once

#include <cstdint>

// Reads the definition of a server: address, port, principal name and security level. 1 with all
// four outputs filled, 0 on failure (traced, nothing recorded in the error state).
int ServerToHostPort(const char *server, char *address, std::uint32_t addressSize, char *port,
                     std::uint32_t portSize, char *principal, std::uint32_t principalSize,
                     std::int32_t *level);
