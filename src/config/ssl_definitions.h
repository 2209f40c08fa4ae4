// The SSL definitions file: TLS per server address and port.
#pragma once

#include <cstdint>

#include "ravlink.h"

// One allocation: the total length of the texts (terminators included), the record, then the
// ten texts back to back. Freed with one free().
struct SSLdefinition {
    std::uint32_t length;
    RavlinkSSLconfig config;
    std::int32_t verifyHostName; // the section's VerifyHostName: 1 the certificate must match the host
};

// Frees a definition, wiping its pass phrase first.
void s_freeSSLdefinition(SSLdefinition *definition);
// The definition for an address and port, or null when the file has none (or cannot be read).
SSLdefinition *s_findSSLdefinition(const char *address, const char *port);
