// Server definitions: HKLM\SOFTWARE\Brannoc\Sedrin\Servers\<name>, read in the 32-bit view.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/server_definitions.h"
#include "core/text.h"
#include "diag/error_state.h"
#include "diag/trace.h"
#include "platform/registry.h"

namespace {

constexpr const char *kServersKey = "SOFTWARE\\Brannoc\\Sedrin\\Servers\\";
constexpr std::size_t kMaxKeyPath = 255;
constexpr std::uint32_t kLevelSize = 64;

// Reads a value as text into buf: at most size - 1 bytes are offered, and the last byte read
// becomes the terminator (a value stored with its terminator is taken whole). Returns the
// registry's code; *empty is true unless a text of at least one character was read. A value of
// a type that is not read as text (neither string nor DWORD) is refused with a recorded error,
// so that a definition is never taken for something weaker than what it says.
long read_text(plat::RegKey key, const char *server, const char *name, char *buf, std::uint32_t size,
               bool *empty) {
    std::uint32_t got = size > 0 ? size - 1 : 0;
    std::uint32_t type = 0;
    long rc = plat::reg_query_text(key, name, &type, reinterpret_cast<unsigned char *>(buf), &got);
    if (rc == plat::kErrorSuccess && got > 0) buf[got - 1] = '\0';
    *empty = rc != plat::kErrorSuccess || got == 0 || buf[0] == '\0';
    if (rc == plat::kErrorUnsupportedType)
        s_setErrorf(static_cast<std::uint32_t>(rc),
                    "Registry value %s of server definition %s has type %u: neither a string nor a DWORD.", name,
                    server, type);
    return rc;
}

// Closes the key and fails.
bool fail(plat::RegKey key) {
    plat::reg_close_key(key);
    return false;
}

// The definition's values from its open key, which it closes.
bool read_definition(plat::RegKey key, const char *server, char *address, std::uint32_t addressSize, char *port,
                    std::uint32_t portSize, char *principal, std::uint32_t principalSize, std::int32_t *level) {
    bool empty = true;
    long rc = read_text(key, server, "Address", address, addressSize, &empty);
    if (empty) {
        ravlink_tracelog(6, "ServerToHostPort(%s) failed:  could not look up address, error = %d.\n", server,
                         static_cast<int>(rc));
        return fail(key);
    }
    rc = read_text(key, server, "Port", port, portSize, &empty);
    if (empty) {
        ravlink_tracelog(6, "ServerToHostPort(%s) failed:  could not look up address, error = %d.\n", server,
                         static_cast<int>(rc));
        return fail(key);
    }
    if (read_text(key, server, "ServicePrincipalName", principal, principalSize, &empty) ==
        plat::kErrorUnsupportedType)
        return fail(key);
    if (empty && principalSize > 0) std::snprintf(principal, principalSize, "%s", "sedrin");

    char levelText[kLevelSize];
    rc = read_text(key, server, "ConnectionSecurityLevel", levelText, kLevelSize, &empty);
    if (rc != plat::kErrorSuccess) {
        ravlink_tracelog(6, "ServerToHostPort(%s) failed:  could not look up SecurityLevel, error = %d.\n",
                         server, static_cast<int>(rc));
        return fail(key);
    }
    if (empty) std::strcpy(levelText, "0");
    *level = core::decimal_value(levelText);
    plat::reg_close_key(key);
    return true;
}

} // namespace

int ServerToHostPort(const char *server, char *address, std::uint32_t addressSize, char *port,
                     std::uint32_t portSize, char *principal, std::uint32_t principalSize,
                     std::int32_t *level) {
    if (server == nullptr) return 0;
    const std::string path = std::string(kServersKey) + server;
    if (path.size() > kMaxKeyPath) return 0;

    plat::RegKey key = nullptr;
    long rc = plat::reg_open_key(plat::Hive::LocalMachine, path.c_str(), plat::kKeyRead | plat::kKeyWow64_32, &key);
    if (rc != plat::kErrorSuccess) {
        ravlink_tracelog(6, "ServerToHostPort(%s) failed:  could not open %s, error = %d.\n", server,
                         path.c_str(), static_cast<int>(rc));
        return 0;
    }

    try { // out of memory: the key goes, and the connect fails
        return read_definition(key, server, address, addressSize, port, portSize, principal, principalSize, level)
                   ? 1
                   : 0;
    } catch (...) {
        plat::reg_close_key(key);
        throw;
    }
}
