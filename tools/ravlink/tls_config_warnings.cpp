// Warnings about TLS configurations that nothing defines.
#include "tls_config_warnings.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "config/ssl_definitions_file.h"
#include "platform/registry.h"

namespace tool {

namespace {

bool equal_nocase(const char *a, const std::string &b) {
    size_t i = 0;
    for (; a[i] != '\0' && i < b.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return a[i] == '\0' && i == b.size();
}

enum class Entry { None, Usable, MissingSection };

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

// The SSL definitions file's answer for host and port, as the library's look-up reads it: the
// first entry that lists them decides. On MissingSection, section and config name the entry.
Entry definition_entry(const std::string &host, const std::string &port, std::string &section,
                       std::string &config) {
    FILE *file = s_openSSLdefs("rb");
    if (file == nullptr) return Entry::None;
    Entry result = Entry::None;
    while (result == Entry::None) {
        std::unique_ptr<ServerSection, FreeDeleter> entry(s_NextServerSection(file));
        if (!entry) break;
        if (!equal_nocase(entry->address, host) ||
            (!equal_nocase(entry->port, port) && !equal_nocase(entry->telnetPort, port)))
            continue;
        std::unique_ptr<SSLdefinition, FreeDeleter> definition(s_readSSLcfg(file, entry->sslConfig));
        result = definition ? Entry::Usable : Entry::MissingSection;
        section = entry->name;
        config = entry->sslConfig;
    }
    std::fclose(file);
    return result;
}

// Whether the registry holds the named configuration (current user, then local machine).
bool in_registry(const std::string &name) {
    const std::string path = "Software\\Brannoc\\Sedrin\\SSLConfigurations\\" + name;
    for (plat::Hive hive : {plat::Hive::CurrentUser, plat::Hive::LocalMachine}) {
        plat::RegKey key = nullptr;
        if (plat::reg_open_key(hive, path.c_str(), plat::kKeyRead | plat::kKeyWow64_32, &key) != plat::kErrorSuccess)
            continue;
        plat::reg_close_key(key);
        return true;
    }
    return false;
}

} // namespace

void warn_missing_definition_section(const char *command, const std::string &host, const std::string &port,
                                     long level) {
    std::string section, config;
    if (definition_entry(host, port, section, config) != Entry::MissingSection) return;
    std::fprintf(stderr,
                 "ravlink %s: warning: the SSL definitions file lists %s %s in section [%s], whose SSL "
                 "configuration '%s' is not in the file: %s\n",
                 command, host.c_str(), port.c_str(), section.c_str(), config.c_str(),
                 level == 0 ? "the connection stays plain" : "it is not used");
}

void warn_unknown_configuration(const char *command, const std::string &host, const std::string &port,
                                const std::string &name) {
    std::string section, config;
    if ((!name.empty() && in_registry(name)) || definition_entry(host, port, section, config) == Entry::Usable)
        return;
    std::fprintf(stderr,
                 "ravlink %s: warning: no TLS configuration is named '%s' in the registry, and the SSL "
                 "definitions file has none for %s %s: the connection uses the default TLS settings\n",
                 command, name.c_str(), host.c_str(), port.c_str());
}

} // namespace tool
