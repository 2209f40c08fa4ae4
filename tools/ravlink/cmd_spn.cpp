// ravlink spn HOST SERVER-TYPE PREFIX: prints the service principal name the library builds for a
// server, or the library's error text.
#include <cstdio>

#include "command.h"
#include "ravlink.h"

namespace {

int run(const tool::Options &o) {
    if (o.positional.size() != 3) {
        std::fputs("ravlink spn: needs HOST, SERVER-TYPE and PREFIX (see ravlink spn --help)\n", stderr);
        return 2;
    }
    char name[1200];
    if (!RavlinkGeneratePrincipalName(o.positional[0].c_str(), o.positional[1].c_str(), o.positional[2].c_str(),
                                      name, sizeof name)) {
        std::fprintf(stderr, "%s\n", RavlinkGetErrorString(nullptr));
        return 1;
    }
    std::printf("%s\n", name);
    return 0;
}

const tool::Command command{"spn", "spn HOST SERVER-TYPE PREFIX",
                            "print a server's Kerberos service principal name: type 1 or 2 PREFIX/host.fqdn, "
                            "type 0 PREFIXHOST",
                            {},
                            run};
RAVLINK_COMMAND(command);

} // namespace
