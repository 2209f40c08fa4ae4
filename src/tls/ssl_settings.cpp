// Building SSLsettings from a caller's record or from the registry. The two sources differ on
// a field that is present but empty: a record's gets the default, the registry's stays empty
// (a number then reads 0).
#include "tls/ssl_settings.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/text.h"

namespace {

// Copies at most 255 characters into a 256-byte field.
void copy_field(char (&field)[256], const char *text) {
    std::size_t n = std::strlen(text);
    if (n > sizeof field - 1) n = sizeof field - 1;
    std::memcpy(field, text, n);
    field[n] = '\0';
}

bool empty(const char *text) { return text == nullptr || text[0] == '\0'; }

// Frees settings that are not used, the pass phrase wiped first.
SSLsettings *discard(SSLsettings *s) {
    volatile char *p = s->password;
    for (std::size_t i = 0; i < sizeof s->password; ++i) p[i] = 0;
    std::free(s);
    return nullptr;
}

} // namespace

SSLsettings *s_SSLsettingsFromConfig(const RavlinkSSLconfig *config) {
    auto *s = static_cast<SSLsettings *>(std::calloc(1, sizeof(SSLsettings)));
    if (s == nullptr) return nullptr;
    s->protocols = empty(config->Protocols) ? kDefaultProtocols : core::decimal_value(config->Protocols);
    s->keyType = empty(config->KeyType) ? kDefaultKeyType : core::decimal_value(config->KeyType);
    s->verifyPeer = empty(config->VerifyPeer) ? kDefaultVerifyPeer : core::decimal_value(config->VerifyPeer);
    s->verifyDepth = empty(config->VerifyDepth) ? kDefaultVerifyDepth : core::decimal_value(config->VerifyDepth);
    copy_field(s->cipherList, empty(config->CipherList) ? core::kDefaultCipherList : config->CipherList);
    if (!empty(config->Password)) copy_field(s->password, config->Password);
    if (!empty(config->CertFile)) copy_field(s->certFile, config->CertFile);
    if (!empty(config->KeyFile)) copy_field(s->keyFile, config->KeyFile);
    if (!empty(config->CAfile)) copy_field(s->caFile, config->CAfile);
    if (!empty(config->CApath)) copy_field(s->caPath, config->CApath);
    return s;
}

SSLsettings *s_SSLsettingsFromRegistry(std::int32_t nameLength, const char *name) {
    if (nameLength < 0 || static_cast<std::size_t>(nameLength) > kMaxConfigName) return nullptr;
    auto *s = static_cast<SSLsettings *>(std::calloc(1, sizeof(SSLsettings)));
    if (s == nullptr) return nullptr;
    std::memcpy(s->name, name, static_cast<std::size_t>(nameLength));
    s->name[nameLength] = '\0';
    s->nameLength = static_cast<std::int32_t>(std::strlen(s->name));

    struct Number {
        const char *valueName;
        std::int32_t *field;
        std::int32_t fallback;
    };
    const Number numbers[] = {{"Protocols", &s->protocols, kDefaultProtocols},
                              {"KeyType", &s->keyType, kDefaultKeyType},
                              {"VerifyPeer", &s->verifyPeer, kDefaultVerifyPeer},
                              {"VerifyDepth", &s->verifyDepth, kDefaultVerifyDepth}};
    // A value of a type that is not read refuses the whole configuration (its error recorded).
    for (const Number &n : numbers) {
        char buffer[256];
        const int read = s_readSSLregValue(s->name, n.valueName, buffer, sizeof buffer);
        if (read < 0) return discard(s);
        *n.field = read > 0 ? core::decimal_value(buffer) : n.fallback;
    }
    const int cipherRead = s_readSSLregValue(s->name, "CipherList", s->cipherList, sizeof s->cipherList);
    if (cipherRead < 0) return discard(s);
    if (cipherRead == 0) copy_field(s->cipherList, core::kDefaultCipherList);

    struct Text {
        const char *valueName;
        char *field;
    };
    const Text texts[] = {{"Password", s->password}, {"CertFile", s->certFile}, {"KeyFile", s->keyFile},
                          {"CAfile", s->caFile}, {"CApath", s->caPath}};
    for (const Text &t : texts) {
        const int read = s_readSSLregValue(s->name, t.valueName, t.field, 256);
        if (read < 0) return discard(s);
        if (read == 0) t.field[0] = '\0';
    }
    char buffer[256];
    const int read = s_readSSLregValue(s->name, "VerifyHostName", buffer, sizeof buffer);
    if (read < 0) return discard(s);
    s->verifyHostName = read > 0 ? core::decimal_value(buffer) : 0;
    return s;
}
