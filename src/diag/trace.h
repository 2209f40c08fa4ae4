// The trace log: one formatted line per call to a trace file, a caller's stream and a
// caller's callback, each with its own level rule.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ravlink.h"

// Hex dump of a buffer to the trace file and the stream (not the callback).
void ravlink_tracedump(std::int32_t level, std::int32_t length, const void *data);

// Writes one line of a hex dump (16 bytes from offset) and returns the next offset.
std::int32_t s_hexdumpline(std::int32_t offset, const unsigned char *data, std::int32_t length,
                           FILE *out);

// Reads QXN_ravlink_tracefile and QXN_ravlink_tracelevel (process attach).
void s_readTraceSettings();
// Frees the trace-file path (process detach).
void s_freeTraceSettings();
