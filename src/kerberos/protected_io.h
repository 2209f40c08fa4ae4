// The Kerberos-protected halves of RavlinkSend and RavlinkRecv (levels 2 and 3).
#pragma once

#include <cstdint>

#include "ravlink.h"

// Receives n bytes (FREAD) or what one token brings (VREAD) into buf, serving held plaintext
// first. 0 on success (the caller dumps the delivered bytes), else RavlinkRecv's failure result.
std::int32_t s_recvProtected(RavlinkContext *pc, unsigned char *buf, std::int32_t n);
// Sends len bytes as tokens of at most sizes.cbMaxToken plaintext bytes each.
bool s_sendProtected(RavlinkContext *pc, const unsigned char *buf, std::uint32_t len, const struct timeval *timeout);
