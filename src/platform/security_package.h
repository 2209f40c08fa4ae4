// The Kerberos security package with SSPI's contract: credentials, security contexts, message
// sizes and per-message protection. win32/ calls Secur32's "Kerberos" package; posix/ provides
// the same operations over MIT GSSAPI. Statuses are SSPI numbers on every platform.
#pragma once

#include <cstdint>

#include "platform/sspi_types.h"

namespace sspi {

using Status = std::uint32_t;

constexpr Status SEC_E_OK = 0;
constexpr Status SEC_I_CONTINUE_NEEDED = 0x00090312;
constexpr Status SEC_E_INSUFFICIENT_MEMORY = 0x80090300;
constexpr Status SEC_E_INVALID_HANDLE = 0x80090301;
constexpr Status SEC_E_UNSUPPORTED_FUNCTION = 0x80090302;
constexpr Status SEC_E_TARGET_UNKNOWN = 0x80090303;
constexpr Status SEC_E_INTERNAL_ERROR = 0x80090304;
constexpr Status SEC_E_SECPKG_NOT_FOUND = 0x80090305;
constexpr Status SEC_E_INVALID_TOKEN = 0x80090308;
constexpr Status SEC_E_QOP_NOT_SUPPORTED = 0x8009030A;
constexpr Status SEC_E_LOGON_DENIED = 0x8009030C;
constexpr Status SEC_E_UNKNOWN_CREDENTIALS = 0x8009030D;
constexpr Status SEC_E_NO_CREDENTIALS = 0x8009030E;
constexpr Status SEC_E_MESSAGE_ALTERED = 0x8009030F;
constexpr Status SEC_E_OUT_OF_SEQUENCE = 0x80090310;
constexpr Status SEC_E_NO_AUTHENTICATING_AUTHORITY = 0x80090311;
constexpr Status SEC_E_CONTEXT_EXPIRED = 0x80090317;
constexpr Status SEC_E_INCOMPLETE_MESSAGE = 0x80090318;
constexpr Status SEC_E_BUFFER_TOO_SMALL = 0x80090321;
constexpr Status SEC_E_WRONG_PRINCIPAL = 0x80090322;
constexpr Status SEC_E_TIME_SKEW = 0x80090324;
constexpr Status SEC_E_BAD_BINDINGS = 0x80090346;

// AcquireCredentialsHandleA: credential use.
constexpr std::uint32_t SECPKG_CRED_OUTBOUND = 2;
// InitializeSecurityContextA: requirements and the data representation.
constexpr std::uint32_t ISC_REQ_MUTUAL_AUTH = 0x2;
constexpr std::uint32_t ISC_REQ_REPLAY_DETECT = 0x4;
constexpr std::uint32_t ISC_REQ_SEQUENCE_DETECT = 0x8;
constexpr std::uint32_t ISC_REQ_CONFIDENTIALITY = 0x10;
constexpr std::uint32_t ISC_REQ_ALLOCATE_MEMORY = 0x100;
constexpr std::uint32_t ISC_RET_INTEGRITY = 0x10000;
constexpr std::uint32_t SECURITY_NATIVE_DREP = 0x10;
// EncryptMessage: sign without encrypting.
constexpr std::uint32_t SECQOP_WRAP_NO_ENCRYPT = 0x80000001;
// SEC_WINNT_AUTH_IDENTITY_A: 8-bit texts.
constexpr std::uint32_t SEC_WINNT_AUTH_IDENTITY_ANSI = 1;

// The locally unique identifier of a logon session (LUID).
struct Luid {
    std::uint32_t LowPart;
    std::int32_t HighPart;
};
// The network-service logon session.
constexpr Luid kNetworkServiceLogon = {0x3E4, 0};

// SEC_WINNT_AUTH_IDENTITY_A.
struct AuthIdentity {
    unsigned char *User;
    std::uint32_t UserLength;
    unsigned char *Domain;
    std::uint32_t DomainLength;
    unsigned char *Password;
    std::uint32_t PasswordLength;
    std::uint32_t Flags;
};

// The package the library uses.
constexpr const char *kKerberosPackage = "Kerberos";

Status AcquireCredentialsHandleA(const char *principal, const char *package, std::uint32_t credentialUse,
                                 const Luid *logonId, const AuthIdentity *identity, Handle *credential);

// context: null on the first call, the context being built on later calls.
Status InitializeSecurityContextA(Handle *credential, Handle *context, const char *target,
                                  std::uint32_t requirements, std::uint32_t dataRepresentation,
                                  BufferDesc *input, Handle *newContext, BufferDesc *output,
                                  std::uint32_t *attributes);

// QueryContextAttributesA with SECPKG_ATTR_SIZES.
Status QueryContextSizes(Handle *context, Sizes *sizes);

// QuerySecurityPackageInfoA: the package's largest token (the record is released here).
Status QueryPackageMaxToken(const char *package, std::uint32_t *cbMaxToken);

// The descriptor holds a token (trailer), a data and a padding buffer; the data is protected in
// place and the trailer and padding sizes are set to the bytes used.
Status EncryptMessage(Handle *context, std::uint32_t qop, BufferDesc *message, std::uint32_t sequence);
// The descriptor holds a stream buffer (the whole token) and an empty data buffer, which is set to
// the plaintext inside the stream buffer.
Status DecryptMessage(Handle *context, BufferDesc *message, std::uint32_t sequence, std::uint32_t *qop);

Status FreeCredentialsHandle(Handle *credential);
Status DeleteSecurityContext(Handle *context);
// Releases a buffer that the package allocated.
Status FreeContextBuffer(void *buffer);

} // namespace sspi
