// `ravlink serve --level 1|2|3 [--keytab FILE]`: the server side of Kerberos connections. Each
// client sends the preamble, the context is accepted over framed tokens with plain GSSAPI, and
// then its messages come back: unchanged at level 1, unwrapped and wrapped again with the
// protection the client used at levels 2 and 3.
#include <cstdlib>
#include <string>

#include "serve_handlers.h"
#include "tool_net.h"

#ifndef _WIN32
#include "gss_server.h"
#endif

namespace {

tool::ConnectionHandler make(const tool::Options &o, std::string &error) {
    if (!o.has("--level")) return nullptr;
    long level = 0;
    if (!o.get_long("--level", 0, level, error)) return nullptr;
    if (level == 0) return nullptr; // the plain echo
    if (level < 1 || level > 3) {
        error = "serve: --level must be 0, 1, 2 or 3";
        return nullptr;
    }
#ifdef _WIN32
    error = "serve: Kerberos levels are served on POSIX systems only (GSSAPI)";
    return nullptr;
#else
    std::string keytab = o.get("--keytab");
    bool verbose = o.has("--verbose");
    return [level, keytab, verbose](ravlink_socket_t client) {
        tool::serve_kerberos_connection(client, static_cast<int>(level), keytab.empty() ? nullptr : keytab.c_str(),
                                        verbose);
        tool::close_socket(client);
    };
#endif
}

const tool::ServeMode mode{
    {
        {"--level", "N", "security level to serve: 0 plain echo (default), 1-3 Kerberos (POSIX only)"},
        {"--keytab", "FILE", "the service's keys for levels 1-3 (default: KRB5_KTNAME or the system keytab)"},
        {"--verbose", nullptr, "report each client and message on standard error"},
    },
    make};
RAVLINK_SERVE_MODE(mode);

} // namespace
