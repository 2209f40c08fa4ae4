// The terminal-services query of the current session (wtsapi32): the client's name and network
// address. The library loads the module and takes both entry points by name at every lookup, so
// the calls below are all it relies on. On POSIX the module "wtsapi32.dll" is built in and reports
// the SSH session through the same entry points: the client name is the client's address text,
// empty outside an SSH session.
#pragma once

#include <cstdint>

#include "platform/modules.h"

namespace plat {

// WTS_INFO_CLASS values the library asks for.
constexpr int WTSClientName = 10;
constexpr int WTSClientAddress = 14;
// The server handle and session id of the current session.
constexpr void *WTS_CURRENT_SERVER_HANDLE = nullptr;
constexpr std::uint32_t WTS_CURRENT_SESSION = 0xFFFFFFFFu;

// Address families as the session reports them.
constexpr std::uint32_t kWtsAfUnspec = 0;
constexpr std::uint32_t kWtsAfInet = 2;
constexpr std::uint32_t kWtsAfInet6 = 23;

// WTS_CLIENT_ADDRESS: the family and a 20-byte field whose address bytes start at its third byte
// (four for IPv4, sixteen for IPv6).
struct WtsClientAddress {
    std::uint32_t AddressFamily;
    unsigned char Address[20];
};
static_assert(sizeof(WtsClientAddress) == 24, "WTS_CLIENT_ADDRESS layout");

// The two entry points (x86-64 has a single calling convention, so WINAPI needs no spelling).
// The query returns non-zero on success with the data in *buffer and its size in *bytes; the
// data is released with the module's own free. On failure the last-error code tells why.
using WtsQuerySessionInformationA = int (*)(void *server, std::uint32_t session, int infoClass,
                                            char **buffer, std::uint32_t *bytes);
using WtsFreeMemory = void (*)(void *memory);

// Where the module and its entry points come from: LoadLibraryA / GetProcAddress on Windows, the
// built-in SSH session on POSIX, or a test's fake.
struct TerminalServices {
    Module (*load)(const char *name);
    void *(*symbol)(Module module, const char *name);
};

// The system's: implemented by win32/ and posix/.
const TerminalServices &system_terminal_services();
// The terminal services in use.
const TerminalServices &terminal_services();
// Replaces them (tests); null restores the system's.
void set_terminal_services(const TerminalServices *fake);

} // namespace plat
