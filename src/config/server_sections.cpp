// Server sections of the SSL definitions file: which address and port a configuration serves.
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/ssl_definitions_file.h"
#include "core/text.h"

namespace {

enum Key { kAddress = 1, kPort = 2, kTelnetPort = 4, kSSLConfig = 8, kSecurityLevel = 16 };

struct TextKey {
    const char *name;
    Key key;
    std::size_t size;
};

const TextKey kTextKeys[] = {
    {"address", kAddress, kAddressSize},
    {"port", kPort, kPortSize},
    {"TelnetPort", kTelnetPort, kTelnetPortSize},
    {"SSLConfig", kSSLConfig, kSSLConfigNameSize},
};

// The section name from a header line: after "[" up to the first "]", else the rest of the line.
// False when it has 256 characters or more.
bool section_name(char *line, std::string &name) {
    s_trimLineEnd(line);
    const char *start = line + 1;
    const char *close = std::strchr(start, ']');
    std::size_t n = close ? static_cast<std::size_t>(close - start) : std::strlen(start);
    if (n >= kSectionNameSize) return false;
    name.assign(start, n);
    return true;
}

} // namespace

ServerSection *s_NextServerSection(FILE *file) {
    char line[kSSLdefsLineSize];
    long start = 0;
    std::string name;
    // The next header whose name fits; a refused section's lines are passed over.
    for (;;) {
        if (!s_readSSLdefsLine(file, line, &start)) return nullptr;
        if (line[0] == '[' && section_name(line, name)) break;
    }

    std::string texts[5]; // address, port, TelnetPort, SSLConfig, ConnectionSecurityLevel
    unsigned seen = 0;
    if (!s_readSSLdefsLine(file, line, &start)) return nullptr;
    for (;;) {
        if (line[0] == '[') {
            std::fseek(file, start, SEEK_SET); // the next call starts at this header
            break;
        }
        bool keyLine = false;
        for (std::size_t i = 0; i < 4; ++i) {
            const char *value = s_settingValue(line, kTextKeys[i].name);
            if (value == nullptr) continue;
            keyLine = true;
            char v[kSSLdefsLineSize];
            std::strcpy(v, value);
            if (s_trimLineEnd(v) + 2 <= kTextKeys[i].size) { // too long: refused, as if not given
                texts[i] = v;
                seen |= kTextKeys[i].key;
            }
            break;
        }
        if (!keyLine) {
            if (const char *value = s_settingValue(line, "ConnectionSecurityLevel")) {
                keyLine = true;
                texts[4] = std::to_string(core::decimal_value(value));
                seen |= kSecurityLevel;
            }
        }
        // Complete once address, port, SSLConfig and the level are in, unless TelnetPort came
        // first: then the section runs to the next header.
        const unsigned four = kAddress | kPort | kSSLConfig | kSecurityLevel;
        if (keyLine && (seen & four) == four && !(seen & kTelnetPort)) break;
        if (!s_readSSLdefsLine(file, line, &start)) return nullptr; // a section cut off by the end
    }

    const char *fields[6] = {texts[3].c_str(), texts[4].c_str(), texts[0].c_str(),
                             texts[1].c_str(), texts[2].c_str(), name.c_str()};
    char *out[6];
    std::uint32_t length = 0;
    auto *section = static_cast<ServerSection *>(core::pack_texts(sizeof(ServerSection), fields, 6, out, &length));
    if (section == nullptr) return nullptr;
    section->length = length;
    section->sslConfig = out[0];
    section->securityLevel = out[1];
    section->address = out[2];
    section->port = out[3];
    section->telnetPort = out[4];
    section->name = out[5];
    return section;
}
