// The terminal-session client name of a connection.
#pragma once

#include <cstdint>

struct RavlinkContext;

// Asks the terminal session for its client's name and the client's address as text. The lengths
// are in: the buffers' capacities; out: the texts' lengths without their terminators. 0 when both
// the name and the address text were obtained, 1 otherwise (with the reason in the error state,
// except for an empty name).
int s_GetTSClient(char *name, std::uint32_t *nameLength, char *address, std::uint32_t *addressLength);

// Looks the client name up and keeps it in pc->tsClientName. True with or without a name; false
// when memory for the name could not be allocated.
bool s_fillTSClientName(RavlinkContext *pc);
