// Loads a copy of the library from the path given (so that it looks for OpenSSL beside that
// copy), makes two level-11 connections to the port given and sends one byte on each. Prints
// every trace line and, per connection, the send's result and the error text.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "ravlink.h"

namespace {
void print_line(int32_t level, const char *text) { std::printf("[%d]%s", level, text); }
} // namespace

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    void *lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        std::printf("dlopen failed: %s\n", dlerror());
        return 1;
    }
    auto setTrace = reinterpret_cast<decltype(&RavlinkSetTraceCallback)>(dlsym(lib, "RavlinkSetTraceCallback"));
    auto connect = reinterpret_cast<decltype(&RavlinkToHostPort)>(dlsym(lib, "RavlinkToHostPort"));
    auto send = reinterpret_cast<decltype(&RavlinkSend)>(dlsym(lib, "RavlinkSend"));
    auto close = reinterpret_cast<decltype(&RavlinkClose)>(dlsym(lib, "RavlinkClose"));
    auto errorText = reinterpret_cast<decltype(&RavlinkGetErrorString)>(dlsym(lib, "RavlinkGetErrorString"));
    if (!setTrace || !connect || !send || !close || !errorText) return 1;
    setTrace(print_line, 99);
    struct timeval tv = {5, 0};
    RavlinkSSLconfig config{};
    for (int i = 0; i < 2; ++i) {
        RavlinkContext *pc = connect("127.0.0.1", argv[2], &tv, 11, reinterpret_cast<const char *>(&config));
        if (pc == nullptr) {
            std::printf("\nconnect failed: %s\n", errorText(nullptr));
            return 1;
        }
        int32_t sent = send(pc, "x", 1, &tv);
        std::printf("\nsend=%d\nerror=<%s>\n", sent, errorText(nullptr));
        close(pc);
    }
    return 0;
}
