// What `ravlink connect --verbose` tells about a new connection.
#include "connection_info.h"

namespace tool {

void describe_connection(FILE *out, RavlinkContext *pc) {
    static const char *const types[] = {"plain", "Kerberos", "TLS"};
    uint32_t type = RavlinkGetSecurityType(pc);
    std::fprintf(out, "connected: security level %d, %s\n", static_cast<int>(RavlinkGetSecurityLevel(pc)),
                 type < 3 ? types[type] : "unknown security type");
    char name[256]; // the lookup keeps names of at most 255 characters
    size_t len = sizeof name;
    if (RavlinkGetTSClientName(pc, name, &len) == 1 && len > 0) std::fprintf(out, "client name: %s\n", name);
    std::fflush(out);
}

} // namespace tool
