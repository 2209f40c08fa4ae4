// SSL configuration sections of the SSL definitions file: the ten settings of a TLS
// configuration, converted to the texts of a RavlinkSSLconfig.
#include <cctype>
#include <cstring>
#include <string>

#include "config/ssl_definitions_file.h"
#include "core/text.h"
#include "platform/platform.h"

namespace {

// The ten keys in the order of the record's fields.
enum Field { kProtocols, kKeyType, kVerifyPeer, kVerifyDepth, kCipherList, kPassword, kCertFile,
             kKeyFile, kCAfile, kCApath, kFieldCount };

const char *const kKeys[kFieldCount] = {"Protocols", "KeyType", "VerifyPeer", "VerifyDepth",
                                        "CipherList", "Password", "CertFile", "KeyFile",
                                        "CAfile", "CApath"};

bool starts_with_digit(const char *v) { return std::isdigit(static_cast<unsigned char>(v[0])) != 0; }

// Protocol names (case-sensitive) as bits; a bare "TLSv1" means every TLS version.
std::int32_t protocol_bits(const char *v) {
    if (starts_with_digit(v)) return core::decimal_value(v);
    std::int32_t bits = 0;
    if (std::strstr(v, "SSLv2")) bits |= 1;
    if (std::strstr(v, "SSLv3")) bits |= 2;
    if (std::strstr(v, "TLSv1.0")) bits |= 4;
    if (std::strstr(v, "TLSv1.1")) bits |= 8;
    if (std::strstr(v, "TLSv1.2")) bits |= 16;
    if (bits < 4 && std::strstr(v, "TLSv1")) bits |= 28;
    return bits;
}

std::int32_t key_type(const char *v) {
    if (starts_with_digit(v)) return core::decimal_value(v);
    if (core::starts_with_nocase(v, "DSA")) return 1;
    if (core::starts_with_nocase(v, "RSA")) return 2;
    return 0;
}

std::int32_t verify_peer(char *v) {
    if (starts_with_digit(v)) return core::decimal_value(v);
    s_trimLineEnd(v);
    return core::starts_with_nocase(v, "yes") && v[3] == '\0' ? 1 : 0;
}

std::int32_t verify_depth(const char *v) {
    std::int32_t depth = starts_with_digit(v) ? core::decimal_value(v) : 0;
    return depth == 0 ? 9 : depth;
}

std::size_t text_field_size(int field) {
    return field == kCipherList || field == kPassword ? kCipherListSize : kPathFieldSize;
}

// The field's text from the line's value; false when the value is too long for its field.
bool field_text(int field, const char *value, std::string &text) {
    char v[kSSLdefsLineSize];
    std::strcpy(v, value);
    bool taken = true;
    switch (field) {
    case kProtocols: text = std::to_string(protocol_bits(v)); break;
    case kKeyType: text = std::to_string(key_type(v)); break;
    case kVerifyPeer: text = std::to_string(verify_peer(v)); break;
    case kVerifyDepth: text = std::to_string(verify_depth(v)); break;
    default:
        taken = s_trimLineEnd(v) + 2 <= text_field_size(field); // a longer one is refused, as if not given
        if (taken) text = v;
    }
    plat::wipe_memory(v, sizeof v); // it may hold a pass phrase
    return taken;
}

// "[name]" at the start of the line, the name without regard to case.
bool is_header_of(const char *line, const char *name, std::size_t length) {
    return line[0] == '[' && core::starts_with_nocase(line + 1, name, length) && line[1 + length] == ']';
}

} // namespace

SSLdefinition *s_readSSLcfg(FILE *file, const char *name) {
    if (name == nullptr) return nullptr;
    const std::size_t nameLength = std::strlen(name);
    char line[kSSLdefsLineSize];
    long start = 0;
    std::rewind(file);
    do {
        if (!s_readSSLdefsLine(file, line, &start)) return nullptr;
    } while (!is_header_of(line, name, nameLength));

    std::string texts[kFieldCount];
    std::int32_t verifyHostName = 0;
    unsigned seen = 0;
    // The ten fields, and VerifyHostName, which the record has no field for.
    const unsigned verifyHostNameBit = 1u << kFieldCount;
    const unsigned all = (verifyHostNameBit << 1) - 1;
    while (seen != all && s_readSSLdefsLine(file, line, &start)) {
        if (line[0] == '[') {
            std::fseek(file, start, SEEK_SET);
            break;
        }
        if (char *value = const_cast<char *>(s_settingValue(line, "VerifyHostName"))) {
            verifyHostName = verify_peer(value);
            seen |= verifyHostNameBit;
            continue;
        }
        for (int f = 0; f < kFieldCount; ++f) {
            const char *value = s_settingValue(line, kKeys[f]);
            if (value == nullptr) continue;
            if (field_text(f, value, texts[f])) seen |= 1u << f;
            break;
        }
    }
    if (texts[kCipherList].empty()) texts[kCipherList] = core::kDefaultCipherList;

    const char *fields[kFieldCount];
    for (int f = 0; f < kFieldCount; ++f) fields[f] = texts[f].c_str();
    char *out[kFieldCount];
    std::uint32_t length = 0;
    void *block = core::pack_texts(sizeof(SSLdefinition), fields, kFieldCount, out, &length);
    auto *def = static_cast<SSLdefinition *>(block);
    // The pass phrase lives on only in the definition.
    plat::wipe_memory(&texts[kPassword][0], texts[kPassword].size());
    plat::wipe_memory(line, sizeof line);
    if (def == nullptr) return nullptr;
    def->length = length;
    def->verifyHostName = verifyHostName;
    RavlinkSSLconfig &c = def->config;
    c.Protocols = out[kProtocols];
    c.KeyType = out[kKeyType];
    c.VerifyPeer = out[kVerifyPeer];
    c.VerifyDepth = out[kVerifyDepth];
    c.CipherList = out[kCipherList];
    c.Password = out[kPassword];
    c.CertFile = out[kCertFile];
    c.KeyFile = out[kKeyFile];
    c.CAfile = out[kCAfile];
    c.CApath = out[kCApath];
    return def;
}
