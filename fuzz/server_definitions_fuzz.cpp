// Server definitions and named TLS configurations looked up in a hive of any bytes: the input
// becomes the machine hive, a file in memory (memfd) that the registry reader opens by its
// /proc path like any hive file, and one of the names the seeds use is looked up in it.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/server_definitions.h"
#include "tls/netssl.h"
#include "tls/ssl_settings.h"

namespace {
int hive = -1;
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    hive = ::memfd_create("ravlink-fuzz-hive", 0);
    if (hive < 0) std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(hive);
    setenv("QXN_ravlink_registry_machine", path.c_str(), 1);
    setenv("QXN_ravlink_registry_user", "/nonexistent/ravlink-user.reg", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (::ftruncate(hive, 0) != 0 || ::pwrite(hive, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    // One name per input (each look-up reads the file again): chosen by the input's length.
    for (const char *name : {size % 3 == 0 ? "echo" : size % 3 == 1 ? "a" : "tls"}) {
        char address[64], port[32], principal[128];
        std::int32_t level = -1;
        if (ServerToHostPort(name, address, sizeof address, port, sizeof port, principal, sizeof principal, &level) == 1 &&
            (std::strlen(address) >= sizeof address || std::strlen(port) >= sizeof port ||
             std::strlen(principal) >= sizeof principal))
            std::abort();
        if (s_SSLconfigExists(name)) {
            char value[300];
            for (const char *v : {"Protocols", "CipherList", "CAfile"})
                if (s_readSSLregValue(name, v, value, sizeof value) == 1 && std::strlen(value) >= sizeof value)
                    std::abort();
        }
    }
    return 0;
}
