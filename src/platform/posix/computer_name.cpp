// Computer names on POSIX: the host name from gethostname; the fully qualified name from
// gethostname when it holds a dot, else from the resolver's canonical name; the DNS domain is
// what follows the first dot of that; the NetBIOS forms are the first label in capitals, at
// most 15 characters. Physical names are the same as the others.
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/computer_name.h"

namespace plat {

namespace {

constexpr std::uint32_t kMoreData = 234;       // ERROR_MORE_DATA
constexpr std::uint32_t kNotFound = 1168;      // ERROR_NOT_FOUND
constexpr std::uint32_t kInvalidParam = 87;    // ERROR_INVALID_PARAMETER

bool host_name(std::string &out) {
    char buf[1025] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return false;
    out = buf;
    return !out.empty();
}

bool fully_qualified(std::string &out) {
    std::string host;
    if (!host_name(host)) return false;
    if (host.find('.') != std::string::npos) {
        out = host;
        return true;
    }
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) == 0 && list != nullptr) {
        if (list->ai_canonname != nullptr && list->ai_canonname[0] != '\0') out = list->ai_canonname;
        else out = host;
        freeaddrinfo(list);
        return true;
    }
    out = host;
    return true;
}

bool name_of(NameFormat format, std::string &out) {
    std::string full;
    switch (format) {
    case NameFormat::DnsHostname:
    case NameFormat::PhysicalDnsHostname:
        if (!fully_qualified(full)) return false;
        out = full.substr(0, full.find('.'));
        return true;
    case NameFormat::DnsFullyQualified:
    case NameFormat::PhysicalDnsFullyQualified:
        return fully_qualified(out);
    case NameFormat::DnsDomain:
    case NameFormat::PhysicalDnsDomain: {
        if (!fully_qualified(full)) return false;
        std::size_t dot = full.find('.');
        out = dot == std::string::npos ? std::string() : full.substr(dot + 1);
        return true;
    }
    case NameFormat::NetBIOS:
    case NameFormat::PhysicalNetBIOS:
        if (!host_name(full)) return false;
        out = full.substr(0, full.find('.')).substr(0, 15);
        for (char &c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return true;
    }
    set_last_error(kInvalidParam);
    return false;
}

} // namespace

bool computer_name(NameFormat format, char *buffer, std::uint32_t *size) {
    std::string name;
    set_last_error(0);
    if (!name_of(format, name)) {
        if (last_error() == 0) set_last_error(kNotFound);
        return false;
    }
    if (name.empty()) {
        set_last_error(kNotFound);
        if (*size > 0) buffer[0] = '\0';
        *size = 0;
        return false;
    }
    if (name.size() + 1 > *size) {
        set_last_error(kMoreData);
        *size = static_cast<std::uint32_t>(name.size() + 1);
        return false;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<std::uint32_t>(name.size());
    set_last_error(0);
    return true;
}

} // namespace plat
