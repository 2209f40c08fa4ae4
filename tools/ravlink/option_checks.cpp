// Refusals of options that cannot be meant.
#include "option_checks.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "login.h"
#include "tls_record.h"

namespace tool {

bool check_port(const std::string &port, bool allowZero, std::string &error) {
    // Anything that reads as a number is one; other texts are service names for the resolver.
    const size_t sign = (!port.empty() && (port[0] == '-' || port[0] == '+')) ? 1 : 0;
    if (port.size() == sign || port.find_first_not_of("0123456789", sign) != std::string::npos) return true;
    errno = 0;
    const long long value = std::strtoll(port.c_str(), nullptr, 10);
    if (errno == 0 && value >= (allowZero ? 0 : 1) && value <= 65535) return true;
    error = "port " + port + " is out of range (" + (allowZero ? "0-65535, 0 for any free port" : "1-65535") + ")";
    return false;
}

bool check_level_options(const Options &o, long level, std::string &error) {
    struct Group {
        std::vector<OptionSpec> options;
        bool applies;
        const char *what;
    };
    const Group groups[] = {
        {tls_record_options(), level == 11, "a TLS option of level 11"},
        {login_options(), level >= 1 && level <= 3, "a Kerberos option of levels 1-3"},
    };
    for (const Group &g : groups) {
        if (g.applies) continue;
        for (const OptionSpec &option : g.options) {
            if (!o.has(option.name)) continue;
            error = std::string(option.name) + " is " + g.what + "; level " + std::to_string(level) +
                    " would not use it";
            return false;
        }
    }
    return true;
}

} // namespace tool
