// Server definitions and the SSL definitions file are not built yet: nothing is found.
#include "config/server_definitions.h"
#include "config/ssl_definitions.h"
#include "diag/trace.h"

SSLdefinition *s_findSSLdefinition(const char *, const char *) { return nullptr; }

int ServerToHostPort(const char *server, char *, std::uint32_t, char *, std::uint32_t, char *, std::uint32_t,
                     std::int32_t *) {
    ravlink_tracelog(6, "ServerToHostPort(%s):  server definitions are not available in this build.\n",
                     server ? server : "no server");
    return 0;
}
