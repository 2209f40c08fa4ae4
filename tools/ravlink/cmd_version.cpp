// ravlink version: the library's version text.
#include <cstdio>

#include "command.h"
#include "ravlink.h"

namespace {

int run(const tool::Options &) {
    char v[16];
    RavlinkGetVersion(v);
    std::printf("ravlink %s\n", v);
    return 0;
}

const tool::Command command{"version", "version", "print the library's version", {}, run};
RAVLINK_COMMAND(command);

} // namespace
