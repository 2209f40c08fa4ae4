// The TLS configuration record of `ravlink connect --level 11`, from the command line.
#pragma once

#include <string>
#include <vector>

#include "options.h"
#include "ravlink.h"

namespace tool {

// --cert, --key, --key-type, --ca-file, --ca-path, --ciphers, --protocols, --verify,
// --verify-depth, and the pass phrase from --pass-env VAR or --pass-file FILE.
std::vector<OptionSpec> tls_record_options();

// The ten texts of the record; a field the options leave out stays null (its default).
class TlsRecord {
public:
    // False with an error text when the pass phrase cannot be read.
    bool load(const Options &options, std::string &error);
    const RavlinkSSLconfig *record() const { return &record_; }

private:
    std::string texts_[10];
    RavlinkSSLconfig record_{};
};

} // namespace tool
