// The resolver's entry points, taken from ws2_32 by name.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/sockets.h"

namespace plat {

void *resolver_entry(const char *name) {
    HMODULE ws2 = GetModuleHandleA("ws2_32.dll");
    if (ws2 == nullptr) ws2 = LoadLibraryExA("ws2_32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (ws2 == nullptr) return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(ws2, name));
}

} // namespace plat
