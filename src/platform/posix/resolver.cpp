// The resolver's entry points with Winsock's contract: resolver results (EAI_*) become Winsock
// numbers, so that callers report the same codes on every platform.
#include <netdb.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/socket_errors.h"
#include "platform/sockets.h"

namespace plat {

namespace {

int resolve(const char *node, const char *service, const addrinfo *hints, addrinfo **result) {
    errno = 0;
    int rc = ::getaddrinfo(node, service, hints, result);
    return posix::wsa_from_eai(rc, errno);
}

int name_of(const sockaddr *address, socklen_t length, char *host, std::uint32_t hostSize, char *service,
            std::uint32_t serviceSize, int flags) {
    errno = 0;
    int rc = ::getnameinfo(address, length, host, hostSize, service, serviceSize, flags);
    return posix::wsa_from_eai(rc, errno);
}

void release(addrinfo *list) {
    if (list != nullptr) ::freeaddrinfo(list);
}

} // namespace

void *resolver_entry(const char *name) {
    GetAddrInfoFn getaddrinfo_entry = resolve;
    GetNameInfoFn getnameinfo_entry = name_of;
    FreeAddrInfoFn freeaddrinfo_entry = release;
    if (std::strcmp(name, "getaddrinfo") == 0) return reinterpret_cast<void *>(getaddrinfo_entry);
    if (std::strcmp(name, "getnameinfo") == 0) return reinterpret_cast<void *>(getnameinfo_entry);
    if (std::strcmp(name, "freeaddrinfo") == 0) return reinterpret_cast<void *>(freeaddrinfo_entry);
    return nullptr;
}

} // namespace plat
