// The resolver binding and s_getaddrinfo's order of attempts.
#include "net/resolver.h"

#include <atomic>

#include "platform/codes.h"
#include "platform/sockets.h"

namespace {

// Filled on first use and kept for the life of the process; a racing first use stores the
// same value twice.
std::atomic<plat::GetAddrInfoFn> s_getaddrinfoEntry{nullptr};
std::atomic<plat::GetNameInfoFn> s_getnameinfoEntry{nullptr};
std::atomic<plat::FreeAddrInfoFn> s_freeaddrinfoEntry{nullptr};

template <typename Fn>
Fn bound(std::atomic<Fn> &slot, const char *name) {
    Fn fn = slot.load(std::memory_order_acquire);
    if (fn == nullptr) {
        fn = reinterpret_cast<Fn>(plat::resolver_entry(name));
        slot.store(fn, std::memory_order_release);
    }
    return fn;
}

} // namespace

int s_resolverGetaddrinfo(const char *node, const char *service, const addrinfo *hints, addrinfo **result) {
    auto fn = bound(s_getaddrinfoEntry, "getaddrinfo");
    if (fn == nullptr) return codes::kWsaNoRecovery;
    return fn(node, service, hints, result);
}

int s_getnameinfo(const sockaddr *address, socklen_t addressLength, char *host, std::uint32_t hostSize,
                  char *service, std::uint32_t serviceSize, int flags) {
    auto fn = bound(s_getnameinfoEntry, "getnameinfo");
    if (fn == nullptr) return codes::kWsaNoRecovery;
    return fn(address, addressLength, host, hostSize, service, serviceSize, flags);
}

void s_freeaddrinfo(addrinfo *list) {
    if (list == nullptr) return;
    if (auto fn = bound(s_freeaddrinfoEntry, "freeaddrinfo")) fn(list);
}

addrinfo *s_getaddrinfo(const char *host, const char *service, int family, int flags) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = 0;
    hints.ai_flags = flags | AI_NUMERICHOST;
    for (;;) {
        addrinfo *list = nullptr;
        int rc = s_resolverGetaddrinfo(host, service, &hints, &list);
        plat::set_last_socket_error(rc);
        if (rc == 0) return list;
        if (hints.ai_flags != flags) {
            hints.ai_flags = flags; // not a numeric address: resolve the text as a name
        } else if (hints.ai_family == 0) {
            hints.ai_family = AF_INET6;
        } else {
            return nullptr;
        }
    }
}

void s_rebindResolver(plat::GetAddrInfoFn getaddrinfoEntry, plat::FreeAddrInfoFn freeaddrinfoEntry) {
    s_getaddrinfoEntry.store(getaddrinfoEntry, std::memory_order_release);
    s_freeaddrinfoEntry.store(freeaddrinfoEntry, std::memory_order_release);
}
