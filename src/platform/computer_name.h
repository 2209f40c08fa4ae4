// The computer's names, in the formats of GetComputerNameExA.
#pragma once

#include <cstdint>

#include "platform/system_error.h"

namespace plat {

enum class NameFormat {
    NetBIOS = 0,
    DnsHostname = 1,
    DnsDomain = 2,
    DnsFullyQualified = 3,
    PhysicalNetBIOS = 4,
    PhysicalDnsHostname = 5,
    PhysicalDnsDomain = 6,
    PhysicalDnsFullyQualified = 7,
};

// GetComputerNameExA: *size in: the buffer's size; out: the characters stored (on success) or
// the size needed (when too small). True on success; the last-error code tells why not.
bool computer_name(NameFormat format, char *buffer, std::uint32_t *size);

} // namespace plat
