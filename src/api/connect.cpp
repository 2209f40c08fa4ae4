// Connecting by address and port: validate the level, choose plain, Kerberos or TLS (with its
// configuration), connect the socket, establish the security context and name the session's
// client. Any failure releases everything built so far and returns null.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/context.h"
#include "api/ssl_config_pack.h"
#include "api/transport.h"
#include "config/ssl_definitions.h"
#include "core/text.h"
#include "diag/allocation_guard.h"
#include "diag/error_state.h"
#include "diag/trace.h"
#include "kerberos/kerberos.h"
#include "net/socket_library.h"
#include "net/tcp_connect.h"
#include "net/ts_client.h"
#include "platform/codes.h"
#include "tls/netssl.h"

namespace {

constexpr const char *kNullField = "\"(NULL)\"";
// Paths this long are left out of the error text.
constexpr std::size_t kLongPath = 4000;

const char *shown(const char *text, const char *absent) { return text != nullptr ? text : absent; }

const char *shown_principal(std::int32_t level, const char *principal) {
    if (principal == nullptr) return "no principal";
    return level == 11 ? "RavlinkSSLconfig Structure" : principal;
}

void trace_config(std::int32_t level, const char *title, const RavlinkSSLconfig *c, bool packed) {
    auto f = [](const char *text) { return text != nullptr ? text : kNullField; };
    const char *password = c->Password != nullptr || packed ? "present" : kNullField;
    ravlink_tracelog(level,
                     "%s = {Protocols=%s, KeyType=%s, VerifyPeer=%s ,VerifyDepth=%s, CipherList=%s, "
                     "Password=%s, CertFile=%s, KeyFile=%s, CAfile=%s, CSpath=%s}\n",
                     title, f(c->Protocols), f(c->KeyType), f(c->VerifyPeer), f(c->VerifyDepth), f(c->CipherList),
                     password, f(c->CertFile), f(c->KeyFile), f(c->CAfile), f(c->CApath));
}

// Tries to open each file the configuration names. A failure only leaves its text: the TLS
// set-up reports the real trouble at the first send or receive.
void check_files(const RavlinkSSLconfig *c) {
    struct Check {
        const char *path;
        const char *name;
    } checks[] = {{c->CertFile, "CertFile"}, {c->KeyFile, "KeyFile"}, {c->CAfile, "CAfile"}, {c->CApath, "CApath"}};
    for (const Check &check : checks) {
        if (check.path[0] == '\0') continue;
        if (FILE *f = std::fopen(check.path, "r")) {
            std::fclose(f);
            continue;
        }
        auto code = static_cast<std::uint32_t>(errno);
        if (std::strlen(check.path) >= kLongPath)
            s_setErrorf(code, "Cannot access %s.", check.name);
        else
            s_setErrorf(code, "Cannot access %s:  %s.", check.name, check.path);
    }
}

bool copy_principal(RavlinkContext *pc, const char *principal) {
    pc->principal = core::copy_text(principal);
    if (pc->principal == nullptr) {
        s_setError("Cannot allocate memory for ServicePrincipal name.", codes::kNoMemory);
        return false;
    }
    return true;
}

// Everything after the record exists: configuration, session, credentials, socket, security
// context, client name. False on a failure, with its reason recorded.
bool build(RavlinkContext *pc, const char *address, const char *port, const struct timeval *timeout,
           std::int32_t level, const char *user, const char *password, const char *authority,
           const char *principal, SSLdefinition *&definition) {
    const RavlinkSSLconfig *config = nullptr;
    std::int32_t verifyHostName = -1; // a named registry configuration says for itself
    bool tls = false;
    if (level == 10 && principal != nullptr && principal[0] != '\0' && s_SSLconfigExists(principal)) {
        tls = true;
    } else if (level == 10 || level == 0) {
        definition = s_findSSLdefinition(address, port);
        if (definition != nullptr) {
            ravlink_tracelog(4, "SSL definition obtained from SSL definition file.");
            config = &definition->config;
            verifyHostName = definition->verifyHostName;
        } else if (level == 10) {
            // The name is looked up again at the first send or receive; an empty one is a name
            // like any other there (no key of that name: the defaults). Only its absence fails.
            if (principal == nullptr) {
                s_setError("Security level 10 needs the name of a TLS configuration.", 0);
                return false;
            }
            tls = true;
        }
    } else if (level == 11) {
        config = reinterpret_cast<const RavlinkSSLconfig *>(principal);
        verifyHostName = s_verifyHostNameForRecords();
        if (config == nullptr) {
            s_setError("Security level 11 needs a RavlinkSSLconfig record.", 0);
            return false;
        }
    }

    if (config != nullptr) {
        pc->sslConfig = s_packSSLconfig(config);
        if (pc->sslConfig == nullptr) {
            s_setError("Cannot allocate memory for the TLS configuration.", codes::kNoMemory);
            return false;
        }
        trace_config(3, "Converted RavlinkSSLconfig", pc->sslConfig, true);
        check_files(pc->sslConfig);
        tls = true;
    }

    if (tls) {
        if (pc->sslConfig == nullptr && !copy_principal(pc, principal)) return false;
        pc->securityType = kSecurityTls;
        pc->securityLevel = 0;
        const char *name = pc->sslConfig == nullptr ? pc->principal : nullptr;
        auto nameLength = static_cast<std::uint32_t>(name != nullptr ? std::strlen(name) : 0);
        if (!s_newSSLsession(pc, name, nameLength) || !s_setSSLpeer(pc->tlsSession, address, verifyHostName)) {
            // Said aloud, so that a null connect always comes with a reason.
            s_setError("Cannot allocate memory for the TLS session.", codes::kNoMemory);
            return false;
        }
    } else {
        if (principal != nullptr && !copy_principal(pc, principal)) return false;
        if (level >= 1 && level <= 3) pc->securityType = kSecurityKerberos;
        pc->securityLevel = level;
    }
    s_chooseTransport(pc);

    if (timeout != nullptr) s_installTimeout(pc, timeout);
    const bool kerberos = pc->securityType == kSecurityKerberos;
    if (kerberos && !s_acquireCredentials(pc, user, password, authority)) return false;
    pc->socket = s_tcpconnect(address, port, pc->timeout, &pc->socketLibraryUse);
    if (pc->socket == plat::kInvalidSocket) return false;
    if (kerberos && !s_establish_context(pc)) return false;
    return s_fillTSClientName(pc);
}

} // namespace

