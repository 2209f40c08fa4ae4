// Connecting by the name of a server definition: the definition gives address, port,
// principal name and level, and the connect runs as by address and port.
#include <cstdint>

#include "config/server_definitions.h"
#include "core/text.h"
#include "diag/allocation_guard.h"
#include "diag/error_state.h"
#include "diag/trace.h"
#include "ravlink.h"

namespace {

const char *shown(const char *text, const char *absent) { return text ? text : absent; }

// Buffer sizes for the definition's texts.
constexpr std::uint32_t kAddressSize = 64;
constexpr std::uint32_t kPortSize = 32;
constexpr std::uint32_t kPrincipalSize = 128;
constexpr std::int32_t kLevelNamedTls = 10;

RavlinkContext *connect_by_name(const char *server, const struct timeval *timeout, const char *user,
                                const char *password, const char *authority) {
    char address[kAddressSize];
    char port[kPortSize];
    char principal[kPrincipalSize];
    std::int32_t level = 0;
    if (!ServerToHostPort(server, address, kAddressSize, port, kPortSize, principal, kPrincipalSize, &level)) {
        ravlink_tracelog(6, "ServerToHostPort(%s) failed in RavlinkLoginToServer().\n", shown(server, "no server"));
        return nullptr;
    }
    // A level-10 server uses the TLS configuration of its own name.
    const char *target = level == kLevelNamedTls ? server : principal;
    return RavlinkLoginToHostPort(address, port, timeout, level, user, password, authority, target);
}

} // namespace

extern "C" RAVLINK_API RavlinkContext *RavlinkLoginToServer(const char *server, const struct timeval *timeout,
                                                            const char *user, const char *password,
                                                            const char *authority) {
    s_setCurrentConnection(nullptr);
    ravlink_tracelog(4, "RavlinkLoginToServer(%s,%x,%s,%s,%s)\n", shown(server, "no server"), core::low32(timeout),
                     shown(user, "no username"), shown(password, "no password"), shown(authority, "no authority"));
    return diag::guard_allocations(static_cast<RavlinkContext *>(nullptr),
                                   "Cannot allocate memory for connection object.",
                                   [&] { return connect_by_name(server, timeout, user, password, authority); });
}

extern "C" RAVLINK_API RavlinkContext *RavlinkToServer(const char *server, const struct timeval *timeout) {
    ravlink_tracelog(4, "RavlinkToServer(%s,%x)\n", shown(server, "no server"), core::low32(timeout));
    return RavlinkLoginToServer(server, timeout, nullptr, nullptr, nullptr);
}
