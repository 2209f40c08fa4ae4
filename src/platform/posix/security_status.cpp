// GSSAPI major and Kerberos minor statuses mapped to SSPI numbers; gss_display_status gives the
// detail that the error text shows after the SSPI text.
#include "platform/posix/security_status.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_krb5.h>
#include <krb5/krb5.h>

#include <cerrno>
#include <new>

#include "platform/security_package.h"

namespace plat::posix {
namespace {

struct Detail {
    std::uint32_t status = 0;
    std::string text;
};
thread_local Detail t_detail;

// Every message of one kind of status, joined with "; ".
void display(OM_uint32 code, int type, std::string &out) {
    OM_uint32 minor = 0, context = 0;
    do {
        gss_buffer_desc text{0, nullptr};
        OM_uint32 major = gss_display_status(&minor, code, type, const_cast<gss_OID>(gss_mech_krb5),
                                             &context, &text);
        if (GSS_ERROR(major)) break;
        try {
            if (text.length > 0) {
                if (!out.empty()) out += "; ";
                out.append(static_cast<const char *>(text.value), text.length);
            }
        } catch (...) {
            gss_release_buffer(&minor, &text);
            throw;
        }
        gss_release_buffer(&minor, &text);
    } while (context != 0);
}

std::uint32_t from_minor(krb5_error_code minor) {
    switch (minor) {
    case KRB5KDC_ERR_PREAUTH_FAILED:
    case KRB5KRB_AP_ERR_BAD_INTEGRITY:
    case KRB5KDC_ERR_C_PRINCIPAL_UNKNOWN:
    case KRB5KDC_ERR_CLIENT_REVOKED:
    case KRB5KDC_ERR_KEY_EXP:
        return sspi::kSecLogonDenied;
    case KRB5KDC_ERR_S_PRINCIPAL_UNKNOWN:
        return sspi::kSecTargetUnknown;
    case KRB5_KDC_UNREACH:
    case KRB5_REALM_UNKNOWN:
    case KRB5_REALM_CANT_RESOLVE:
        return sspi::kSecNoAuthenticatingAuthority;
    case KRB5_FCC_NOFILE:
    case KRB5_CC_NOTFOUND:
    case KRB5_KT_NOTFOUND:
    case KRB5_KT_END:
        return sspi::kSecNoCredentials;
    case KRB5KRB_AP_ERR_SKEW:
        return sspi::kSecTimeSkew;
    case KRB5KRB_AP_ERR_MODIFIED:
        return sspi::kSecMessageAltered;
    case KRB5KRB_AP_ERR_REPEAT:
        return sspi::kSecOutOfSequence;
    default:
        return 0;
    }
}

std::uint32_t map(OM_uint32 major, OM_uint32 minor, std::uint32_t fallback) {
    // A message that fails its check is altered, whatever the Kerberos reason says.
    if (GSS_ROUTINE_ERROR(major) == GSS_S_BAD_SIG) return sspi::kSecMessageAltered;
    // Otherwise the Kerberos reason is the more precise one (a wrong password comes as "no credentials").
    if (std::uint32_t s = from_minor(static_cast<krb5_error_code>(static_cast<std::int32_t>(minor)))) return s;
    switch (GSS_ROUTINE_ERROR(major)) {
    case GSS_S_BAD_MECH: return sspi::kSecSecpkgNotFound;
    case GSS_S_BAD_NAME:
    case GSS_S_BAD_NAMETYPE: return fallback == sspi::kSecNoCredentials ? sspi::kSecUnknownCredentials
                                                                         : sspi::kSecTargetUnknown;
    case GSS_S_BAD_BINDINGS: return sspi::kSecBadBindings;
    case GSS_S_BAD_SIG: return sspi::kSecMessageAltered;
    case GSS_S_NO_CRED: return sspi::kSecNoCredentials;
    case GSS_S_NO_CONTEXT: return sspi::kSecInvalidHandle;
    case GSS_S_DEFECTIVE_TOKEN: return sspi::kSecInvalidToken;
    case GSS_S_DEFECTIVE_CREDENTIAL: return sspi::kSecUnknownCredentials;
    case GSS_S_CREDENTIALS_EXPIRED: return sspi::kSecNoCredentials;
    case GSS_S_CONTEXT_EXPIRED: return sspi::kSecContextExpired;
    case GSS_S_BAD_QOP: return sspi::kSecQopNotSupported;
    case GSS_S_UNAVAILABLE: return sspi::kSecUnsupportedFunction;
    case 0:
        if (major & (GSS_S_DUPLICATE_TOKEN | GSS_S_OLD_TOKEN)) return sspi::kSecOutOfSequence;
        break;
    default: break;
    }
    if (minor == static_cast<OM_uint32>(ENOMEM)) return sspi::kSecInsufficientMemory;
    return fallback;
}

} // namespace

std::uint32_t gss_failure(std::uint32_t major, std::uint32_t minor, std::uint32_t fallback) {
    std::uint32_t status = map(major, minor, fallback);
    t_detail.status = status;
    t_detail.text.clear();
    try { // the detail is only told, so a failure for want of memory leaves it out
        std::string text;
        if (GSS_ROUTINE_ERROR(major) != 0 || GSS_CALLING_ERROR(major) != 0) display(major, GSS_C_GSS_CODE, text);
        if (minor != 0) display(minor, GSS_C_MECH_CODE, text);
        t_detail.text = text;
    } catch (const std::bad_alloc &) {
    }
    return status;
}

void clear_gss_detail() {
    t_detail.status = 0;
    t_detail.text.clear();
}

std::string gss_detail(std::uint32_t status) {
    return status != 0 && t_detail.status == status ? t_detail.text : std::string();
}

} // namespace plat::posix
