// Server definitions and named TLS configurations looked up in a hive of any bytes: the input
// is written as the machine hive's file, and one of the names the seeds use is looked up in it.
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
std::string hive_path() {
    static const std::string path = [] {
        std::string p = "/tmp/ravlink-fuzz-hive-" + std::to_string(::getpid()) + ".reg";
        setenv("QXN_ravlink_registry_machine", p.c_str(), 1);
        setenv("QXN_ravlink_registry_user", "/nonexistent/ravlink-user.reg", 1);
        std::atexit([] { std::remove(("/tmp/ravlink-fuzz-hive-" + std::to_string(::getpid()) + ".reg").c_str()); });
        return p;
    }();
    return path;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FILE *f = std::fopen(hive_path().c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
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
