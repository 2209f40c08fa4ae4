// s_getComputerName: one of the computer's names by a selector letter.
#include "kerberos/computer_name.h"

#include "platform/computer_name.h"

std::uint32_t s_getComputerName(char *buffer, std::uint32_t size, char letter) {
    using plat::NameFormat;
    NameFormat format;
    switch (letter) {
    case 'B': format = NameFormat::NetBIOS; break;
    case 'H': format = NameFormat::DnsHostname; break;
    case 'D': format = NameFormat::DnsDomain; break;
    case 'F': format = NameFormat::DnsFullyQualified; break;
    case 'b': format = NameFormat::PhysicalNetBIOS; break;
    case 'h': format = NameFormat::PhysicalDnsHostname; break;
    case 'd': format = NameFormat::PhysicalDnsDomain; break;
    case 'f': format = NameFormat::PhysicalDnsFullyQualified; break;
    default: return 0;
    }
    std::uint32_t n = size;
    if (!plat::computer_name(format, buffer, &n)) return 0;
    return n;
}
