// TLS configurations: the internal settings one context set-up is built from, taken either
// from a packed RavlinkSSLconfig record or from a configuration named in the registry.
#pragma once

#include <cstdint>

#include "ravlink.h"

struct SSLsettings {
    std::int32_t nameLength;
    char name[64];
    std::int32_t protocols;   // 1 SSLv2, 2 SSLv3, 4 TLS 1.0, 8 TLS 1.1, 16 TLS 1.2
    std::int32_t keyType;     // 1 any private key, 2 an RSA key
    std::int32_t verifyPeer;  // OpenSSL verification mode
    std::int32_t verifyDepth;
    char cipherList[256];     // empty: OpenSSL's default list
    char password[256];
    char certFile[256];
    char keyFile[256];
    char caFile[256];
    char caPath[256];
    std::int32_t verifyHostName; // 1: the server's certificate must match the host (registry only)
};

// The defaults of an empty field.
constexpr std::int32_t kDefaultProtocols = 30;
constexpr std::int32_t kDefaultKeyType = 1;
constexpr std::int32_t kDefaultVerifyPeer = 1;
constexpr std::int32_t kDefaultVerifyDepth = 9;

// The registry key of a named configuration (HKEY_CURRENT_USER, else HKEY_LOCAL_MACHINE).
constexpr const char *kSSLconfigKey = "Software\\Brannoc\\Sedrin\\SSLConfigurations\\%s";
// Names that fit SSLsettings::name; longer ones are refused.
constexpr std::size_t kMaxConfigName = 63;

// Reads one value of a named configuration into buffer as text (a DWORD as its decimal number);
// 1 when read, 0 when missing, -1 (error recorded) when its type is neither string nor DWORD.
int s_readSSLregValue(const char *name, const char *valueName, char *buffer, std::uint32_t size);

// Settings from a named registry configuration (missing values take the defaults); null when
// out of memory, when the name is too long to be a configuration's, or when a value has a type
// that is not read (error recorded). Free with std::free.
SSLsettings *s_SSLsettingsFromRegistry(std::int32_t nameLength, const char *name);
// Settings from a packed record (empty fields take the defaults); null when out of memory.
SSLsettings *s_SSLsettingsFromConfig(const RavlinkSSLconfig *config);
