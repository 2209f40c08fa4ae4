// A TLS configuration record packed into one allocation: the ten field pointers, then their
// texts back to back, each pointer aiming at its own text; a null field becomes an empty text.
#pragma once

#include "ravlink.h"

// The packed copy (freed with one free()), or null when memory is exhausted.
RavlinkSSLconfig *s_packSSLconfig(const RavlinkSSLconfig *source);
