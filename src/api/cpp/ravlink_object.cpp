// The Ravlink class: construction, copies that share the connection, release, properties.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "core/text.h"
#include "diag/error_state.h"
#include "platform/codes.h"
#include "ravlink.h"

// The number of objects that hold one connection.
struct Ravlink::Share {
    std::atomic<long> holders;
};

namespace {

char *copy_principal(const char *text) {
    if (text == nullptr) return nullptr;
    char *copy = core::copy_text(text);
    if (copy == nullptr) s_setError("Cannot allocate memory for ServicePrincipal name.", codes::kNoMemory);
    return copy;
}

} // namespace

Ravlink::Ravlink() : Ravlink(3) {}

Ravlink::Ravlink(int32_t level) : Ravlink(level, "sedrin") {}

Ravlink::Ravlink(int32_t level, std::string principalName)
    : context(nullptr), securityLevel(level), principal(copy_principal(principalName.c_str())), share(nullptr) {}

Ravlink::Ravlink(const Ravlink &other)
    : context(other.context), securityLevel(other.securityLevel), principal(copy_principal(other.principal)),
      share(other.share) {
    if (share != nullptr) share->holders.fetch_add(1);
}

Ravlink &Ravlink::operator=(const Ravlink &other) {
    if (this == &other) return *this;
    char *copy = copy_principal(other.principal);
    if (copy != nullptr || other.principal == nullptr) { // out of memory: keep the text we have
        std::free(principal);
        principal = copy;
    }
    if (other.share != share) {
        if (other.share != nullptr) other.share->holders.fetch_add(1);
        Release();
        context = other.context;
        share = other.share;
    }
    securityLevel = other.securityLevel;
    return *this;
}

Ravlink::~Ravlink() {
    Release();
    std::free(principal);
    principal = nullptr;
}

void Ravlink::Release() {
    if (share != nullptr && share->holders.fetch_sub(1) == 1) {
        RavlinkClose(context);
        delete share;
    }
    context = nullptr;
    share = nullptr;
}

int32_t Ravlink::Adopt(RavlinkContext *pc) {
    if (pc == nullptr) return 0;
    share = new (std::nothrow) Share{{1}};
    if (share == nullptr) {
        RavlinkClose(pc);
        s_setError("Cannot allocate memory for connection object.", codes::kNoMemory);
        return 0;
    }
    context = pc;
    securityLevel = RavlinkGetSecurityLevel(pc);
    return 1;
}

uint32_t Ravlink::GetConnectionError() const { return RavlinkGetErrorCode(context); }

int32_t Ravlink::GetRdlen() const { return RavlinkGetRdlen(context); }

int32_t Ravlink::GetSecurityLevel() const { return securityLevel; }

int32_t Ravlink::GetTSClientName(char *buf, uint64_t *len) const {
    static_assert(std::is_same<uint64_t, size_t>::value, "the C function takes a size_t length");
    return RavlinkGetTSClientName(context, buf, len);
}

int32_t Ravlink::SetMode(uint32_t mode) { return static_cast<int32_t>(RavlinkSetMode(context, mode)); }

int32_t Ravlink::SetSecurityLevel(int32_t level) {
    securityLevel = context != nullptr ? RavlinkSetSecurityLevel(context, level) : level;
    return securityLevel;
}
