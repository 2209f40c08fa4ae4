// The password of `ravlink connect --user`: from an environment variable or a file, never from
// the command line itself (where every user of the machine could read it).
#pragma once

#include <string>

#include "options.h"

namespace tool {

// --password-env NAME or --password-file FILE. False with an error text when the variable or
// file cannot be read; *given false when neither option is there.
bool read_password(const Options &o, std::string &password, bool *given, std::string &error);

} // namespace tool
