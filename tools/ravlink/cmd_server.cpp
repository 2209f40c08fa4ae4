// ravlink server NAME: connects by the name of a server definition (address, port, principal
// name and level from the registry, or the .reg files on POSIX) and then copies like connect.
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "login.h"
#include "ravlink.h"
#include "relay.h"

namespace {

int run(const tool::Options &o) {
    if (o.positional.size() != 1) {
        std::fputs("ravlink server: needs the NAME of a server definition (see ravlink server --help)\n", stderr);
        return 2;
    }
    tool::Login login;
    std::string error;
    if (!tool::read_login(o, login, error)) {
        std::fprintf(stderr, "ravlink server: %s\n", error.c_str());
        return 2;
    }
    timeval timeout{};
    if (!tool::prepare_relay(o, "server", timeout)) return 2;
    RavlinkContext *pc = RavlinkLoginToServer(o.positional[0].c_str(), &timeout, login.user_or_null(),
                                              login.password_or_null(), login.authority_or_null());
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

std::vector<tool::OptionSpec> options() {
    std::vector<tool::OptionSpec> all = tool::login_options();
    const std::vector<tool::OptionSpec> relay = tool::relay_options();
    all.insert(all.end(), relay.begin(), relay.end());
    return all;
}

const tool::Command command{
    "server",
    "server NAME [options]",
    "connect by the name of a server definition, then copy standard input and output like connect",
    options(),
    run};
RAVLINK_COMMAND(command);

} // namespace
