// The registry, read-only, in the shape of RegOpenKeyExA / RegQueryValueExA / RegCloseKey.
// Windows reads the real registry; POSIX reads .reg export files (HKLM from
// QXN_ravlink_registry_machine, HKCU from QXN_ravlink_registry_user).
#pragma once

#include <cstdint>

namespace plat {

enum class Hive { LocalMachine, CurrentUser };

// An open key; null when none.
using RegKey = void *;

constexpr std::uint32_t kKeyRead = 0x20019;       // KEY_READ
constexpr std::uint32_t kKeyWow64_32 = 0x0200;    // KEY_WOW64_32KEY: the 32-bit view
constexpr std::uint32_t kRegSz = 1;               // REG_SZ
constexpr std::uint32_t kRegExpandSz = 2;         // REG_EXPAND_SZ
constexpr std::uint32_t kRegDword = 4;            // REG_DWORD
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;            // no such key or value
constexpr long kErrorMoreData = 234;              // the value does not fit
constexpr long kErrorUnsupportedType = 1630;      // ERROR_UNSUPPORTED_TYPE

// Opens hive\subkey for reading. 0 and *key set, or a Windows error code.
long reg_open_key(Hive hive, const char *subkey, std::uint32_t access, RegKey *key);
// Reads a value: *type its type, data up to *size bytes (a REG_SZ with its terminator); *size
// becomes the bytes stored or, with kErrorMoreData, the bytes needed. data may be null to ask the size.
long reg_query_value(RegKey key, const char *name, std::uint32_t *type, unsigned char *data,
                     std::uint32_t *size);
long reg_close_key(RegKey key);

// Reads a value as the text the library keeps every definition in, with reg_query_value's
// contract for a REG_SZ: a REG_SZ as it is stored, a REG_EXPAND_SZ with its environment variables
// expanded and a REG_DWORD as its unsigned decimal number, each of those two as a REG_SZ holding
// that text with its terminator would read. Any other type gives kErrorUnsupportedType with *type
// set, so that a value of another type never reads as something it is not.
long reg_query_text(RegKey key, const char *name, std::uint32_t *type, unsigned char *data,
                    std::uint32_t *size);

} // namespace plat
