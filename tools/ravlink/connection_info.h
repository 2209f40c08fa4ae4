// What `ravlink connect --verbose` tells about a new connection.
#pragma once

#include <cstdio>

#include "ravlink.h"

namespace tool {

// Writes the connection's security level and type and, when it has one, its client name.
void describe_connection(FILE *out, RavlinkContext *pc);

} // namespace tool
