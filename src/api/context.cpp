// The connection context: wrapping a connected socket, releasing a context, its properties.
#include "core/context.h"

#include <cstdlib>
#include <cstring>

#include "api/transport.h"
#include "core/text.h"
#include "diag/allocation_guard.h"
#include "diag/error_state.h"
#include "diag/trace.h"
#include "kerberos/kerberos.h"
#include "net/socket_library.h"
#include "net/ts_client.h"
#include "platform/codes.h"
#include "tls/netssl.h"

extern "C" RAVLINK_API RavlinkContext *RavlinkInitContext(ravlink_socket_t sock, const struct timeval *timeout,
                                                          int32_t level, const char *user,
                                                          const char *password, const char *authority,
                                                          const char *principal) {
    ravlink_tracelog(4, "RavlinkInitContext(%x,%x,%d,%s,%s,%s,%s)\n", static_cast<unsigned>(sock),
                     core::low32(timeout), level, user ? user : "no username", password ? password : "no password",
                     authority ? authority : "no authority", principal ? principal : "no principal");
    s_setCurrentConnection(nullptr);
    s_clearError();
    if (static_cast<std::uint32_t>(level) > 3) {
        s_setError("Invalid Security level requested.", 0);
        return nullptr;
    }
    RavlinkContext *pc = s_allocContext();
    if (pc == nullptr) {
        s_setError("Cannot allocate connection object.", codes::kNoMemory);
        return nullptr;
    }
    if (principal != nullptr && (pc->principal = core::copy_text(principal)) == nullptr) {
        s_setError("Cannot allocate memory for ServicePrincipal name.", codes::kNoMemory);
        RavlinkClose(pc);
        return nullptr;
    }
    pc->securityLevel = level;
    s_chooseTransport(pc);
    s_installTimeout(pc, timeout);
    const bool ready = diag::guard_allocations(false, "Cannot allocate connection object.", [&] {
        if (level != 0 && !s_acquireCredentials(pc, user, password, authority)) return false;
        pc->socket = sock;
        plat::set_nonblocking(sock, true);
        plat::set_tcp_nodelay(sock);
        return (level == 0 || s_establish_context(pc)) && s_fillTSClientName(pc);
    });
    if (!ready) {
        RavlinkClose(pc);
        return nullptr;
    }
    return pc;
}

extern "C" RAVLINK_API int32_t RavlinkClose(RavlinkContext *pc) {
    ravlink_tracelog(4, "RavlinkClose(%x)\n", core::low32(pc));
    if (pc == nullptr) return 0;
    s_releaseSecurity(pc);
    // The TLS session says close_notify on the socket before the socket is closed: once closed,
    // its number may already belong to another thread's new connection.
    if (pc->tlsSession != nullptr) s_freeSSLsession(pc->tlsSession);
    if (pc->socket != plat::kInvalidSocket) plat::close_socket(pc->socket);
    std::free(pc->recvToken.value);
    std::free(pc->principal);
    std::free(pc->tsClientName);
    std::free(pc->errorText);
    // The pass phrase does not outlive the connection in freed memory.
    if (pc->sslConfig != nullptr) plat::wipe_text(pc->sslConfig->Password);
    std::free(pc->sslConfig);
    const bool heldUse = pc->socketLibraryUse;
    std::free(pc);
    s_setCurrentConnection(nullptr);
    if (heldUse) s_wsacleanup();
    return 1;
}

extern "C" RAVLINK_API ravlink_socket_t RavlinkGetSocketDescriptor(RavlinkContext *pc) {
    return pc != nullptr ? pc->socket : plat::kInvalidSocket;
}

extern "C" RAVLINK_API int32_t RavlinkGetSecurityLevel(RavlinkContext *pc) {
    return pc != nullptr ? pc->securityLevel : 0;
}

extern "C" RAVLINK_API uint32_t RavlinkGetSecurityType(RavlinkContext *pc) {
    return pc != nullptr ? pc->securityType : 0;
}

extern "C" RAVLINK_API uint32_t RavlinkGetMode(RavlinkContext *pc) { return pc != nullptr ? pc->mode : 0; }

extern "C" RAVLINK_API int32_t RavlinkGetRdlen(RavlinkContext *pc) { return pc != nullptr ? pc->rdlen : 0; }

extern "C" RAVLINK_API uint32_t RavlinkSetMode(RavlinkContext *pc, uint32_t mode) {
    if (pc == nullptr) return 0;
    std::uint32_t previous = pc->mode;
    pc->mode = mode;
    return previous;
}

extern "C" RAVLINK_API int32_t RavlinkSetSecurityLevel(RavlinkContext *pc, int32_t level) {
    if (pc == nullptr) return 0;
    if (pc->securityLevel >= 2 && (level == 2 || level == 3)) pc->securityLevel = level;
    return pc->securityLevel;
}

extern "C" RAVLINK_API int32_t RavlinkGetVersion(char *buf) {
    static_assert(sizeof RAVLINK_VERSION_TEXT == 15, "the version text has 14 characters");
    if (buf != nullptr) std::memcpy(buf, RAVLINK_VERSION_TEXT, sizeof RAVLINK_VERSION_TEXT);
    return static_cast<int32_t>(sizeof RAVLINK_VERSION_TEXT);
}