extern "C" RAVLINK_API RavlinkContext *RavlinkLoginToHostPort(const char *address, const char *port,
                                                              const struct timeval *timeout, int32_t level,
                                                              const char *user, const char *password,
                                                              const char *authority, const char *principal) {
    ravlink_tracelog(4, "RavlinkLoginToHostPort(%s,%s,%x,%d,%s,%s,%s,%s)\n", shown(address, "no address"),
                     shown(port, "no port"), core::low32(timeout), level, shown(user, "no username"),
                     shown(password, "no password"), shown(authority, "no authority"),
                     shown_principal(level, principal));
    if (level == 11 && principal != nullptr)
        trace_config(4, "RavlinkSSLconfig Structure", reinterpret_cast<const RavlinkSSLconfig *>(principal), false);
    s_setCurrentConnection(nullptr);
    s_clearError();
    if (level != 10 && level != 11 && static_cast<std::uint32_t>(level) > 3) {
        s_setError("Invalid Security Level requested.", 0);
        return nullptr;
    }
    RavlinkContext *pc = s_allocContext();
    if (pc == nullptr) {
        s_setError("Cannot allocate memory for connection object.", codes::kNoMemory);
        return nullptr;
    }

    SSLdefinition *definition = nullptr;
    if (diag::guard_allocations(false, "Cannot allocate memory for connection object.", [&] {
            return build(pc, address, port, timeout, level, user, password, authority, principal, definition);
        })) {
        s_setCurrentConnection(pc);
        s_freeSSLdefinition(definition);
        return pc;
    }

    s_traceLibraryError("Error connecting:  ", "\n");
    RavlinkClose(pc);
    s_setCurrentConnection(nullptr);
    s_freeSSLdefinition(definition);
    return nullptr;
}

extern "C" RAVLINK_API RavlinkContext *RavlinkToHostPort(const char *address, const char *port,
                                                         const struct timeval *timeout, int32_t level,
                                                         const char *principal) {
    ravlink_tracelog(4, "RavlinkToHostPort(%s,%s,%x,%d,%s)\n", shown(address, "no address"), shown(port, "no port"),
                     core::low32(timeout), level, shown_principal(level, principal));
    return RavlinkLoginToHostPort(address, port, timeout, level, nullptr, nullptr, nullptr, principal);
}
