// ravlink wrap: a connection context around one end of a local socket pair, traced.
#include <cstdio>

#ifndef _WIN32
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "command.h"
#include "ravlink.h"

namespace {

int run(const tool::Options &) {
#ifdef _WIN32
    std::fputs("wrap: not available on Windows (no socketpair)\n", stderr);
    return 1;
#else
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        std::perror("socketpair");
        return 1;
    }
    RavlinkSetTraceFilePtr(stderr, 1);
    RavlinkContext *pc = RavlinkInitContext(fds[0], nullptr, 0, nullptr, nullptr, nullptr, "demo");
    if (pc == nullptr) {
        std::fprintf(stderr, "\n%s\n", RavlinkGetErrorString(nullptr));
        return 1;
    }
    std::printf("context: socket %d, security level %d, security type %u, mode %u\n",
                static_cast<int>(RavlinkGetSocketDescriptor(pc)), RavlinkGetSecurityLevel(pc),
                RavlinkGetSecurityType(pc), RavlinkGetMode(pc));
    std::fflush(stdout);
    RavlinkClose(pc);
    std::fputs("\n", stderr);
    close(fds[1]);
    return 0;
#endif
}

const tool::Command command{"wrap", "wrap",
                            "wrap one end of a local socket pair in a connection context, show its properties and "
                            "close it, tracing to standard error",
                            {},
                            run};
RAVLINK_COMMAND(command);

} // namespace
