// ravlink server NAME: connects by the name of a server definition (address, port, principal
// name and level from the registry, or the .reg files on POSIX) and then copies like connect.
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "command.h"
#include "password.h"
#include "ravlink.h"
#include "relay.h"
#include "tool_net.h"

namespace {

int run(const tool::Options &o) {
    if (o.positional.size() != 1) {
        std::fputs("ravlink server: needs the NAME of a server definition (see ravlink server --help)\n", stderr);
        return 2;
    }
    long traceLevel = 0;
    double seconds = 10;
    std::string error, password;
    bool havePassword = false;
    if (!o.get_long("--trace", 0, traceLevel, error) || !o.get_seconds("--timeout", 10, seconds, error) ||
        !tool::read_password(o, password, &havePassword, error)) {
        std::fprintf(stderr, "ravlink server: %s\n", error.c_str());
        return 2;
    }
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    tool::start_sockets();
    if (o.has("--trace")) RavlinkSetTraceFilePtr(stderr, static_cast<int32_t>(traceLevel));
    const timeval timeout = tool::to_timeval(seconds);
    const std::string user = o.get("--user"), authority = o.get("--authority");
    RavlinkContext *pc = RavlinkLoginToServer(o.positional[0].c_str(), &timeout, o.has("--user") ? user.c_str() : nullptr,
                                              havePassword ? password.c_str() : nullptr,
                                              o.has("--authority") ? authority.c_str() : nullptr);
    if (pc == nullptr) {
        // A definition that cannot be read records no error text, only a trace line.
        const char *reason = RavlinkGetErrorString(nullptr);
        std::fprintf(stderr, "ravlink server: cannot connect to the server defined as '%s'\n%s\n",
                     o.positional[0].c_str(),
                     reason[0] != '\0' ? reason : "(no definition of that name could be read; --trace 6 shows why)");
        return 1;
    }
    return tool::relay(pc, o, timeout, "server");
}

const tool::Command command{
    "server",
    "server NAME [options]",
    "connect by the name of a server definition, then copy standard input and output like connect",
    {
        {"--user", "NAME", "Kerberos user name (levels 1-3; default: the caller's own tickets)"},
        {"--authority", "DOMAIN", "Kerberos authority (realm) of --user"},
        {"--password-env", "VAR", "take the password of --user from this environment variable"},
        {"--password-file", "FILE", "take the password of --user from the first line of this file"},
        {"--timeout", "SECONDS", "time-out of the connect (default 10); when given, also how long to wait for the peer after input ends"},
        {"--vread", nullptr, "receive whatever has arrived in one call (VREAD) instead of byte by byte (FREAD)"},
        {"--trace", "LEVEL", "write the library's trace from LEVEL up (1 all ... 6 errors) to standard error"},
    },
    run};
RAVLINK_COMMAND(command);

} // namespace
