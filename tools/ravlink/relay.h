// The copy loop of `connect` and `server`: standard input to the connection, the connection to
// standard output (like nc), until standard input has ended and the peer is done.
#pragma once

#include "options.h"
#include "ravlink.h"

namespace tool {

timeval to_timeval(double seconds);
// Copies both ways (--vread: receive whatever has arrived), then closes the connection.
// 0, or 1 after printing the library's error text prefixed by "ravlink COMMAND: ".
int relay(RavlinkContext *pc, const Options &o, const timeval &timeout, const char *command);

} // namespace tool
