// The Kerberos security package with SSPI's contract: credentials, security contexts, message
// sizes and per-message protection. win32/ calls Secur32's "Kerberos" package; posix/ provides
// the same operations over MIT GSSAPI. Statuses are SSPI numbers on every platform; the constants
// carry SSPI's names in their comments (Windows defines those names as macros).
#pragma once

#include <cstdint>

#include "platform/sspi_types.h"

namespace sspi {

using Status = std::uint32_t;

constexpr Status kSecOk = 0;                        // SEC_E_OK
constexpr Status kSecContinueNeeded = 0x00090312;   // SEC_I_CONTINUE_NEEDED
constexpr Status kSecInsufficientMemory = 0x80090300; // SEC_E_INSUFFICIENT_MEMORY
constexpr Status kSecInvalidHandle = 0x80090301;    // SEC_E_INVALID_HANDLE
constexpr Status kSecUnsupportedFunction = 0x80090302; // SEC_E_UNSUPPORTED_FUNCTION
constexpr Status kSecTargetUnknown = 0x80090303;    // SEC_E_TARGET_UNKNOWN
constexpr Status kSecInternalError = 0x80090304;    // SEC_E_INTERNAL_ERROR
constexpr Status kSecSecpkgNotFound = 0x80090305;   // SEC_E_SECPKG_NOT_FOUND
constexpr Status kSecInvalidToken = 0x80090308;     // SEC_E_INVALID_TOKEN
constexpr Status kSecQopNotSupported = 0x8009030A;  // SEC_E_QOP_NOT_SUPPORTED
constexpr Status kSecLogonDenied = 0x8009030C;      // SEC_E_LOGON_DENIED
constexpr Status kSecUnknownCredentials = 0x8009030D; // SEC_E_UNKNOWN_CREDENTIALS
constexpr Status kSecNoCredentials = 0x8009030E;    // SEC_E_NO_CREDENTIALS
constexpr Status kSecMessageAltered = 0x8009030F;   // SEC_E_MESSAGE_ALTERED
constexpr Status kSecOutOfSequence = 0x80090310;    // SEC_E_OUT_OF_SEQUENCE
constexpr Status kSecNoAuthenticatingAuthority = 0x80090311; // SEC_E_NO_AUTHENTICATING_AUTHORITY
constexpr Status kSecContextExpired = 0x80090317;   // SEC_E_CONTEXT_EXPIRED
constexpr Status kSecIncompleteMessage = 0x80090318; // SEC_E_INCOMPLETE_MESSAGE
constexpr Status kSecBufferTooSmall = 0x80090321;   // SEC_E_BUFFER_TOO_SMALL
constexpr Status kSecWrongPrincipal = 0x80090322;   // SEC_E_WRONG_PRINCIPAL
constexpr Status kSecTimeSkew = 0x80090324;         // SEC_E_TIME_SKEW
constexpr Status kSecBadBindings = 0x80090346;      // SEC_E_BAD_BINDINGS

// AcquireCredentialsHandleA: credential use.
constexpr std::uint32_t kCredOutbound = 2;          // SECPKG_CRED_OUTBOUND
// InitializeSecurityContextA: requirements and the data representation.
constexpr std::uint32_t kReqMutualAuth = 0x2;       // ISC_REQ_MUTUAL_AUTH
constexpr std::uint32_t kReqReplayDetect = 0x4;     // ISC_REQ_REPLAY_DETECT
constexpr std::uint32_t kReqSequenceDetect = 0x8;   // ISC_REQ_SEQUENCE_DETECT
constexpr std::uint32_t kReqConfidentiality = 0x10; // ISC_REQ_CONFIDENTIALITY
constexpr std::uint32_t kReqAllocateMemory = 0x100; // ISC_REQ_ALLOCATE_MEMORY
constexpr std::uint32_t kRetIntegrity = 0x10000;    // ISC_RET_INTEGRITY
constexpr std::uint32_t kNativeDataRep = 0x10;      // SECURITY_NATIVE_DREP
// EncryptMessage: sign without encrypting.
constexpr std::uint32_t kQopWrapNoEncrypt = 0x80000001; // SECQOP_WRAP_NO_ENCRYPT
// SEC_WINNT_AUTH_IDENTITY_A: 8-bit texts.
constexpr std::uint32_t kIdentityAnsi = 1;          // SEC_WINNT_AUTH_IDENTITY_ANSI

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
