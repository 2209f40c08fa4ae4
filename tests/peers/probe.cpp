// Prints what the library read from the environment at load, for the tests' child processes.
#include <cstdio>

#include "ravlink.h"

int main() {
    std::printf("tracefile=%s\nlevel=%d\n", RavlinkTraceFile ? RavlinkTraceFile : "(null)",
                static_cast<int>(QXNTracefileLogLevel));
    return 0;
}
