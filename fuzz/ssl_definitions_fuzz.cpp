// The SSL definitions file readers over any bytes: every server section in turn, then the
// configuration each names, read from the same stream as the look-up does.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/ssl_definitions.h"
#include "config/ssl_definitions_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    std::vector<char> bytes(data, data + size);
    FILE *file = fmemopen(bytes.data(), bytes.size(), "rb");
    if (file == nullptr) return 0;
    std::vector<std::string> names = {"cfg"};
    for (int i = 0; i < 256; ++i) {
        ServerSection *s = s_NextServerSection(file);
        if (s == nullptr) break;
        if (s->sslConfig != nullptr) names.emplace_back(s->sslConfig);
        if ((s->address != nullptr && std::strlen(s->address) >= kAddressSize - 1) ||
            (s->name != nullptr && std::strlen(s->name) > 255))
            std::abort();
        std::free(s);
    }
    for (const std::string &name : names) {
        std::rewind(file);
        SSLdefinition *d = s_readSSLcfg(file, name.c_str());
        if (d != nullptr) { // every field is a text of its own, packed in order after the record
            const char *next = reinterpret_cast<const char *>(d + 1);
            for (char *const *field = &d->config.Protocols; field <= &d->config.CApath; ++field) {
                if (*field != next) std::abort();
                next += std::strlen(*field) + 1;
            }
            if (next != reinterpret_cast<const char *>(d + 1) + d->length) std::abort();
        }
        std::free(d);
    }
    std::fclose(file);
    return 0;
}
