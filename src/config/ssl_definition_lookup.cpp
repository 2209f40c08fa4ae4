// The SSL definition for an address and port: the first server section that lists them decides.
#include <cstdlib>
#include <cstring>

#include "config/ssl_definitions_file.h"
#include "core/text.h"
#include "platform/platform.h"

SSLdefinition *s_findSSLdefinition(const char *address, const char *port) {
    if (address == nullptr || port == nullptr) return nullptr;
    // Binary mode: the readers move back to positions that ftell gave, which text mode on Windows
    // gets wrong for files with bare line feeds; s_trimLineEnd drops the carriage returns.
    FILE *file = s_openSSLdefs("rb");
    if (file == nullptr) return nullptr;
    SSLdefinition *definition = nullptr;
    ServerSection *section = nullptr;
    try {
        while (definition == nullptr && (section = s_NextServerSection(file)) != nullptr) {
            // Whole texts without regard to case; names are not resolved.
            if (core::equal_nocase(section->address, address) &&
                (core::equal_nocase(section->port, port) || core::equal_nocase(section->telnetPort, port)))
                definition = s_readSSLcfg(file, section->sslConfig); // when missing, the file is at its end
            std::free(section);
            section = nullptr;
        }
    } catch (...) { // out of memory: the connect fails rather than go on without its definition
        std::free(section);
        std::fclose(file);
        throw;
    }
    std::fclose(file);
    return definition;
}

void s_freeSSLdefinition(SSLdefinition *definition) {
    if (definition == nullptr) return;
    plat::wipe_text(definition->config.Password);
    std::free(definition);
}
