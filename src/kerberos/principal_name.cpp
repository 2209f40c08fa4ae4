// RavlinkGeneratePrincipalName: a server's Kerberos service principal name from its host name or
// address, a service-class prefix and a server type. The host is resolved to its fully qualified
// name first; the local computer's own addresses stand for its fully qualified DNS name.
#include <cctype>
#include <cstring>
#include <string>

#include "core/text.h"
#include "diag/allocation_guard.h"
#include "diag/error_state.h"
#include "kerberos/computer_name.h"
#include "net/resolver.h"
#include "net/socket_library.h"
#include "platform/computer_name.h"
#include "platform/platform.h"

namespace {

constexpr std::size_t kResolvedCapacity = 1089;

bool is_local_address(const char *host) {
    return std::strcmp(host, "127.0.0.1") == 0 || core::equal_nocase(host, "localhost") ||
           core::equal_nocase(host, "::1");
}

// The host's fully qualified name into resolved (empty when a numeric address has no reverse
// name). False with the error text stored when the host cannot be resolved.
bool resolve_host(const char *host, char *resolved) {
    resolved[0] = '\0';
    if (is_local_address(host)) {
        if (s_getComputerName(resolved, kResolvedCapacity, 'F') == 0) {
            s_formatError("Could not resolve input IPAddress argument to FQDN.", plat::last_error());
            return false;
        }
        return true;
    }
    addrinfo *list = s_getaddrinfo(host, nullptr, 0, AI_CANONNAME);
    if (list == nullptr) {
        s_formatError("Could not resolve input IPAddress argument to FQDN with getaddrinfo().",
                      static_cast<std::uint32_t>(plat::last_socket_error()));
        return false;
    }
    if (list->ai_canonname != nullptr && !core::equal_nocase(list->ai_canonname, host)) {
        std::strncpy(resolved, list->ai_canonname, kResolvedCapacity - 1);
        resolved[kResolvedCapacity - 1] = '\0';
    } else {
        int status = s_getnameinfo(list->ai_addr, static_cast<socklen_t>(list->ai_addrlen), resolved,
                                   kResolvedCapacity, nullptr, 0, NI_NAMEREQD);
        plat::set_last_socket_error(status);
        if (status != 0) resolved[0] = '\0';
    }
    s_freeaddrinfo(list);
    return true;
}

void to_lower(char &c) {
    if (std::isupper(static_cast<unsigned char>(c))) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

void to_upper(char &c) {
    if (std::islower(static_cast<unsigned char>(c))) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool generate(const char *host, const char *serverType, const char *prefix, char *outName, std::int32_t outSize) {
    char resolved[kResolvedCapacity];
    if (!resolve_host(host, resolved)) return false;

    std::string name;
    switch (serverType[0]) {
    case '0': {
        // prefix, then the first label of the host in capitals
        char *end = resolved;
        for (; *end != '\0' && *end != '.'; ++end) to_upper(*end);
        *end = '\0';
        name = std::string(prefix) + resolved;
        for (std::size_t i = 0, n = std::strlen(prefix); i < n; ++i) to_lower(name[i]);
        break;
    }
    case '1':
    case '2':
        // prefix/fully.qualified.name, all in lower case
        name = std::string(prefix) + "/" + resolved;
        for (char &c : name) to_lower(c);
        break;
    default:
        s_formatError("Invalid ServerType argument value to GeneratePrincipalName()", 0);
        return false;
    }
    if (outSize <= 0 || name.size() + 1 > static_cast<std::size_t>(outSize)) {
        if (outSize > 0) outName[0] = '\0';
        s_formatError("OutName buffer size too small.", 0);
        return false;
    }
    std::memcpy(outName, name.c_str(), name.size() + 1);
    return true;
}

} // namespace

extern "C" RAVLINK_API int32_t RavlinkGeneratePrincipalName(const char *ipAddress, const char *serverType,
                                                            const char *prefix, char *outName, int32_t outSize) {
    if (ipAddress == nullptr || serverType == nullptr || prefix == nullptr || outName == nullptr) {
        s_formatError("Missing argument to GeneratePrincipalName()", 0);
        return 0;
    }
    if (!s_wsockstart()) return 0;
    bool ok = diag::guard_allocations(false, "Cannot allocate memory for the principal name.",
                                      [&] { return generate(ipAddress, serverType, prefix, outName, outSize); });
    s_wsacleanup();
    return ok ? 1 : 0;
}
