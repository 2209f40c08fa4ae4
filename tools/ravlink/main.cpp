// ravlink: the command-line face of the library.
#include <cstdio>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "ravlink.h"

namespace {

void usage(FILE *out) {
    std::fputs("usage: ravlink COMMAND [options]\n"
               "  version            print the library's version\n"
               "  wrap               wrap one end of a local socket pair in a connection context,\n"
               "                     show its properties and close it, tracing to standard error\n"
               "  --help             this text\n",
               out);
}

int cmd_version() {
    char v[16];
    RavlinkGetVersion(v);
    std::printf("ravlink %s\n", v);
    return 0;
}

int cmd_wrap() {
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

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::string cmd = argv[1];
    if (cmd == "version") return cmd_version();
    if (cmd == "wrap") return cmd_wrap();
    std::fprintf(stderr, "ravlink: unknown command '%s'\n", argv[1]);
    usage(stderr);
    return 2;
}
