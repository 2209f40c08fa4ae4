// The copy loop of `connect` and `server`: standard input to the connection, the connection to
// standard output (like nc), until standard input has ended and the peer is done.
#pragma once

#include <vector>

#include "options.h"
#include "ravlink.h"

namespace tool {

timeval to_timeval(double seconds);
// The options of the copy loop and of the connect before it: --timeout, --vread, --trace.
std::vector<OptionSpec> relay_options();
// What `connect` and `server` do before connecting: read --trace and --timeout, switch
// standard output to binary, start the sockets interface, send the trace to standard error.
// False after printing the error (the command then exits with 2).
bool prepare_relay(const Options &o, const char *command, timeval &timeout);
// Prints "ravlink COMMAND: WHAT" and the library's error text; returns 1.
int report_failure(RavlinkContext *pc, const char *command, const char *what);
// Copies both ways (--vread: receive whatever has arrived), then closes the connection.
// 0, or 1 after printing the library's error text prefixed by "ravlink COMMAND: ".
int relay(RavlinkContext *pc, const Options &o, const timeval &timeout, const char *command);

} // namespace tool
