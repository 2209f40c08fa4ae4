// The Kerberos security package over MIT GSSAPI, with SSPI's contract.
//
// Handles: a credentials handle holds the gss_cred_id_t in its lower word; a context handle holds
// a heap record (the GSS context and the imported target name) in its lower word. Target names
// are Kerberos principal names ("sedrin/host" and "sedrin" take the default realm).
//
// Messages keep SSPI's buffer shapes: EncryptMessage fills a token buffer that holds the
// mechanism header with the trailer rotated into it (what gss_wrap_iov does when no trailer
// buffer is given), the data in place and the padding; laid end to end they form a token that
// plain gss_unwrap accepts. DecryptMessage unwraps one whole token as a stream in place, which
// also takes plain gss_wrap output.
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/security_status.h"
#include "platform/security_package.h"

namespace sspi {
namespace {

// The largest piece of data one message token carries. The Kerberos package of Windows has long
// reported 12000 as its largest token, and Windows servers of this protocol size their receive
// buffers after it, so a piece of at most 12000 bytes is one that every such server accepts.
constexpr std::uint32_t kMaxToken = 12000;

struct PosixContext {
    gss_ctx_id_t ctx = GSS_C_NO_CONTEXT;
    gss_name_t target = GSS_C_NO_NAME;
};

gss_OID_set_desc krb5_mech_set() {
    return gss_OID_set_desc{1, const_cast<gss_OID>(gss_mech_krb5)};
}

PosixContext *context_of(const Handle *h) {
    if (h == nullptr || !handle_valid(*h)) return nullptr;
    return reinterpret_cast<PosixContext *>(h->dwLower);
}

gss_cred_id_t cred_of(const Handle *h) {
    if (h == nullptr || !handle_valid(*h)) return GSS_C_NO_CREDENTIAL;
    return reinterpret_cast<gss_cred_id_t>(h->dwLower);
}

bool import_principal(const std::string &text, gss_name_t *name, Status *status) {
    OM_uint32 minor = 0;
    gss_buffer_desc buf{text.size(), const_cast<char *>(text.data())};
    OM_uint32 major = gss_import_name(&minor, &buf, GSS_KRB5_NT_PRINCIPAL_NAME, name);
    if (GSS_ERROR(major)) {
        *status = plat::posix::gss_failure(major, minor, kSecTargetUnknown);
        return false;
    }
    return true;
}

bool same_text_nocase(const char *a, const char *b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

// user@AUTHORITY, the authority upper-cased as the realm; a name that already holds a realm, or
// an empty authority (the default realm), leaves the user name as it is.
std::string client_principal(const char *user, const AuthIdentity *identity) {
    std::string name = user;
    if (name.find('@') != std::string::npos || identity == nullptr || identity->Domain == nullptr ||
        identity->DomainLength == 0)
        return name;
    name += '@';
    for (std::uint32_t i = 0; i < identity->DomainLength; ++i)
        name += static_cast<char>(std::toupper(identity->Domain[i]));
    return name;
}

Status acquire(gss_name_t name, const AuthIdentity *identity, bool networkService, Handle *credential) {
    OM_uint32 minor = 0, major;
    gss_OID_set_desc mechs = krb5_mech_set();
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    OM_uint32 lifetime = 0;
    if (networkService) {
        // The host's own identity: the client keytab (KRB5_CLIENT_KTNAME or MIT's default),
        // with tickets kept in a process-wide memory cache apart from the user's.
        std::string keytab;
        if (const char *env = std::getenv("KRB5_CLIENT_KTNAME")) keytab = env;
        gss_key_value_element_desc elements[2] = {{"ccache", "MEMORY:ravlink-network-service"},
                                                  {"client_keytab", keytab.c_str()}};
        gss_key_value_set_desc store{keytab.empty() ? 1u : 2u, elements};
        major = gss_acquire_cred_from(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechs, GSS_C_INITIATE,
                                      &store, &cred, nullptr, &lifetime);
    } else if (identity != nullptr) {
        const char *text = identity->Password != nullptr ? reinterpret_cast<const char *>(identity->Password) : "";
        std::string password(text, identity->Password != nullptr ? identity->PasswordLength : 0);
        gss_buffer_desc pw{password.size(), const_cast<char *>(password.data())};
        major = gss_acquire_cred_with_password(&minor, name, &pw, GSS_C_INDEFINITE, &mechs, GSS_C_INITIATE,
                                               &cred, nullptr, &lifetime);
    } else {
        major = gss_acquire_cred(&minor, name, GSS_C_INDEFINITE, &mechs, GSS_C_INITIATE, &cred, nullptr,
                                 &lifetime);
    }
    if (GSS_ERROR(major)) return plat::posix::gss_failure(major, minor, kSecNoCredentials);
    // Asking for the lifetime makes MIT obtain the tickets now, so that a wrong password or an
    // unknown user fails here, as the acquisition does on Windows with explicit credentials.
    if (lifetime == 0) {
        gss_release_cred(&minor, &cred);
        return plat::posix::gss_failure(GSS_S_CREDENTIALS_EXPIRED, 0, kSecNoCredentials);
    }
    credential->dwLower = reinterpret_cast<std::uintptr_t>(cred);
    credential->dwUpper = 0;
    return kSecOk;
}

Buffer *find_buffer(BufferDesc *desc, std::uint32_t type) {
    if (desc == nullptr) return nullptr;
    for (std::uint32_t i = 0; i < desc->cBuffers; ++i)
        if (desc->pBuffers[i].BufferType == type) return &desc->pBuffers[i];
    return nullptr;
}

// Header (with the trailer inside it) and padding lengths of a wrap of length bytes.
OM_uint32 wrap_lengths(gss_ctx_id_t ctx, bool conf, std::uint32_t length, OM_uint32 *minor, size_t *header,
                       size_t *padding) {
    gss_iov_buffer_desc iov[3] = {};
    iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER;
    iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
    iov[1].buffer.length = length;
    iov[2].type = GSS_IOV_BUFFER_TYPE_PADDING;
    int conf_state = 0;
    OM_uint32 major = gss_wrap_iov_length(minor, ctx, conf ? 1 : 0, GSS_C_QOP_DEFAULT, &conf_state, iov, 3);
    *header = iov[0].buffer.length;
    *padding = iov[2].buffer.length;
    return major;
}

} // namespace

Status AcquireCredentialsHandleA(const char *principal, const char *package, std::uint32_t credentialUse,
                                 const Luid *logonId, const AuthIdentity *identity, Handle *credential) {
    plat::posix::clear_gss_detail();
    if (package == nullptr || !same_text_nocase(package, kKerberosPackage)) return kSecSecpkgNotFound;
    if ((credentialUse & kCredOutbound) == 0) return kSecUnsupportedFunction;
    bool networkService = logonId != nullptr && logonId->LowPart == kNetworkServiceLogon.LowPart &&
                          logonId->HighPart == kNetworkServiceLogon.HighPart;
    if (networkService) return acquire(GSS_C_NO_NAME, nullptr, true, credential);

    gss_name_t name = GSS_C_NO_NAME;
    if (principal != nullptr) {
        Status status = kSecOk;
        if (!import_principal(client_principal(principal, identity), &name, &status))
            return status == kSecTargetUnknown ? kSecUnknownCredentials : status;
    }
    if (identity != nullptr && name == GSS_C_NO_NAME) return kSecUnknownCredentials;
    Status status = acquire(name, identity, false, credential);
    OM_uint32 minor = 0;
    if (name != GSS_C_NO_NAME) gss_release_name(&minor, &name);
    return status;
}

Status InitializeSecurityContextA(Handle *credential, Handle *context, const char *target,
                                  std::uint32_t requirements, std::uint32_t, BufferDesc *input,
                                  Handle *newContext, BufferDesc *output, std::uint32_t *attributes) {
    plat::posix::clear_gss_detail();
    PosixContext *pctx = context_of(context);
    bool first = pctx == nullptr;
    if (first) {
        if (target == nullptr) return kSecTargetUnknown;
        const std::string targetText = target; // before the context is held: nothing after it throws
        pctx = new (std::nothrow) PosixContext;
        if (pctx == nullptr) return kSecInsufficientMemory;
        Status status = kSecOk;
        if (!import_principal(targetText, &pctx->target, &status)) {
            delete pctx;
            return status;
        }
    }

    OM_uint32 flags = GSS_C_INTEG_FLAG;
    if (requirements & kReqMutualAuth) flags |= GSS_C_MUTUAL_FLAG;
    if (requirements & kReqReplayDetect) flags |= GSS_C_REPLAY_FLAG;
    if (requirements & kReqSequenceDetect) flags |= GSS_C_SEQUENCE_FLAG;
    if (requirements & kReqConfidentiality) flags |= GSS_C_CONF_FLAG;

    gss_buffer_desc in{0, nullptr};
    if (Buffer *b = find_buffer(input, SECBUFFER_TOKEN)) in = gss_buffer_desc{b->cbBuffer, b->pvBuffer};
    gss_buffer_desc out{0, nullptr};
    OM_uint32 minor = 0, ret_flags = 0;
    OM_uint32 major = gss_init_sec_context(&minor, cred_of(credential), &pctx->ctx, pctx->target,
                                           const_cast<gss_OID>(gss_mech_krb5), flags, 0,
                                           GSS_C_NO_CHANNEL_BINDINGS, &in, nullptr, &out, &ret_flags, nullptr);
    Status status;
    if (GSS_ERROR(major))
        status = plat::posix::gss_failure(major, minor, kSecInternalError);
    else
        status = (major & GSS_S_CONTINUE_NEEDED) ? kSecContinueNeeded : kSecOk;

    if (status == kSecOk || status == kSecContinueNeeded) {
        Buffer *ob = find_buffer(output, SECBUFFER_TOKEN);
        if (ob != nullptr) {
            if (requirements & kReqAllocateMemory) {
                ob->pvBuffer = nullptr;
                ob->cbBuffer = 0;
                if (out.length > 0) {
                    ob->pvBuffer = std::malloc(out.length);
                    if (ob->pvBuffer == nullptr) status = kSecInsufficientMemory;
                    else {
                        std::memcpy(ob->pvBuffer, out.value, out.length);
                        ob->cbBuffer = static_cast<std::uint32_t>(out.length);
                    }
                }
            } else if (out.length > ob->cbBuffer) {
                status = kSecBufferTooSmall;
            } else {
                if (out.length > 0) std::memcpy(ob->pvBuffer, out.value, out.length);
                ob->cbBuffer = static_cast<std::uint32_t>(out.length);
            }
        } else if (out.length > 0) {
            status = kSecBufferTooSmall;
        }
    }
    gss_release_buffer(&minor, &out);

    if (attributes != nullptr) {
        std::uint32_t a = kReqAllocateMemory & requirements;
        if (ret_flags & GSS_C_MUTUAL_FLAG) a |= kReqMutualAuth;
        if (ret_flags & GSS_C_REPLAY_FLAG) a |= kReqReplayDetect;
        if (ret_flags & GSS_C_SEQUENCE_FLAG) a |= kReqSequenceDetect;
        if (ret_flags & GSS_C_CONF_FLAG) a |= kReqConfidentiality;
        if (ret_flags & GSS_C_INTEG_FLAG) a |= kRetIntegrity;
        *attributes = a;
    }

    if (first) {
        if (status != kSecOk && status != kSecContinueNeeded) {
            Handle h{reinterpret_cast<std::uintptr_t>(pctx), 0};
            DeleteSecurityContext(&h);
            return status;
        }
        if (newContext != nullptr) {
            newContext->dwLower = reinterpret_cast<std::uintptr_t>(pctx);
            newContext->dwUpper = 0;
        }
    }
    return status;
}

Status QueryContextSizes(Handle *context, Sizes *sizes) {
    plat::posix::clear_gss_detail();
    PosixContext *pctx = context_of(context);
    if (pctx == nullptr || pctx->ctx == GSS_C_NO_CONTEXT) return kSecInvalidHandle;
    OM_uint32 minor = 0;
    size_t conf_header = 0, conf_padding = 0, sign_header = 0, sign_padding = 0;
    OM_uint32 major = wrap_lengths(pctx->ctx, true, 1, &minor, &conf_header, &conf_padding);
    if (!GSS_ERROR(major)) major = wrap_lengths(pctx->ctx, false, 1, &minor, &sign_header, &sign_padding);
    if (GSS_ERROR(major)) return plat::posix::gss_failure(major, minor, kSecInvalidHandle);
    sizes->cbMaxToken = kMaxToken;
    sizes->cbMaxSignature = static_cast<std::uint32_t>(sign_header);
    // Padding for one byte of data tells the cipher's block: none means a stream cipher (1).
    sizes->cbBlockSize = conf_padding == 0 ? 1 : static_cast<std::uint32_t>(conf_padding + 1);
    sizes->cbSecurityTrailer = static_cast<std::uint32_t>(conf_header > sign_header ? conf_header : sign_header);
    return kSecOk;
}

Status QueryPackageMaxToken(const char *package, std::uint32_t *cbMaxToken) {
    if (package == nullptr || !same_text_nocase(package, kKerberosPackage)) return kSecSecpkgNotFound;
    *cbMaxToken = kMaxToken;
    return kSecOk;
}

Status EncryptMessage(Handle *context, std::uint32_t qop, BufferDesc *message, std::uint32_t) {
    plat::posix::clear_gss_detail();
    PosixContext *pctx = context_of(context);
    if (pctx == nullptr || pctx->ctx == GSS_C_NO_CONTEXT) return kSecInvalidHandle;
    if (qop != 0 && qop != kQopWrapNoEncrypt) return kSecQopNotSupported;
    bool conf = qop == 0;
    Buffer *token = find_buffer(message, SECBUFFER_TOKEN);
    Buffer *data = find_buffer(message, SECBUFFER_DATA);
    Buffer *padding = find_buffer(message, SECBUFFER_PADDING);
    if (token == nullptr || data == nullptr) return kSecInvalidToken;

    OM_uint32 minor = 0;
    size_t header_len = 0, padding_len = 0;
    OM_uint32 major = wrap_lengths(pctx->ctx, conf, data->cbBuffer, &minor, &header_len, &padding_len);
    if (GSS_ERROR(major)) return plat::posix::gss_failure(major, minor, kSecInternalError);
    if (header_len > token->cbBuffer || (padding_len > 0 && (padding == nullptr || padding_len > padding->cbBuffer)))
        return kSecBufferTooSmall;

    gss_iov_buffer_desc iov[3] = {};
    iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER;
    iov[0].buffer = gss_buffer_desc{header_len, token->pvBuffer};
    iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
    iov[1].buffer = gss_buffer_desc{data->cbBuffer, data->pvBuffer};
    iov[2].type = GSS_IOV_BUFFER_TYPE_PADDING;
    iov[2].buffer = gss_buffer_desc{padding_len, padding != nullptr ? padding->pvBuffer : nullptr};
    int conf_state = 0;
    major = gss_wrap_iov(&minor, pctx->ctx, conf ? 1 : 0, GSS_C_QOP_DEFAULT, &conf_state, iov, 3);
    if (GSS_ERROR(major)) return plat::posix::gss_failure(major, minor, kSecInternalError);
    if (conf && !conf_state) return kSecQopNotSupported;
    token->cbBuffer = static_cast<std::uint32_t>(iov[0].buffer.length);
    if (padding != nullptr) padding->cbBuffer = static_cast<std::uint32_t>(iov[2].buffer.length);
    return kSecOk;
}

Status DecryptMessage(Handle *context, BufferDesc *message, std::uint32_t, std::uint32_t *qop) {
    plat::posix::clear_gss_detail();
    PosixContext *pctx = context_of(context);
    if (pctx == nullptr || pctx->ctx == GSS_C_NO_CONTEXT) return kSecInvalidHandle;
    Buffer *stream = find_buffer(message, SECBUFFER_STREAM);
    Buffer *data = find_buffer(message, SECBUFFER_DATA);
    if (stream == nullptr || data == nullptr) return kSecInvalidToken;

    // A message token is either framed (0x60, RFC 1964) or a CFX wrap token (05 04, RFC 4121).
    // MIT's stream unwrap crashes on an unframed token of the older kind, so anything else is
    // refused here, as the package would refuse it.
    const auto *bytes = static_cast<const unsigned char *>(stream->pvBuffer);
    const bool framed = stream->cbBuffer >= 1 && bytes[0] == 0x60;
    const bool cfxWrap = stream->cbBuffer >= 2 && bytes[0] == 0x05 && bytes[1] == 0x04;
    if (!framed && !cfxWrap) return kSecInvalidToken;

    gss_iov_buffer_desc iov[2] = {};
    iov[0].type = GSS_IOV_BUFFER_TYPE_STREAM;
    iov[0].buffer = gss_buffer_desc{stream->cbBuffer, stream->pvBuffer};
    iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
    OM_uint32 minor = 0;
    int conf_state = 0;
    gss_qop_t qop_state = 0;
    OM_uint32 major = gss_unwrap_iov(&minor, pctx->ctx, &conf_state, &qop_state, iov, 2);
    if (GSS_ERROR(major)) return plat::posix::gss_failure(major, minor, kSecMessageAltered);
    // A replayed or stale message is refused, as SSPI does with replay detection on.
    if (major & (GSS_S_DUPLICATE_TOKEN | GSS_S_OLD_TOKEN))
        return plat::posix::gss_failure(major, minor, kSecOutOfSequence);
    data->pvBuffer = iov[1].buffer.value;
    data->cbBuffer = static_cast<std::uint32_t>(iov[1].buffer.length);
    if (qop != nullptr) *qop = conf_state ? 0 : kQopWrapNoEncrypt;
    return kSecOk;
}

Status FreeCredentialsHandle(Handle *credential) {
    if (credential == nullptr || !handle_valid(*credential)) return kSecInvalidHandle;
    gss_cred_id_t cred = cred_of(credential);
    OM_uint32 minor = 0;
    gss_release_cred(&minor, &cred);
    invalidate(*credential);
    return kSecOk;
}

Status DeleteSecurityContext(Handle *context) {
    PosixContext *pctx = context_of(context);
    if (pctx == nullptr) return kSecInvalidHandle;
    OM_uint32 minor = 0;
    if (pctx->ctx != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &pctx->ctx, GSS_C_NO_BUFFER);
    if (pctx->target != GSS_C_NO_NAME) gss_release_name(&minor, &pctx->target);
    delete pctx;
    invalidate(*context);
    return kSecOk;
}

Status FreeContextBuffer(void *buffer) {
    std::free(buffer);
    return kSecOk;
}

} // namespace sspi
