// Refusals of options that cannot be meant: port numbers out of range, and options of one
// security level given at another (where the library would silently not use them).
#pragma once

#include <string>

#include "options.h"

namespace tool {

// A port given as a number must lie in 1-65535, or 0-65535 with allowZero (listening on any free
// port); a service name passes. False with an error text otherwise.
bool check_port(const std::string &port, bool allowZero, std::string &error);

// False with an error text when an option that only another level uses is given (the TLS record
// options outside level 11, the Kerberos login options outside levels 1-3).
bool check_level_options(const Options &options, long level, std::string &error);

} // namespace tool
