// ravlink connect HOST PORT: like nc, copies standard input to the connection and the connection
// to standard output until both ends are done. On a failure it prints the library's error text.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "command.h"
#include "connection_info.h"
#include "password.h"
#include "tls_record.h"
#include "ravlink.h"
#include "relay.h"
#include "tool_net.h"

namespace {

using tool::to_timeval;

int fail(RavlinkContext *pc, const char *what) {
    std::fprintf(stderr, "ravlink connect: %s\n%s\n", what, RavlinkGetErrorString(pc));
    return 1;
}

// Opens the connection the options ask for: with --user, as that user with a password from
// --password-env or --password-file. Level 11 takes a record in place of the principal (its
// fields left to their defaults here).
RavlinkContext *open_connection(const tool::Options &o, long level, const timeval &timeout,
                                const tool::TlsRecord &tlsRecord) {
    std::string principal = o.get("--principal"), user = o.get("--user"), authority = o.get("--authority");
    std::string password, error;
    bool havePassword = false;
    if (!tool::read_password(o, password, &havePassword, error)) {
        std::fprintf(stderr, "ravlink connect: %s\n", error.c_str());
        std::exit(2);
    }
    const char *last = o.has("--principal") ? principal.c_str() : nullptr;
    if (level == 11) last = reinterpret_cast<const char *>(tlsRecord.record());
    return RavlinkLoginToHostPort(o.positional[0].c_str(), o.positional[1].c_str(), &timeout,
                                  static_cast<int32_t>(level), o.has("--user") ? user.c_str() : nullptr,
                                  havePassword ? password.c_str() : nullptr,
                                  o.has("--authority") ? authority.c_str() : nullptr, last);
}

int run(const tool::Options &o) {
    if (o.positional.size() != 2) {
        std::fputs("ravlink connect: needs HOST and PORT (see ravlink connect --help)\n", stderr);
        return 2;
    }
    long level = 0, traceLevel = 0;
    double seconds = 10;
    std::string error;
    if (!o.get_long("--level", 0, level, error) || !o.get_long("--trace", 0, traceLevel, error) ||
        !o.get_seconds("--timeout", 10, seconds, error)) {
        std::fprintf(stderr, "ravlink connect: %s\n", error.c_str());
        return 2;
    }
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    tool::start_sockets();
    if (o.has("--trace")) RavlinkSetTraceFilePtr(stderr, static_cast<int32_t>(traceLevel));
    const timeval timeout = to_timeval(seconds);
    tool::TlsRecord tlsRecord;
    if (level == 11 && !tlsRecord.load(o, error)) {
        std::fprintf(stderr, "ravlink connect: %s\n", error.c_str());
        return 2;
    }
    RavlinkContext *pc = open_connection(o, level, timeout, tlsRecord);
    if (pc == nullptr) return fail(nullptr, "connect failed");
    if (o.has("--verbose")) tool::describe_connection(stderr, pc);

    return tool::relay(pc, o, timeout, "connect");
}

const tool::Command command{
    "connect",
    "connect HOST PORT [options]",
    "copy standard input to a connection and the connection to standard output until both end (like nc)",
    {
        {"--level", "N", "security level: 0 plain (default), 1-3 Kerberos, 10/11 TLS"},
        {"--principal", "P", "service principal name (levels 0-3) or TLS configuration name (level 10)"},
        {"--user", "NAME", "Kerberos user name (levels 1-3; default: the caller's own tickets)"},
        {"--authority", "DOMAIN", "Kerberos authority (realm) of --user (default: the computer's DNS domain)"},
        {"--password-env", "VAR", "take the password of --user from this environment variable"},
        {"--password-file", "FILE", "take the password of --user from the first line of this file"},
        {"--timeout", "SECONDS", "time-out of the connect (default 10); when given, also how long to wait for the peer after input ends"},
        {"--vread", nullptr, "receive whatever has arrived in one call (VREAD) instead of byte by byte (FREAD)"},
        {"--verbose", nullptr, "describe the connection on standard error (level, type, client name)"},
        {"--trace", "LEVEL", "write the library's trace from LEVEL up (1 all ... 6 errors) to standard error"},
    },
    run,
    tool::tls_record_options};
RAVLINK_COMMAND(command);

} // namespace
