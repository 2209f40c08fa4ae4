// `ravlink connect --level 11`: the configuration record from options.
#include "tls_record.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace tool {

namespace {

// The record's fields in their order, with the option that sets each (the pass phrase is read
// from an environment variable or a file instead, so that it shows in no process list).
const char *const kFieldOptions[10] = {"--protocols", "--key-type", "--verify", "--verify-depth", "--ciphers",
                                       nullptr,       "--cert",     "--key",    "--ca-file",      "--ca-path"};
constexpr int kPassword = 5;

} // namespace

std::vector<OptionSpec> tls_record_options() {
    return {
        {"--cert", "FILE", "level 11: client certificate chain (PEM)"},
        {"--key", "FILE", "level 11: client private key (PEM)"},
        {"--key-type", "N", "level 11: 1 a key of any type (default), 2 an RSA key"},
        {"--pass-env", "VAR", "level 11: read the key's pass phrase from environment variable VAR"},
        {"--pass-file", "FILE", "level 11: read the key's pass phrase from the first line of FILE"},
        {"--ca-file", "FILE", "level 11: trusted certification authorities (PEM)"},
        {"--ca-path", "DIR", "level 11: folder of trusted certification authorities"},
        {"--ciphers", "LIST", "level 11: OpenSSL cipher list"},
        {"--protocols", "BITS", "level 11: 2 SSLv3, 4 TLS 1.0, 8 TLS 1.1, 16 TLS 1.2 and later (default 30)"},
        {"--verify", "MODE", "level 11: 1 verify the server (default), 0 do not"},
        {"--verify-depth", "N", "level 11: deepest certificate chain accepted (default 9)"},
    };
}

bool TlsRecord::load(const Options &o, std::string &error) {
    char **fields = reinterpret_cast<char **>(&record_);
    for (int i = 0; i < 10; ++i) {
        fields[i] = nullptr;
        if (kFieldOptions[i] != nullptr && o.has(kFieldOptions[i])) texts_[i] = o.get(kFieldOptions[i]);
        else if (i != kPassword) continue;
        else if (o.has("--pass-env")) {
            const char *value = std::getenv(o.get("--pass-env").c_str());
            if (value == nullptr) {
                error = "the environment variable " + o.get("--pass-env") + " is not set";
                return false;
            }
            texts_[i] = value;
        } else if (o.has("--pass-file")) {
            std::ifstream in(o.get("--pass-file"), std::ios::binary);
            if (!in) {
                error = "cannot read the pass-phrase file " + o.get("--pass-file");
                return false;
            }
            std::getline(in, texts_[i]);
            if (!texts_[i].empty() && texts_[i].back() == '\r') texts_[i].pop_back();
        } else {
            continue;
        }
        fields[i] = &texts_[i][0];
    }
    return true;
}

} // namespace tool
