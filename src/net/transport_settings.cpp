// The process-wide transport settings: buffer sizes for new sockets and the local binding.
// They are read and written without a lock: callers set them while no other thread connects.
#include <cstdlib>
#include <cstring>

#include "core/text.h"
#include "diag/error_state.h"
#include "net/local_binding.h"
#include "platform/codes.h"

extern "C" {
RAVLINK_API int32_t RavlinkRcvBuf = 0;
RAVLINK_API int32_t RavlinkSndBuf = 0;
}

namespace {

char *s_localAddress = nullptr;
char *s_localPort = nullptr;

} // namespace

const char *s_localBindingAddress() { return s_localAddress; }
const char *s_localBindingPort() { return s_localPort; }

void s_clearLocalBinding() {
    std::free(s_localAddress);
    std::free(s_localPort);
    s_localAddress = nullptr;
    s_localPort = nullptr;
}

extern "C" RAVLINK_API int32_t RavlinkSetLocalBindings(const char *address, const char *port) {
    s_clearLocalBinding();
    if (address != nullptr && (s_localAddress = core::copy_text(address)) == nullptr) {
        s_setError("Could not allocate memory to save address", codes::kNoMemory);
        return 0;
    }
    if (port != nullptr && (s_localPort = core::copy_text(port)) == nullptr) {
        s_setError("Could not allocate memory to save port", codes::kNoMemory);
        return 0;
    }
    return 1;
}

extern "C" RAVLINK_API int32_t RavlinkSetRcvBufSize(int32_t size) {
    int32_t previous = RavlinkRcvBuf;
    if (size != -1) RavlinkRcvBuf = size;
    return previous;
}

extern "C" RAVLINK_API int32_t RavlinkSetSndBufSize(int32_t size) {
    int32_t previous = RavlinkSndBuf;
    if (size != -1) RavlinkSndBuf = size;
    return previous;
}
