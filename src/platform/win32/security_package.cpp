// The Kerberos security package: Secur32's SSPI. The library's shapes have SSPI's layouts, so
// handles, buffers and descriptors are passed as they are.
//
// The library's header comes first: Windows defines the SSPI constants as macros.
#include "platform/security_package.h"

#define SECURITY_WIN32
#include <windows.h>
#include <security.h>
#include <sspi.h>

namespace sspi {
namespace {

static_assert(sizeof(Handle) == sizeof(::SecHandle), "handle layout");
static_assert(sizeof(Buffer) == sizeof(::SecBuffer), "buffer layout");
static_assert(sizeof(BufferDesc) == sizeof(::SecBufferDesc), "descriptor layout");
static_assert(sizeof(Sizes) == sizeof(::SecPkgContext_Sizes), "sizes layout");
static_assert(sizeof(AuthIdentity) == sizeof(::SEC_WINNT_AUTH_IDENTITY_A), "identity layout");
static_assert(sizeof(Luid) == sizeof(::LUID), "logon id layout");

::SecHandle *sec(Handle *h) { return reinterpret_cast<::SecHandle *>(h); }
::SecBufferDesc *sec(BufferDesc *d) { return reinterpret_cast<::SecBufferDesc *>(d); }
Status status(SECURITY_STATUS s) { return static_cast<Status>(s); }

} // namespace

Status AcquireCredentialsHandleA(const char *principal, const char *package, std::uint32_t credentialUse,
                                 const Luid *logonId, const AuthIdentity *identity, Handle *credential) {
    ::TimeStamp expiry;
    return status(::AcquireCredentialsHandleA(const_cast<char *>(principal), const_cast<char *>(package), credentialUse,
                                              reinterpret_cast<::LUID *>(const_cast<Luid *>(logonId)),
                                              const_cast<AuthIdentity *>(identity), nullptr, nullptr,
                                              sec(credential), &expiry));
}

Status InitializeSecurityContextA(Handle *credential, Handle *context, const char *target,
                                  std::uint32_t requirements, std::uint32_t dataRepresentation,
                                  BufferDesc *input, Handle *newContext, BufferDesc *output,
                                  std::uint32_t *attributes) {
    ::TimeStamp expiry;
    unsigned long attrs = 0;
    SECURITY_STATUS s = ::InitializeSecurityContextA(sec(credential), context ? sec(context) : nullptr,
                                                     const_cast<char *>(target), requirements, 0,
                                                     dataRepresentation, input ? sec(input) : nullptr, 0,
                                                     sec(newContext), sec(output), &attrs, &expiry);
    if (attributes != nullptr) *attributes = static_cast<std::uint32_t>(attrs);
    return status(s);
}

Status QueryContextSizes(Handle *context, Sizes *sizes) {
    return status(::QueryContextAttributesA(sec(context), SECPKG_ATTR_SIZES, sizes));
}

Status QueryPackageMaxToken(const char *package, std::uint32_t *cbMaxToken) {
    ::PSecPkgInfoA info = nullptr;
    SECURITY_STATUS s = ::QuerySecurityPackageInfoA(const_cast<char *>(package), &info);
    if (s != SEC_E_OK) return status(s);
    *cbMaxToken = info->cbMaxToken;
    ::FreeContextBuffer(info);
    return kSecOk;
}

Status EncryptMessage(Handle *context, std::uint32_t qop, BufferDesc *message, std::uint32_t sequence) {
    return status(::EncryptMessage(sec(context), qop, sec(message), sequence));
}

Status DecryptMessage(Handle *context, BufferDesc *message, std::uint32_t sequence, std::uint32_t *qop) {
    unsigned long q = 0;
    SECURITY_STATUS s = ::DecryptMessage(sec(context), sec(message), sequence, &q);
    if (qop != nullptr) *qop = static_cast<std::uint32_t>(q);
    return status(s);
}

Status FreeCredentialsHandle(Handle *credential) {
    Status s = status(::FreeCredentialsHandle(sec(credential)));
    invalidate(*credential);
    return s;
}

Status DeleteSecurityContext(Handle *context) {
    Status s = status(::DeleteSecurityContext(sec(context)));
    invalidate(*context);
    return s;
}

Status FreeContextBuffer(void *buffer) { return buffer ? status(::FreeContextBuffer(buffer)) : kSecOk; }

} // namespace sspi
