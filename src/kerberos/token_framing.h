// Kerberos tokens on the wire: a four-byte big-endian length, then the token bytes.
#pragma once

#include <cstdint>

struct RavlinkContext;
struct SendToken;
struct RecvToken;

// The largest token accepted, and the length above which a peer is taken to be sending clear
// text while no security context exists yet.
constexpr std::int32_t kMaxTokenLength = 999999;
constexpr std::int32_t kClearTextThreshold = 200000;

// Writes one frame (length, then token, in two writes). 0 when all went out, else -1 with the
// transport's text and code in place.
std::int32_t send_token(RavlinkContext *pc, const SendToken *tok);
// Reads one frame into tok, reusing its buffer while the token fits. 0 on success, -1 on a
// time-out, a socket failure, clear text before the context exists, or a length that is too large.
std::int32_t recv_token(RavlinkContext *pc, RecvToken *tok);
