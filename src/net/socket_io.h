// Whole-buffer reads and writes on a connection's raw socket, each wait bounded by the connection's time-out.
// TLS connections have their own pair with the same contracts (tls/netssl.h).
#pragma once

#include <cstdint>

struct RavlinkContext;

// Reads `wanted` bytes, or with partial set whatever the first receive brings. The count read;
// 0 on a time-out (bytes of earlier passes are not counted); negative on a socket error. A
// remote close returns what arrived and leaves pc->error at 10053.
std::int32_t read_all(RavlinkContext *pc, unsigned char *buffer, std::uint32_t wanted, std::int32_t partial);
// Writes the buffer, waiting for room as long as each wait of the time-out sees some: the length
// when all went out; after a wait without room the count sent so far; negative on a socket error.
std::int32_t write_all(RavlinkContext *pc, const unsigned char *buffer, std::uint32_t length);
