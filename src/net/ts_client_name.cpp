// The client name a connection keeps: looked up once when the context is made, handed to the
// caller by RavlinkGetTSClientName.
#include <cstdlib>
#include <cstring>

#include "core/context.h"
#include "diag/error_state.h"
#include "net/ts_client.h"
#include "platform/codes.h"

namespace {
constexpr std::uint32_t kNameCapacity = 256;
constexpr std::uint32_t kAddressCapacity = 128;
constexpr std::size_t kKeptCapacity = 128;
} // namespace

bool s_fillTSClientName(RavlinkContext *pc) {
    char *kept = static_cast<char *>(std::malloc(kKeptCapacity));
    if (kept == nullptr) {
        s_setError("Cannot allocate memory for connection object.", codes::kNoMemory);
        return false;
    }
    char name[kNameCapacity];
    char address[kAddressCapacity];
    std::uint32_t nameLength = sizeof name;
    std::uint32_t addressLength = sizeof address;
    int lookup;
    try {
        lookup = s_GetTSClient(name, &nameLength, address, &addressLength);
    } catch (...) { // out of memory: the connect's guard reports it
        std::free(kept);
        throw;
    }
    if (lookup != 0) {
        std::free(kept);
        return true;
    }
    if (nameLength + 1 > kKeptCapacity) {
        char *larger = static_cast<char *>(std::realloc(kept, nameLength + 1));
        if (larger == nullptr) {
            s_setError("Cannot allocate memory for connection object.", codes::kNoMemory);
            std::free(kept);
            return false;
        }
        kept = larger;
    }
    std::memcpy(kept, name, nameLength);
    kept[nameLength] = '\0';
    pc->tsClientName = kept;
    return true;
}

extern "C" RAVLINK_API int32_t RavlinkGetTSClientName(RavlinkContext *pc, char *buf, size_t *len) {
    if (len == nullptr) {
        s_setError("RavlinkGetTSClientName(): invalid parameter.", 0);
        return 0;
    }
    if (pc == nullptr) {
        *len = 0;
        s_setError("RavlinkGetTSClientName(): invalid parameter.", 0);
        return 0;
    }
    if (pc->tsClientName == nullptr) {
        *len = 0;
        return 1;
    }
    std::size_t n = std::strlen(pc->tsClientName);
    if (n + 1 > *len) {
        *len = n + 1;
        s_setError("RavlinkGetTSClientName(): the client name is too long for the output buffer.", 0);
        return 0;
    }
    std::memcpy(buf, pc->tsClientName, n + 1);
    *len = n;
    return 1;
}
