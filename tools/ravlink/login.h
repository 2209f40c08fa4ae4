// The Kerberos login of `ravlink connect` and `ravlink server`: --user, --authority and the
// password, from an environment variable or a file, never from the command line itself (where
// every user of the machine could read it).
#pragma once

#include <string>
#include <vector>

#include "options.h"

namespace tool {

struct Login {
    std::string user, authority, password;
    bool hasUser = false, hasAuthority = false, hasPassword = false;
    // The texts as the library takes them: null where the option was not given.
    const char *user_or_null() const { return hasUser ? user.c_str() : nullptr; }
    const char *authority_or_null() const { return hasAuthority ? authority.c_str() : nullptr; }
    const char *password_or_null() const { return hasPassword ? password.c_str() : nullptr; }
};

// The four options and their help.
std::vector<OptionSpec> login_options();
// False with an error text when the password's variable or file cannot be read.
bool read_login(const Options &o, Login &login, std::string &error);

} // namespace tool
