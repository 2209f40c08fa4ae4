// s_establish_context: the preamble and the token exchange that builds the security context;
// s_releaseSecurity: its release with the connection.
#include <cstdlib>

#include "core/context.h"
#include "diag/error_state.h"
#include "diag/trace.h"
#include "kerberos/kerberos.h"
#include "kerberos/output_token.h"
#include "kerberos/token_framing.h"
#include "net/socket_io.h"
#include "platform/security_package.h"

namespace {

// Mutual authentication, replay detection, confidentiality, output allocated by the package:
// the same for every level (see OutputToken for a package that will not allocate).
constexpr std::uint32_t kContextRequirements = sspi::kReqMutualAuth | sspi::kReqReplayDetect |
                                               sspi::kReqConfidentiality | sspi::kReqAllocateMemory;
constexpr const char *kDefaultTarget = "sedrin";
constexpr const char *kFailed = "Failed to establish security context.";

} // namespace

int s_establish_context(RavlinkContext *pc) {
    const char *target = pc->principal != nullptr ? pc->principal : kDefaultTarget;

    const unsigned char preamble[5] = {0x00, 0x00, 0x7F, 0x01, static_cast<unsigned char>(pc->securityLevel)};
    if (write_all(pc, preamble, sizeof preamble) != static_cast<std::int32_t>(sizeof preamble)) return 0;
    ravlink_tracelog(1, "s_establish_context():  service_name = %s\n", target);

    OutputToken out(kContextRequirements);
    sspi::Buffer inBuffer{0, sspi::SECBUFFER_TOKEN, nullptr};
    sspi::BufferDesc input{sspi::SECBUFFER_VERSION, 1, &inBuffer};
    RecvToken received{0, 0, nullptr};

    bool first = true;
    bool transportFailed = false;
    sspi::Status status;
    for (;;) {
        status = sspi::InitializeSecurityContextA(&pc->credentials, first ? nullptr : &pc->securityContext, target,
                                                  out.requirements(), sspi::kNativeDataRep,
                                                  first ? nullptr : &input, &pc->securityContext, out.prepare(),
                                                  &pc->contextAttributes);
        ravlink_tracelog(1, "InitializeSecurityContext returned %XL\n", status);
        if (first && out.fall_back(status)) continue; // the same first pass, into the library's buffer
        first = false;
        if (status != sspi::kSecOk && status != sspi::kSecContinueNeeded) {
            ravlink_tracelog(6, "InitializeSecurityContext() failed.\n");
            break;
        }
        if (out.token().cbBuffer != 0) {
            SendToken tok{out.token().cbBuffer, out.token().pvBuffer};
            if (send_token(pc, &tok) != 0) {
                out.release();
                ravlink_tracelog(6, "send_token() failed during Context establishment.\n");
                transportFailed = true;
                break;
            }
        }
        out.release();
        if (status == sspi::kSecOk) break;
        if (recv_token(pc, &received) != 0) {
            ravlink_tracelog(6, "recv_token() failed while establishing context.\n");
            transportFailed = true;
            break;
        }
        inBuffer = sspi::Buffer{static_cast<std::uint32_t>(received.length), sspi::SECBUFFER_TOKEN, received.value};
    }
    std::free(received.value);

    if (transportFailed) {
        s_appendError(kFailed, 0);
        return 0;
    }
    if (status != sspi::kSecOk) {
        s_setError(kFailed, status);
        return 0;
    }
    status = sspi::QueryContextSizes(&pc->securityContext, &pc->sizes);
    if (status != sspi::kSecOk) {
        s_setError(kFailed, status);
        return 0;
    }
    std::uint32_t packageMaxToken = 0;
    if (sspi::QueryPackageMaxToken(sspi::kKerberosPackage, &packageMaxToken) != sspi::kSecOk) packageMaxToken = 0;
    ravlink_tracelog(1, "s_establish_context(), maj_stat = %d, pc->sizes.cbMaxToken = %d, cbMaxToken = %d.\n", 0,
                     static_cast<int>(pc->sizes.cbMaxToken), static_cast<int>(packageMaxToken));
    if (pc->sizes.cbMaxToken == 0) pc->sizes.cbMaxToken = packageMaxToken;
    // Without a largest token there is no piece size for protected messages.
    if (pc->sizes.cbMaxToken == 0) {
        s_setError(kFailed, sspi::kSecInternalError);
        return 0;
    }
    return 1;
}

void s_releaseSecurity(RavlinkContext *pc) {
    if (sspi::handle_valid(pc->credentials)) sspi::FreeCredentialsHandle(&pc->credentials);
    if (sspi::handle_valid(pc->securityContext)) sspi::DeleteSecurityContext(&pc->securityContext);
}
